#include "platform/file_access.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <system_error>
#include <utility>

#include "platform/failure_texts.h"
#include "platform/posix_io.h"

namespace mirava::platform {

namespace {

FileError SystemError(const std::string& path, int error) {
  return FileError(path, SystemErrorText(error));
}

class ResultsFileSink : public IByteSink {
 public:
  ResultsFileSink(std::string path, posix::UniqueFd file, off_t size = 0)
      : path_(std::move(path)), file_(std::move(file)), size_(size) {}

  void Write(std::string_view bytes) override {
    if (!file_.Valid()) {
      throw SystemError(path_, EBADF);
    }
    const int error = posix::WriteAll(file_.Get(), bytes);
    if (error != 0) {
      // Take back a partly written piece so the file still ends with the last whole line.
      if (::ftruncate(file_.Get(), size_) == 0) {
        ::lseek(file_.Get(), size_, SEEK_SET);
      }
      throw SystemError(path_, error);
    }
    size_ += static_cast<off_t>(bytes.size());
  }

  void Sync() override {
    if (file_.Valid() && ::fdatasync(file_.Get()) != 0) {
      throw SystemError(path_, errno);
    }
  }

  void Close() override {
    // Closing drops the lock as well.
    const int error = file_.Close();
    if (error != 0 && error != EINTR) {
      throw SystemError(path_, error);
    }
  }

 private:
  std::string path_;
  posix::UniqueFd file_;
  off_t size_ = 0;
};

}  // namespace

std::unique_ptr<IByteSink> CreateResultsSink(const std::string& path) {
  // Opened without truncation: a second writer must find the lock before it may empty the file.
  posix::UniqueFd file = posix::Open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (!file.Valid()) {
    throw SystemError(path, errno);
  }
  if (::flock(file.Get(), LOCK_EX | LOCK_NB) != 0 || ::ftruncate(file.Get(), 0) != 0) {
    throw SystemError(path, errno);
  }
  return std::make_unique<ResultsFileSink>(path, std::move(file));
}

std::unique_ptr<IByteSink> OpenSinkForAppend(const std::string& path, std::uint64_t keep_size) {
  posix::UniqueFd file = posix::Open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (!file.Valid()) {
    throw SystemError(path, errno);
  }
  const auto size = static_cast<off_t>(keep_size);
  if (::flock(file.Get(), LOCK_EX | LOCK_NB) != 0 || ::ftruncate(file.Get(), size) != 0 ||
      ::lseek(file.Get(), size, SEEK_SET) < 0) {
    throw SystemError(path, errno);
  }
  return std::make_unique<ResultsFileSink>(path, std::move(file), size);
}

std::optional<std::string> ReadFileIfPresent(const std::string& path) {
  // O_NONBLOCK: a FIFO in the file's place must not hang the caller.
  const posix::UniqueFd file = posix::Open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (!file.Valid()) {
    if (errno == ENOENT || errno == ENOTDIR) {
      return std::nullopt;
    }
    throw SystemError(path, errno);
  }
  struct stat status {};
  if (fstat(file.Get(), &status) == 0 && S_ISDIR(status.st_mode)) {
    return std::nullopt;
  }
  std::string contents;
  if (const int error = posix::ReadAll(file.Get(), contents); error != 0) {
    throw SystemError(path, error);
  }
  return contents;
}

void ReplaceFileContents(const std::string& path, std::string_view bytes) {
  posix::UniqueFd file = posix::Open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (!file.Valid()) {
    throw SystemError(path, errno);
  }
  int error = posix::WriteAll(file.Get(), bytes);
  const int close_error = file.Close();
  if (error == 0 && close_error != EINTR) {
    error = close_error;
  }
  if (error != 0) {
    throw SystemError(path, error);
  }
}

InputFile::InputFile(const std::string& path) : path_(path) {
  posix::UniqueFd file = posix::Open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (!file.Valid()) {
    throw SystemError(path, errno);
  }
  handle_ = file.Release();
}

InputFile::~InputFile() {
  ::close(static_cast<int>(handle_));
}

std::size_t InputFile::Read(char* buffer, std::size_t size) {
  const ssize_t got = posix::ReadSome(static_cast<int>(handle_), buffer, size);
  if (got < 0) {
    throw SystemError(path_, errno);
  }
  return static_cast<std::size_t>(got);
}

bool CreateNewFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0) {
    ::close(fd);
    return true;
  }
  if (errno != EEXIST) {
    throw SystemError(path, errno);
  }
  return false;
}

void MoveReplacing(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) {
    throw SystemError(to, errno);
  }
}

void WriteFileAtomically(const std::string& path, std::string_view bytes) {
  const std::string temporary = path + ".tmp";
  posix::UniqueFd file =
      posix::Open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (!file.Valid()) {
    throw SystemError(path, errno);
  }
  int error = posix::WriteAll(file.Get(), bytes);
  const int close_error = file.Close();
  if (error == 0) {
    error = close_error;
  }
  if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    ::unlink(temporary.c_str());
    throw SystemError(path, error);
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

}  // namespace mirava::platform
