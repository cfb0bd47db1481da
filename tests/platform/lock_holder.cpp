// Takes the single-instance lock named by its second argument in the folder named by its first,
// says whether it got it, and keeps it until its standard input closes (or it is killed).
#include <QCoreApplication>

#include <unistd.h>
#include <cstdio>

#include "platform/singleinstance.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  if (argc < 3) return 2;
  platform::SingleInstanceLock lock(QString::fromLocal8Bit(argv[1]),
                                    QString::fromLocal8Bit(argv[2]));
  std::printf(lock.alreadyExists() ? "busy\n" : "locked\n");
  std::fflush(stdout);
  char byte;
  while (::read(0, &byte, 1) > 0) {
  }
  return 0;
}
