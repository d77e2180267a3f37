#include "file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace byteblend::tool {
namespace {

// strerror_r rather than strerror: folder runs read and write files on
// several threads at once. (The GNU form, which returns the text.)
std::string reason(int error) {
  char text[256];
  return ::strerror_r(error, text, sizeof text);
}

// Closes a descriptor once.
class Descriptor {
public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  ~Descriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  [[nodiscard]] int get() const { return fd_; }
  // The error of close(), or 0.
  int close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0 ? 0 : errno;
  }

private:
  int fd_;
};

// The error of the first failing write, or 0.
int write_all(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return 0;
}

} // namespace

FileSource::FileSource(const std::filesystem::path &path)
    : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
  if (fd_ < 0) {
    throw std::runtime_error(read_failure(errno));
  }
  struct stat status {};
  if (::fstat(fd_, &status) == 0 && S_ISREG(status.st_mode)) {
    size_ = static_cast<std::uint64_t>(status.st_size);
  }
}

FileSource::~FileSource() { ::close(fd_); }

std::size_t FileSource::pull(std::span<std::uint8_t> into) noexcept {
  for (;;) {
    const ssize_t got = ::read(fd_, into.data(), into.size());
    if (got >= 0) {
      return static_cast<std::size_t>(got);
    }
    if (errno != EINTR) {
      error_ = errno;
      return 0;
    }
  }
}

std::string read_failure(int error) { return "cannot read: " + reason(error); }

void write_file(const std::filesystem::path &path,
                std::span<const std::uint8_t> bytes) {
  struct stat existing {};
  const bool exists = ::stat(path.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) {
    throw std::runtime_error("cannot write: is a folder");
  }
  if (exists && !S_ISREG(existing.st_mode)) {
    Descriptor device(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (device.get() < 0) {
      throw std::runtime_error("cannot write: " + reason(errno));
    }
    int error = write_all(device.get(), bytes);
    if (error == 0) {
      error = device.close();
    }
    if (error != 0) {
      throw std::runtime_error("cannot write: " + reason(error));
    }
    return;
  }

  const std::filesystem::path folder =
      path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
  struct stat folder_status {};
  if (::stat(folder.c_str(), &folder_status) != 0) {
    throw std::runtime_error("cannot write: folder " + folder.string() + ": " +
                             reason(errno));
  }
  if (!S_ISDIR(folder_status.st_mode)) {
    throw std::runtime_error("cannot write: " + folder.string() +
                             " is not a folder");
  }
  std::string temporary = (folder / ".byteblend-XXXXXX").string();
  Descriptor file(::mkostemp(temporary.data(), O_CLOEXEC));
  if (file.get() < 0) {
    throw std::runtime_error("cannot write in folder " + folder.string() +
                             ": " + reason(errno));
  }
  // A new file gets the usual permissions; a replaced one keeps its own.
  mode_t mode = 0;
  if (exists) {
    mode = existing.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  int error = ::fchmod(file.get(), mode) == 0 ? 0 : errno;
  if (error == 0) {
    error = write_all(file.get(), bytes);
  }
  if (error == 0 && ::fsync(file.get()) != 0) {
    error = errno;
  }
  if (error == 0) {
    error = file.close();
  }
  if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    ::unlink(temporary.c_str());
    throw std::runtime_error("cannot write: " + reason(error));
  }
}

} // namespace byteblend::tool
