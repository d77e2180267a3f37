#include "file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>
#include <system_error>

#include "temporary_files.hpp"

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

namespace {

// The descriptor that a name stands for: "-" is standard output, and the
// names under /dev and /proc of the process's own open descriptors.
std::optional<int> descriptor_named_by(const std::filesystem::path &path) {
  if (path.native() == "-") { // as given: "./-" is a file
    return STDOUT_FILENO;
  }
  const std::string name = path.lexically_normal().string();
  if (name == "/dev/stdout") {
    return STDOUT_FILENO;
  }
  if (name == "/dev/stderr") {
    return STDERR_FILENO;
  }
  const std::string own = "/proc/" + std::to_string(::getpid()) + "/fd/";
  for (const std::string &folder :
       {std::string("/dev/fd/"), std::string("/proc/self/fd/"),
        std::string("/proc/thread-self/fd/"), own}) {
    if (name.size() > folder.size() &&
        name.compare(0, folder.size(), folder) == 0) {
      const std::string number = name.substr(folder.size());
      int fd = -1;
      const char *end = number.data() + number.size();
      const auto [stop, error] = std::from_chars(number.data(), end, fd);
      if (error == std::errc() && stop == end && fd >= 0) {
        return fd;
      }
    }
  }
  return std::nullopt;
}

// Where bytes for a path go: an open descriptor, or the file at the end of
// its links.
struct Destination {
  std::filesystem::path file;
  std::optional<int> descriptor;
};

// Links a chain may take, as the kernel allows (ELOOP beyond).
constexpr int kMaxLinks = 40;

// Sets `error` (ELOOP, or readlink's) when the links cannot be followed.
Destination destination_of(std::filesystem::path path, int &error) {
  error = 0;
  for (int links = 0;; ++links) {
    if (const auto fd = descriptor_named_by(path)) {
      return {path, fd};
    }
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
      return {path, std::nullopt};
    }
    if (links == kMaxLinks) {
      error = ELOOP;
      return {path, std::nullopt};
    }
    std::string target(PATH_MAX, '\0');
    const ssize_t length =
        ::readlink(path.c_str(), target.data(), target.size());
    if (length < 0) {
      error = errno;
      return {path, std::nullopt};
    }
    target.resize(static_cast<std::size_t>(length));
    // A relative target is found from the link's own folder.
    path = std::filesystem::path(target).is_absolute()
               ? std::filesystem::path(target)
               : path.parent_path() / target;
  }
}

Destination destination_of(const std::filesystem::path &path) {
  int error = 0;
  Destination destination = destination_of(path, error);
  if (error != 0) {
    throw std::runtime_error("cannot write: " + reason(error));
  }
  return destination;
}

void write_descriptor(int fd, std::span<const std::uint8_t> bytes) {
  const int error = write_all(fd, bytes);
  if (error != 0) {
    throw std::runtime_error("cannot write: " + reason(error));
  }
}

// Gives a replacing file the owner, group and mode of the file it replaces.
// Only root may give a file away, and only to a group of the writer's may a
// group be given: a writer who may not keeps the file as its own (EPERM).
int keep_owner_and_mode(int fd, const struct stat &existing) {
  if (::fchown(fd, existing.st_uid, existing.st_gid) != 0) {
    if (errno != EPERM) {
      return errno;
    }
    if (::fchown(fd, static_cast<uid_t>(-1), existing.st_gid) != 0 &&
        errno != EPERM) {
      return errno;
    }
  }
  // After fchown, which clears the set-user-ID and set-group-ID bits.
  return ::fchmod(fd, existing.st_mode & 07777) == 0 ? 0 : errno;
}

} // namespace

void create_folder(const std::filesystem::path &folder,
                   std::error_code &error) {
  int number = 0;
  const Destination destination = destination_of(folder, number);
  error = std::error_code(number, std::generic_category());
  if (!error) {
    std::filesystem::create_directories(destination.file, error);
  }
}

bool writes_directly(const std::filesystem::path &path) {
  int error = 0;
  const Destination destination = destination_of(path, error);
  struct stat status {};
  return destination.descriptor ||
         (::stat(destination.file.c_str(), &status) == 0 &&
          !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode));
}

std::optional<FileIdentity> identity_of(const std::filesystem::path &path) {
  struct stat status {};
  const auto fd = descriptor_named_by(path);
  if (fd ? ::fstat(*fd, &status) != 0 : ::stat(path.c_str(), &status) != 0) {
    return std::nullopt;
  }
  return FileIdentity{status.st_dev, status.st_ino};
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
  const Destination destination = destination_of(path);
  if (destination.descriptor) {
    // A descriptor the tool was given: written as it is, never replaced.
    write_descriptor(*destination.descriptor, bytes);
    return;
  }
  const std::filesystem::path &target = destination.file;
  struct stat existing {};
  const bool exists = ::stat(target.c_str(), &existing) == 0;
  if (exists && S_ISDIR(existing.st_mode)) {
    throw std::runtime_error("cannot write: is a folder");
  }
  if (exists && !S_ISREG(existing.st_mode)) {
    Descriptor device(::open(target.c_str(), O_WRONLY | O_CLOEXEC));
    if (device.get() < 0) {
      throw std::runtime_error("cannot write: " + reason(errno));
    }
    write_descriptor(device.get(), bytes);
    const int error = device.close();
    if (error != 0) {
      throw std::runtime_error("cannot write: " + reason(error));
    }
    return;
  }

  const std::filesystem::path folder = target.has_parent_path()
                                           ? target.parent_path()
                                           : std::filesystem::path(".");
  struct stat folder_status {};
  if (::stat(folder.c_str(), &folder_status) != 0) {
    throw std::runtime_error("cannot write: folder " + folder.string() + ": " +
                             reason(errno));
  }
  if (!S_ISDIR(folder_status.st_mode)) {
    throw std::runtime_error("cannot write: " + folder.string() +
                             " is not a folder");
  }
  std::string temporary;
  // A new file gets 0666 less the umask from the kernel; a replaced one
  // keeps its own.
  Descriptor file(create_temporary(folder, temporary));
  if (file.get() < 0) {
    throw std::runtime_error("cannot write in folder " + folder.string() +
                             ": " + reason(errno));
  }
  int error = exists ? keep_owner_and_mode(file.get(), existing) : 0;
  if (error == 0) {
    error = write_all(file.get(), bytes);
  }
  if (error == 0 && ::fsync(file.get()) != 0) {
    error = errno;
  }
  if (error == 0) {
    error = file.close();
  }
  if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    ::unlink(temporary.c_str());
  }
  forget_temporary(temporary);
  if (error != 0) {
    throw std::runtime_error("cannot write: " + reason(error));
  }
}

} // namespace byteblend::tool
