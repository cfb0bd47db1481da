#pragma once
// The single-instance guard: an exclusive flock on a lock file named after the guard's name in
// the data folder it guards, whatever the runtime folder. The kernel frees the lock when the
// process ends, so a crashed copy never blocks the next start.
#include <QString>

namespace platform {

class SingleInstanceLock {
 public:
  enum class State {
    Held,           // this process holds the lock
    AlreadyExists,  // another process holds it
    Failed,         // it could not be taken: error() tells why
  };

  // Tries to take the lock in `folder` (the data folder, ending with '/') at once; never waits.
  SingleInstanceLock(const QString& folder, const QString& name);
  ~SingleInstanceLock();
  SingleInstanceLock(const SingleInstanceLock&) = delete;
  SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

  State state() const { return state_; }
  bool alreadyExists() const { return state_ == State::AlreadyExists; }
  // With State::Failed: the system's reason, for a message.
  const QString& error() const { return error_; }
  const QString& path() const { return path_; }
  // Frees the lock early (it is freed by the destructor anyway).
  void release();

  static QString lockFilePath(const QString& folder, const QString& name);

 private:
  QString path_;
  QString error_;
  int fd_ = -1;
  State state_ = State::Failed;
};

}  // namespace platform
