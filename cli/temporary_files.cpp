#include "temporary_files.hpp"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace byteblend::tool {
namespace {

// The temporary files that exist now. The signal thread takes the lock and
// keeps it until the process ends, so no file is made after it looked.
std::mutex registry_lock;
std::vector<std::string> registry;

constexpr std::array kEndingSignals = {SIGINT, SIGTERM, SIGHUP};
// Sent by the tool to its own watcher thread, never by anyone else.
const int kStopWatching = SIGRTMIN;

// The watcher and the signals it waits for.
std::thread watcher;
sigset_t ending;

// Six letters or digits, different in every call.
std::string random_letters() {
  constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::array<std::uint8_t, 6> bytes{};
  if (::getrandom(bytes.data(), bytes.size(), GRND_NONBLOCK) !=
      static_cast<ssize_t>(bytes.size())) {
    // No random source: the clock and a count still differ between calls,
    // and O_EXCL catches the rest.
    static std::atomic<std::uint64_t> count{0};
    std::uint64_t seed =
        static_cast<std::uint64_t>(
            std::chrono::steady_clock::now().time_since_epoch().count()) ^
        (count++ * 0x9E3779B97F4A7C15U) ^
        static_cast<std::uint64_t>(::getpid());
    for (std::uint8_t &byte : bytes) {
      byte = static_cast<std::uint8_t>(seed);
      seed = seed * 6364136223846793005U + 1442695040888963407U;
      seed ^= seed >> 29;
    }
  }
  std::string letters;
  for (const std::uint8_t byte : bytes) {
    letters += kAlphabet[byte % kAlphabet.size()];
  }
  return letters;
}

[[noreturn]] void remove_all_and_end(int signal) {
  registry_lock.lock(); // never unlocked: the process ends here
  for (const std::string &name : registry) {
    ::unlink(name.c_str());
  }
  // End by the signal itself, so that the parent sees what happened.
  std::signal(signal, SIG_DFL);
  sigset_t only{};
  sigemptyset(&only);
  sigaddset(&only, signal);
  pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  std::raise(signal);
  // Only if the signal did not end the process, which it does.
  // cppcheck-suppress unreachableCode
  std::_Exit(128 + signal);
}

} // namespace

TemporariesRemovedOnSignals::TemporariesRemovedOnSignals() {
  sigemptyset(&ending);
  for (const int signal : kEndingSignals) {
    struct sigaction current {};
    // A signal ignored by whoever started the tool (nohup, a background
    // job's SIGINT) stays ignored.
    if (sigaction(signal, nullptr, &current) == 0 &&
        current.sa_handler != SIG_IGN) {
      sigaddset(&ending, signal);
    }
  }
  sigset_t waited = ending;
  sigaddset(&waited, kStopWatching);
  pthread_sigmask(SIG_BLOCK, &waited, nullptr);
  try {
    watcher = std::thread([waited] {
      for (;;) {
        int signal = 0;
        if (sigwait(&waited, &signal) != 0) {
          continue;
        }
        if (signal == kStopWatching) {
          return;
        }
        remove_all_and_end(signal);
      }
    });
  } catch (const std::system_error &) {
    pthread_sigmask(SIG_UNBLOCK, &waited, nullptr);
  }
}

TemporariesRemovedOnSignals::~TemporariesRemovedOnSignals() {
  if (!watcher.joinable()) {
    return;
  }
  // A signal the watcher took first ends the process while this waits.
  pthread_kill(watcher.native_handle(), kStopWatching);
  watcher.join();
  sigset_t waited = ending;
  sigaddset(&waited, kStopWatching);
  // One that came since is delivered now.
  pthread_sigmask(SIG_UNBLOCK, &waited, nullptr);
}

int create_temporary(const std::filesystem::path &folder, std::string &name) {
  const std::lock_guard<std::mutex> lock(registry_lock);
  for (int attempt = 0; attempt < 100; ++attempt) {
    name = (folder / (".byteblend-" + random_letters())).string();
    // The kernel applies the umask to 0666: nothing process-wide changes.
    const int fd =
        ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      registry.push_back(name);
      return fd;
    }
    if (errno != EEXIST) {
      return -1;
    }
  }
  errno = EEXIST;
  return -1;
}

void forget_temporary(const std::string &name) {
  const std::lock_guard<std::mutex> lock(registry_lock);
  const auto found = std::find(registry.begin(), registry.end(), name);
  if (found != registry.end()) {
    registry.erase(found);
  }
}

} // namespace byteblend::tool
