// SPDX-License-Identifier: MIT
// The tool's temporary files (an OUT being written), and their removal when
// the process is told to end by SIGINT, SIGTERM or SIGHUP.
#ifndef BYTEBLEND_CLI_TEMPORARY_FILES_HPP
#define BYTEBLEND_CLI_TEMPORARY_FILES_HPP

#include <filesystem>
#include <string>

namespace byteblend::tool {

// While one lives, SIGINT, SIGTERM and SIGHUP (those not ignored) remove
// every temporary file still registered and then end the process by that
// signal (status 128 + signal). They are blocked in the creating thread,
// and so in every thread it starts afterwards, and one thread of its own
// waits for them: make one first in main, before any other thread starts.
// Once it is gone they act as usual again, and one that came meanwhile
// ends the process then. If its thread cannot start, the signals act as
// usual throughout (and end the process at once).
class TemporariesRemovedOnSignals {
public:
  TemporariesRemovedOnSignals();
  ~TemporariesRemovedOnSignals();
  TemporariesRemovedOnSignals(const TemporariesRemovedOnSignals &) = delete;
  TemporariesRemovedOnSignals &
  operator=(const TemporariesRemovedOnSignals &) = delete;
};

// Creates a new empty file ".byteblend-XXXXXX" (six random letters or
// digits) in `folder`, with mode 0666 less the umask, and registers it for
// removal on a signal. Returns its descriptor (close-on-exec) and sets
// `name` to its path; -1 with errno set on failure.
int create_temporary(const std::filesystem::path &folder, std::string &name);

// Unregisters a temporary file once it is renamed or removed.
void forget_temporary(const std::string &name);

} // namespace byteblend::tool

#endif
