#pragma once
// The single-instance guard: an exclusive flock on a lock file named after the guard's name in
// the per-user runtime folder (or the data folder when there is none). The kernel frees the lock
// when the process ends, so a crashed copy never blocks the next start.
#include <QString>

namespace platform {

class SingleInstanceLock {
 public:
  // Tries to take the lock at once; never waits.
  explicit SingleInstanceLock(const QString& name);
  ~SingleInstanceLock();
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  // True when another process holds the lock.
  bool alreadyExists() const { return alreadyExists_; }
  // Frees the lock early (it is freed by the destructor anyway).
  void release();

  // Empty when there is neither a runtime folder nor a data folder to hold it.
  static QString lockFilePath(const QString& name);

 private:
  int fd_ = -1;
  bool alreadyExists_ = false;
};

}  // namespace platform
