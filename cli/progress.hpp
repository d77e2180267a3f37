// SPDX-License-Identifier: MIT
// The progress bar of a folder run, on a terminal only: one line, redrawn in
// place, that failure lines scroll above.
#ifndef BYTEBLEND_CLI_PROGRESS_HPP
#define BYTEBLEND_CLI_PROGRESS_HPP

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <mutex>
#include <string>

namespace byteblend::tool {

// The bar's text for `done` of `total` files after `seconds`:
// "[#######.............]  7/20  3.5 files/s  0:04 left". The rate and the
// time left appear once a file is done. The text is shorter than `columns`,
// so that a terminal of that width never wraps it onto a new line: a narrow
// one gets a shorter bar, then no rate and time left, then the count alone.
std::string progress_text(std::size_t done, std::size_t total, double seconds,
                          std::size_t columns = 80);

// Reports to a stream from any number of threads: lines always, the bar
// only when `show_bar` (the stream is a terminal). The bar fits the
// terminal's width at each redraw; on a terminal that TERM calls "dumb" it
// is erased with spaces rather than an escape sequence.
class Progress {
public:
  Progress(std::FILE *stream, bool show_bar, std::size_t total);

  // Prints a line (a failure), above the bar.
  void report(const std::string &line);
  // Counts one more file done and redraws the bar.
  void advance();
  // Removes the bar and prints the last line.
  void finish(const std::string &line);

private:
  void draw_locked();
  void clear_locked();

  std::mutex mutex_;
  std::FILE *stream_;
  bool show_bar_;
  std::size_t total_;
  bool can_erase_;
  std::size_t done_ = 0;
  std::size_t drawn_ = 0; // length of the bar on screen
  std::chrono::steady_clock::time_point start_;
};

} // namespace byteblend::tool

#endif
