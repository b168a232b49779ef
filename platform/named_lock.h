#pragma once
// A lock shared by every thread and process of one user that names it: an exclusive flock on a
// lock file in the user's runtime folder. Each acquisition opens its own descriptor, so threads
// of one process exclude each other too, and the kernel frees the lock when its holder dies.
// While holding it, a holder reads and writes a small shared record (kept in the lock file).
#include <cstdint>
#include <optional>
#include <string>

namespace mirava::platform {

// The small record every holder of one named lock shares: who sent the last direct request and
// when, on the system-wide tick count.
struct SharedRequestRecord {
  std::uint32_t LastRequestTick = 0;
  std::uint64_t Writer = 0;  // the pacing state that wrote it
};

class NamedLock {
 public:
  // Creates or opens the lock file; throws std::system_error when that is refused.
  explicit NamedLock(const std::string& name);
  // For tests: the lock file at an explicit path.
  static NamedLock AtPath(const std::string& path);

  const std::string& Path() const { return path_; }

  // Held from construction (which waits without a time limit) until destruction. Not recursive:
  // a second Holding on a thread that already holds the lock waits forever. Throws
  // std::system_error when the lock file cannot be opened.
  class Holding {
   public:
    explicit Holding(const NamedLock& lock);
    ~Holding();
    Holding(const Holding&) = delete;
    Holding& operator=(const Holding&) = delete;

    // The record as the last holder left it; nothing when none was ever written (or it is not
    // readable as one). Kept in the lock file itself, so it lasts as long as the file.
    std::optional<SharedRequestRecord> ReadRecord() const;
    // False when the system refused the write; the lock is still held.
    bool WriteRecord(const SharedRequestRecord& record) const;

   private:
    int fd_ = -1;
    void* mutex_ = nullptr;  // Windows: the named mutex held
    void* file_ = nullptr;   // Windows: the lock file, for the shared record
  };

 private:
  struct PathTag {};
  NamedLock(PathTag, std::string path);
  std::string path_;
};

// The lock file for `name`: $XDG_RUNTIME_DIR/<name>.lock, else /tmp/<name>-<uid>.lock.
// Windows: <the user's temporary folder>\<name>.lock, and the lock itself is the named mutex
// <name> (the file name without ".lock", for a lock made with AtPath).
std::string NamedLockPath(const std::string& name);

}  // namespace mirava::platform
