#pragma once
// An owned POSIX file descriptor, and reads and writes that resume after interruptions and
// partial transfers, for the sources that talk to the system through descriptors (never the
// Windows build: it has its own *_windows.cpp files).
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>

namespace mirava::platform::posix {

// Closes its descriptor when it goes; -1 when it holds none.
class UniqueFd {
 public:
  UniqueFd() noexcept = default;
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
      Reset(other.Release());
    }
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int Get() const noexcept { return fd_; }
  bool Valid() const noexcept { return fd_ >= 0; }

  // Gives the descriptor up without closing it.
  int Release() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

  void Reset(int fd = -1) noexcept {
    if (fd_ >= 0) {
      ::close(fd_);
    }
    fd_ = fd;
  }

  // Closes now, for callers that report a failed close (the last chance to hear of a failed
  // write): 0, or the errno of the refusal. The descriptor is gone either way.
  int Close() noexcept {
    const int fd = Release();
    if (fd >= 0 && ::close(fd) != 0) {
      return errno;
    }
    return 0;
  }

 private:
  int fd_ = -1;
};

// open(2), tried again when a signal interrupts it; an empty UniqueFd with errno set when the
// system refuses.
inline UniqueFd Open(const char* path, int flags, mode_t mode = 0) {
  for (;;) {
    const int fd = ::open(path, flags, mode);
    if (fd >= 0 || errno != EINTR) {
      return UniqueFd(fd);
    }
  }
}

// One read(2) of up to `size` bytes, tried again when interrupted: the count (0 at the end), or
// -1 with errno set.
inline ssize_t ReadSome(int fd, char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t count = ::read(fd, buffer, size);
    if (count >= 0 || errno != EINTR) {
      return count;
    }
  }
}

// Appends everything up to the end of the file to `bytes`. Returns 0, or the errno of the
// refusal (what was read before it stays in `bytes`).
inline int ReadAll(int fd, std::string& bytes) {
  char buffer[16384];
  for (;;) {
    const ssize_t count = ReadSome(fd, buffer, sizeof buffer);
    if (count < 0) {
      return errno;
    }
    if (count == 0) {
      return 0;
    }
    bytes.append(buffer, static_cast<std::size_t>(count));
  }
}

namespace detail {

// Calls write_some(data, size, done) until every byte is taken; done counts the bytes taken
// before. Returns 0, or the errno of the refusal; a write that takes nothing counts as EIO
// rather than a reason to try forever.
template <typename WriteSome>
int WriteEvery(std::string_view bytes, WriteSome write_some) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = write_some(bytes.data() + done, bytes.size() - done, done);
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return errno;
    }
    if (written == 0) {
      return EIO;
    }
    done += static_cast<std::size_t>(written);
  }
  return 0;
}

}  // namespace detail

// Hands every byte to the system. Returns 0, or the errno of the refusal.
inline int WriteAll(int fd, std::string_view bytes) {
  return detail::WriteEvery(bytes, [fd](const char* data, std::size_t size, std::size_t) {
    return ::write(fd, data, size);
  });
}

// Reads `size` bytes at `offset` without moving the file position, stopping early only at the
// end of the file: the count, or -1 with errno set.
inline ssize_t ReadFullyAt(int fd, char* buffer, std::size_t size, off_t offset) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t count =
        ::pread(fd, buffer + done, size - done, offset + static_cast<off_t>(done));
    if (count < 0) {
      if (errno == EINTR) {
        continue;
      }
      return -1;
    }
    if (count == 0) {
      break;
    }
    done += static_cast<std::size_t>(count);
  }
  return static_cast<ssize_t>(done);
}

// Writes every byte at `offset` without moving the file position. Returns 0, or the errno of
// the refusal.
inline int WriteAllAt(int fd, std::string_view bytes, off_t offset) {
  return detail::WriteEvery(bytes,
                            [fd, offset](const char* data, std::size_t size, std::size_t done) {
                              return ::pwrite(fd, data, size, offset + static_cast<off_t>(done));
                            });
}

}  // namespace mirava::platform::posix
