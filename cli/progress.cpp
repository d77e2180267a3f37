#include "progress.hpp"

#include "printable.hpp"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace byteblend::tool {

namespace {

constexpr std::size_t kBarWidth = 30;
// A bar narrower than this says too little to be worth its room.
constexpr std::size_t kShortestBar = 5;

std::string minutes_and_seconds(double seconds) {
  const auto whole = static_cast<long long>(std::ceil(seconds));
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  return text;
}

} // namespace

std::string progress_text(std::size_t done, std::size_t total, double seconds,
                          std::size_t columns) {
  const std::string count = std::to_string(done) + "/" + std::to_string(total);
  std::string rate_and_time;
  if (done > 0 && seconds > 0) {
    const double rate = static_cast<double>(done) / seconds;
    char figure[32];
    std::snprintf(figure, sizeof figure, "%.1f", rate);
    rate_and_time =
        std::string("  ") + figure + " files/s  " +
        minutes_and_seconds(static_cast<double>(total - done) / rate) + " left";
  }
  // The last column stays free: writing into it makes some terminals wrap.
  const std::size_t room = columns > 0 ? columns - 1 : 0;
  std::string short_tail = "]  ";
  short_tail += count;
  const std::string long_tail = short_tail + rate_and_time;
  for (const std::string &tail : {long_tail, short_tail}) {
    const std::size_t used = 1 + tail.size();
    if (used + kShortestBar > room) {
      continue;
    }
    const std::size_t width = std::min(kBarWidth, room - used);
    const std::size_t filled = total == 0 ? width : done * width / total;
    // Appended piece by piece: g++ 12 warns falsely (-Wrestrict) about a
    // chain of + on temporaries here.
    std::string text(1, '[');
    text.append(filled, '#');
    text.append(width - filled, '.');
    text.append(tail);
    return text;
  }
  return count.substr(0, room);
}

namespace {

// The width of the terminal behind `stream`, or 80 when it does not say.
std::size_t columns_of(std::FILE *stream) {
  winsize size{};
  if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    return size.ws_col;
  }
  return 80;
}

bool terminal_can_erase() {
  const char *term = std::getenv("TERM");
  return term == nullptr || std::strcmp(term, "dumb") != 0;
}

} // namespace

Progress::Progress(std::FILE *stream, bool show_bar, std::size_t total)
    : stream_(stream), show_bar_(show_bar), total_(total),
      can_erase_(terminal_can_erase()),
      start_(std::chrono::steady_clock::now()) {
  const std::lock_guard lock(mutex_);
  draw_locked();
}

void Progress::report(const std::string &line) {
  const std::lock_guard lock(mutex_);
  clear_locked();
  std::fprintf(stream_, "%s\n", printable(line).c_str());
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
  std::fprintf(stream_, "%s\n", printable(line).c_str());
  std::fflush(stream_);
}

void Progress::draw_locked() {
  if (!show_bar_) {
    return;
  }
  const std::chrono::duration<double> elapsed =
      std::chrono::steady_clock::now() - start_;
  const std::string text =
      progress_text(done_, total_, elapsed.count(), columns_of(stream_));
  if (can_erase_) {
    std::fprintf(stream_, "\r%s\033[K", text.c_str());
  } else {
    // Spaces over whatever of the last bar this one does not cover.
    const std::size_t pad = drawn_ > text.size() ? drawn_ - text.size() : 0;
    std::fprintf(stream_, "\r%s%*s", text.c_str(), static_cast<int>(pad), "");
  }
  drawn_ = text.size();
  std::fflush(stream_);
}

void Progress::clear_locked() {
  if (!show_bar_) {
    return;
  }
  if (can_erase_) {
    std::fprintf(stream_, "\r\033[K");
  } else {
    std::fprintf(stream_, "\r%*s\r", static_cast<int>(drawn_), "");
  }
  drawn_ = 0;
}

} // namespace byteblend::tool
