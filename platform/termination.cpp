#include "platform/termination.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>

namespace platform {
namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
int gPipe[2] = {-1, -1};

extern "C" void OnSignal(int signal) {
  const int savedErrno = errno;
  const auto byte = static_cast<unsigned char>(signal);
  // A full pipe already holds a wake-up; losing this byte loses nothing the reader needs.
  (void)!::write(gPipe[1], &byte, 1);
  errno = savedErrno;
}

}  // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, gPipe) != 0) return;
  notifier_ = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { ReadPending(); });
  struct sigaction action {};
  action.sa_handler = &OnSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal : kSignals) ::sigaction(signal, &action, nullptr);
}

TerminationSignals::~TerminationSignals() {
  for (const int signal : kSignals) ::signal(signal, SIG_DFL);
  delete notifier_;
  for (int& fd : gPipe) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

void TerminationSignals::ReadPending() {
  unsigned char bytes[16];
  for (;;) {
    const ssize_t n = ::read(gPipe[0], bytes, sizeof bytes);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      return;
    }
    for (ssize_t i = 0; i < n; ++i) Q_EMIT received(bytes[i]);
  }
}

}  // namespace platform
