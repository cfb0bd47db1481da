#pragma once
// How a later start hands its command-line file to the copy already running on the same data
// folder: over the session bus when there is one, and over a local socket in the runtime folder
// (the data folder when there is none), so that a start without a bus still finds the running
// copy. The channel is named after the data folder, as the single-instance lock is: copies that
// keep their data apart never meet.
//
// Threading: main thread only. The running copy's side is driven by the event loop; the later
// start's side blocks, within its time budget, before that start has shown anything.
#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>

class QLocalServer;

namespace platform {

class InstanceChannel : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.velmo.Velmo.Instance")

 public:
  // The running copy's side; call it once the single-instance lock is held. It listens on
  // every way it can; with none (no bus, no usable folder) it simply never hears anything.
  explicit InstanceChannel(const QString& dataFolder, QObject* parent = nullptr);
  ~InstanceChannel() override;

  bool onBus() const { return onBus_; }
  bool onSocket() const { return server_ != nullptr; }

  static QString busName(const QString& dataFolder);
  static QString socketPath(const QString& dataFolder);
  static inline const QString kObjectPath = QStringLiteral("/org/velmo/Velmo");

 public Q_SLOTS:
  // The bus method: the path's system bytes, empty for none.
  Q_SCRIPTABLE void Open(const QByteArray& path);

 Q_SIGNALS:
  // A later start handed over `path` (empty when it had no file to hand).
  void received(const QString& path);

 private:
  void ListenOnBus(const QString& dataFolder);
  void ListenOnSocket(const QString& dataFolder);
  void AcceptClients();

  QString busName_;
  bool onBus_ = false;
  QLocalServer* server_ = nullptr;
};

enum class HandOffResult {
  Taken,        // the running copy took the file
  NotAnswered,  // it has the request but did not answer in time (stopped, or very busy)
  NoListener,   // nothing listened for the data folder within the budget
};

// The later start's side: hands `path` to the copy running on `dataFolder`. Never takes longer
// than `budget`, whatever the running copy does.
HandOffResult HandOffToRunningCopy(const QString& dataFolder, const QString& path,
                                   std::chrono::milliseconds budget);

}  // namespace platform
