#include "platform/named_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <utility>

#include "platform/posix_io.h"
#include "platform/shared_request_record.h"

namespace mirava::platform {

namespace {

// O_NOFOLLOW: in a shared folder such as /tmp a planted link must not redirect the file.
platform::posix::UniqueFd OpenLockFile(const std::string& path) {
  platform::posix::UniqueFd file =
      platform::posix::Open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (!file.Valid()) {
    throw std::system_error(errno, std::generic_category(), path);
  }
  return file;
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
  OpenLockFile(path_);
}

NamedLock::Holding::Holding(const NamedLock& lock) {
  platform::posix::UniqueFd file = OpenLockFile(lock.Path());
  while (flock(file.Get(), LOCK_EX) != 0) {
    if (errno != EINTR) {
      throw std::system_error(errno, std::generic_category(), lock.Path());
    }
  }
  fd_ = file.Release();
}

NamedLock::Holding::~Holding() {
  // Closing the last descriptor of the open file releases the lock.
  close(fd_);
}

}  // namespace mirava::platform

namespace mirava::platform {

std::optional<SharedRequestRecord> NamedLock::Holding::ReadRecord() const {
  SharedRecordBytes bytes{};
  const ssize_t count =
      platform::posix::ReadFullyAt(fd_, reinterpret_cast<char*>(bytes.data()), bytes.size(), 0);
  if (count != static_cast<ssize_t>(bytes.size())) {
    return std::nullopt;
  }
  return DecodeSharedRecord(bytes);
}

bool NamedLock::Holding::WriteRecord(const SharedRequestRecord& record) const {
  const SharedRecordBytes bytes = EncodeSharedRecord(record);
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return platform::posix::WriteAllAt(fd_, text, 0) == 0;
}

}  // namespace mirava::platform
