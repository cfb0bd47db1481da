// Later starts of the program. A copy started while this one runs on the same data folder hands
// over its command-line file and ends; this copy appends the file as a command-line file is
// appended and comes to the front, from the tray too.
//
// Threading: main thread only; the channel's requests arrive through the event loop.
#include <QApplication>
#include <QTimer>

#include "platform/instancechannel.h"
#include "ui/dialogs.h"
#include "ui/mainform.h"

namespace {

// While the window is busy (a load, a scan, a question open) a handed file waits and is
// looked at again this often.
constexpr int kHandOffRetryMs = 100;

}  // namespace

void TMainForm::ListenForLaterStarts() {
  FHandOffRetry = new QTimer(this);
  FHandOffRetry->setSingleShot(true);
  FHandOffRetry->setInterval(kHandOffRetryMs);
  connect(FHandOffRetry, &QTimer::timeout, this, [this] { AddHandedFiles(); });
  FInstanceChannel = new platform::InstanceChannel(FWindowsTemporaryDir, this);
  connect(FInstanceChannel, &platform::InstanceChannel::received, this,
          [this](const QString& FileName) { TakeHandedFile(FileName); });
}

void TMainForm::TakeHandedFile(const QString& FileName) {
  FHandedFiles << FileName;
  // Never from inside the request: the channel answers first, and the window's own work decides
  // when the list may change.
  if (!FHandOffRetry->isActive()) FHandOffRetry->start(0);
}

void TMainForm::AddHandedFiles() {
  if (FHandedFiles.isEmpty()) return;
  // A list that is being read, scanned or asked about is never changed under its feet.
  if (!FStartedUp || FBusyDepth > 0 || QApplication::activeModalWidget()) {
    FHandOffRetry->start(kHandOffRetryMs);
    return;
  }
  const QStringList files = std::exchange(FHandedFiles, {});
  RunGuarded(this, [&] {
    bool added = false;
    for (const QString& file : files) {
      if (file.isEmpty()) continue;
      AppendFileRecord(file);
      added = true;
    }
    // One duration scan for all of them: each start would supersede the one before.
    if (added) StartTimeThread();
  });
  BringToFront();
}
