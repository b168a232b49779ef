#include "engine/platform/named_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <utility>

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

// The record's bytes: a tag, then the tick and the writer, little-endian.
constexpr unsigned char kRecordTag[4] = {'M', 'R', 'Q', '1'};
constexpr std::size_t kRecordSize = 16;

void PutLittleEndian(unsigned char* at, std::uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    at[i] = static_cast<unsigned char>(value >> (8 * i));
  }
}

std::uint64_t GetLittleEndian(const unsigned char* at, int bytes) {
  std::uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) {
    value |= static_cast<std::uint64_t>(at[i]) << (8 * i);
  }
  return value;
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
  unsigned char bytes[kRecordSize];
  ssize_t count;
  do {
    count = pread(fd_, bytes, kRecordSize, 0);
  } while (count < 0 && errno == EINTR);
  if (count != static_cast<ssize_t>(kRecordSize) ||
      std::memcmp(bytes, kRecordTag, sizeof kRecordTag) != 0) {
    return std::nullopt;
  }
  SharedRequestRecord record;
  record.LastRequestTick = static_cast<std::uint32_t>(GetLittleEndian(bytes + 4, 4));
  record.Writer = GetLittleEndian(bytes + 8, 8);
  return record;
}

bool NamedLock::Holding::WriteRecord(const SharedRequestRecord& record) const {
  unsigned char bytes[kRecordSize];
  std::memcpy(bytes, kRecordTag, sizeof kRecordTag);
  PutLittleEndian(bytes + 4, record.LastRequestTick, 4);
  PutLittleEndian(bytes + 8, record.Writer, 8);
  ssize_t count;
  do {
    count = pwrite(fd_, bytes, kRecordSize, 0);
  } while (count < 0 && errno == EINTR);
  return count == static_cast<ssize_t>(kRecordSize);
}

}  // namespace mirava::engine::platform
