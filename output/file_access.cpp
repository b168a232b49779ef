#include "output/file_access.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>

#include "output/failure_texts.h"
#include "output/results_file.h"

namespace mirava::output {

namespace {

std::runtime_error SystemError(const std::string& path, int error) {
  return std::runtime_error(path + ": " + SystemErrorText(error));
}

FileSystemError Refusal(int error) {
  return FileSystemError(SystemErrorText(error));
}

// Hands every byte to the system, resuming after partial writes and interruptions.
// Returns 0 on success, otherwise the errno of the refusal.
int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    if (written == 0) {
      return EIO;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return 0;
}

class ResultsFileSink : public IByteSink {
 public:
  ResultsFileSink(std::string path, int fd, off_t size = 0)
      : path_(std::move(path)), fd_(fd), size_(size) {}
  ~ResultsFileSink() override {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }

  void Write(std::string_view bytes) override {
    if (fd_ < 0) {
      throw std::runtime_error(path_ + ": " + std::strerror(EBADF));
    }
    const int error = WriteAll(fd_, bytes);
    if (error != 0) {
      // Take back a partly written piece so the file still ends with the last whole line.
      if (::ftruncate(fd_, size_) == 0) {
        ::lseek(fd_, size_, SEEK_SET);
      }
      throw SystemError(path_, error);
    }
    size_ += static_cast<off_t>(bytes.size());
  }

  void Sync() override {
    if (fd_ >= 0 && ::fdatasync(fd_) != 0) {
      throw SystemError(path_, errno);
    }
  }

  void Close() override {
    if (fd_ < 0) {
      return;
    }
    const int fd = fd_;
    fd_ = -1;
    // Closing drops the lock as well.
    if (::close(fd) != 0 && errno != EINTR) {
      throw SystemError(path_, errno);
    }
  }

 private:
  std::string path_;
  int fd_;
  off_t size_;
};

}  // namespace

std::unique_ptr<IByteSink> CreateResultsSink(const std::string& path) {
  // Opened without truncation: a second writer must find the lock before it may empty the file.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    throw SystemError(path, errno);
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0) {
    const int error = errno;
    ::close(fd);
    throw SystemError(path, error);
  }
  return std::make_unique<ResultsFileSink>(path, fd);
}

std::unique_ptr<IByteSink> OpenSinkForAppend(const std::string& path, std::uint64_t keep_size) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    throw SystemError(path, errno);
  }
  const auto size = static_cast<off_t>(keep_size);
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, size) != 0 ||
      ::lseek(fd, size, SEEK_SET) < 0) {
    const int error = errno;
    ::close(fd);
    throw SystemError(path, error);
  }
  return std::make_unique<ResultsFileSink>(path, fd, size);
}

std::optional<std::string> ReadFileIfPresent(const std::string& path) {
  int fd;
  do {
    // O_NONBLOCK: a FIFO in the file's place must not hang the caller.
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return std::nullopt;
    }
    throw SystemError(path, errno);
  }
  struct stat status {};
  if (fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
    close(fd);
    return std::nullopt;
  }
  std::string contents;
  char buffer[16384];
  for (;;) {
    const ssize_t count = read(fd, buffer, sizeof buffer);
    if (count > 0) {
      contents.append(buffer, static_cast<std::size_t>(count));
    } else if (count == 0) {
      break;
    } else if (errno != EINTR) {
      const int error = errno;
      close(fd);
      throw SystemError(path, error);
    }
  }
  close(fd);
  return contents;
}

void ReplaceFileContents(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    throw SystemError(path, errno);
  }
  int error = WriteAll(fd, bytes);
  if (::close(fd) != 0 && error == 0 && errno != EINTR) {
    error = errno;
  }
  if (error != 0) {
    throw SystemError(path, error);
  }
}

InputFile::InputFile(const std::string& path) {
  int fd;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    throw Refusal(errno);
  }
  handle_ = fd;
}

InputFile::~InputFile() {
  ::close(static_cast<int>(handle_));
}

std::size_t InputFile::Read(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t got = ::read(static_cast<int>(handle_), buffer, size);
    if (got >= 0) {
      return static_cast<std::size_t>(got);
    }
    if (errno != EINTR) {
      throw Refusal(errno);
    }
  }
}

bool CreateNewFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0) {
    ::close(fd);
    return true;
  }
  if (errno != EEXIST) {
    throw Refusal(errno);
  }
  return false;
}

void MoveReplacing(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    throw Refusal(errno);
  }
}

void RemoveFileQuietly(const std::string& path) noexcept {
  ::unlink(path.c_str());
}

unsigned long CurrentProcessNumber() noexcept {
  return static_cast<unsigned long>(::getpid());
}

bool NameTaken(const std::string& path) noexcept {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0;
}

}  // namespace mirava::output
