// Takes the single-instance lock named by its argument, says whether it got it, and keeps it
// until its standard input closes (or it is killed).
#include <QCoreApplication>

#include <unistd.h>
#include <cstdio>

#include "platform/singleinstance.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 2) return 2;
  platform::SingleInstanceLock lock(QString::fromLocal8Bit(argv[1]));
  std::printf(lock.alreadyExists() ? "busy\n" : "locked\n");
  std::fflush(stdout);
  char byte;
  while (::read(0, &byte, 1) > 0) {
  }
  return 0;
}
