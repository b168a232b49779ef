#include "engine/platform/named_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <utility>

#include "engine/platform/shared_request_record.h"

namespace mirava::engine::platform {

namespace {

// O_NOFOLLOW: in a shared folder such as /tmp a planted link must not redirect the file.
int OpenLockFile(const std::string& path) {
  for (;;) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd >= 0) {
      return fd;
    }
    if (errno != EINTR) {
      throw std::system_error(errno, std::generic_category(), path);
    }
  }
}

}  // namespace

std::string NamedLockPath(const std::string& name) {
  const char* runtime_dir = std::getenv("XDG_RUNTIME_DIR");
  if (runtime_dir != nullptr && runtime_dir[0] != '\0') {
    std::string folder = runtime_dir;
    if (folder.back() != '/') {
      folder += '/';
    }
    return folder + name + ".lock";
  }
  // /tmp is shared by all users; the user id keeps one user's lock apart from another's.
  return "/tmp/" + name + "-" + std::to_string(getuid()) + ".lock";
}

NamedLock::NamedLock(const std::string& name) : NamedLock(PathTag{}, NamedLockPath(name)) {}

NamedLock NamedLock::AtPath(const std::string& path) {
  return NamedLock(PathTag{}, path);
}

NamedLock::NamedLock(PathTag, std::string path) : path_(std::move(path)) {
  // Creating the file now makes a refusal show at set-up, not at the first request.
  close(OpenLockFile(path_));
}

NamedLock::Holding::Holding(const NamedLock& lock) : fd_(OpenLockFile(lock.Path())) {
  while (flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) {
      const int error = errno;
      close(fd_);
      throw std::system_error(error, std::generic_category(), lock.Path());
    }
  }
}

NamedLock::Holding::~Holding() {
  // Closing the last descriptor of the open file releases the lock.
  close(fd_);
}

}  // namespace mirava::engine::platform

namespace mirava::engine::platform {

std::optional<SharedRequestRecord> NamedLock::Holding::ReadRecord() const {
  SharedRecordBytes bytes{};
  ssize_t count;
  do {
    count = pread(fd_, bytes.data(), bytes.size(), 0);
  } while (count < 0 && errno == EINTR);
  if (count != static_cast<ssize_t>(bytes.size())) {
    return std::nullopt;
  }
  return DecodeSharedRecord(bytes);
}

bool NamedLock::Holding::WriteRecord(const SharedRequestRecord& record) const {
  const SharedRecordBytes bytes = EncodeSharedRecord(record);
  ssize_t count;
  do {
    count = pwrite(fd_, bytes.data(), bytes.size(), 0);
  } while (count < 0 && errno == EINTR);
  return count == static_cast<ssize_t>(bytes.size());
}

}  // namespace mirava::engine::platform
