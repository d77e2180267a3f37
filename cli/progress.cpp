#include "progress.hpp"

#include <cmath>

namespace byteblend::tool {

namespace {

constexpr std::size_t kBarWidth = 30;

std::string minutes_and_seconds(double seconds) {
  const auto whole = static_cast<long long>(std::ceil(seconds));
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  return text;
}

} // namespace

std::string progress_text(std::size_t done, std::size_t total, double seconds) {
  const std::size_t filled = total == 0 ? kBarWidth : done * kBarWidth / total;
  // Appended piece by piece: g++ 12 warns falsely (-Wrestrict) about a
  // chain of + on temporaries here.
  std::string text(1, '[');
  text.append(filled, '#');
  text.append(kBarWidth - filled, '.');
  text.append("]  ");
  text.append(std::to_string(done));
  text.append(1, '/');
  text.append(std::to_string(total));
  if (done > 0 && seconds > 0) {
    const double rate = static_cast<double>(done) / seconds;
    char figure[32];
    std::snprintf(figure, sizeof figure, "%.1f", rate);
    text += std::string("  ") + figure + " files/s  " +
            minutes_and_seconds(static_cast<double>(total - done) / rate) +
            " left";
  }
  return text;
}

Progress::Progress(std::FILE *stream, bool show_bar, std::size_t total)
    : stream_(stream), show_bar_(show_bar), total_(total),
      start_(std::chrono::steady_clock::now()) {
  const std::lock_guard lock(mutex_);
  draw_locked();
}

void Progress::report(const std::string &line) {
  const std::lock_guard lock(mutex_);
  clear_locked();
  std::fprintf(stream_, "%s\n", line.c_str());
  draw_locked();
}

void Progress::advance() {
  const std::lock_guard lock(mutex_);
  ++done_;
  draw_locked();
}

void Progress::finish(const std::string &line) {
  const std::lock_guard lock(mutex_);
  clear_locked();
  std::fprintf(stream_, "%s\n", line.c_str());
  std::fflush(stream_);
}

void Progress::draw_locked() {
  if (!show_bar_) {
    return;
  }
  const std::chrono::duration<double> elapsed =
      std::chrono::steady_clock::now() - start_;
  std::fprintf(stream_, "\r%s\033[K",
               progress_text(done_, total_, elapsed.count()).c_str());
  std::fflush(stream_);
}

void Progress::clear_locked() {
  if (show_bar_) {
    std::fprintf(stream_, "\r\033[K");
  }
}

} // namespace byteblend::tool
