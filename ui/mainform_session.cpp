// Start-up, saving and shutdown of the window: what is loaded in which order, what a close
// request and Exit save, and what is released at the end.
#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QSessionManager>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <fcntl.h>
#include <stdio.h>
#include <cerrno>
#include <cstring>

#include "audio/bass.h"
#include "platform/atomicfile.h"
#include "platform/datadir.h"
#include "platform/filemove.h"
#include "platform/inifile.h"
#include "platform/singleinstance.h"
#include "platform/termination.h"
#include "playback/streamopener.h"
#include "playback/timethread.h"
#include "ui/dialogs.h"
#include "ui/formprogress.h"
#include "ui/mainform.h"
#include "ui/milestones.h"
#include "ui/tracklistmodel.h"
#include "ui/waitcursor.h"

namespace {

const QString kQuitWithoutSaving = QStringLiteral("Quit without saving?");

// The audio library refused to start: nothing may be written, so the process ends here.
[[noreturn]] void EndProcessAtOnce() {
  std::_Exit(1);
}

QString SystemError(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace

void TMainForm::FormCreate(const QStringList& arguments) {
  if (!arguments.isEmpty()) {
    QString file = arguments.first();
    if (file.size() >= 2 && file.startsWith(QLatin1Char('"')) && file.endsWith(QLatin1Char('"')))
      file = file.mid(1, file.size() - 2);
    ExFileName = file;
  }
  InitSession();
}

void TMainForm::InitSession() {
  // Made idle; every load starts a scanner of its own.
  TimeThread = std::make_unique<TTimeThread>();
  Mp3FileThread = std::make_shared<TMp3FileThread>();
  InitBass();
  FCurrVolume = 50;
  FWindowsTemporaryDir = GetTemporaryDir();
  Mp3Session = std::make_unique<TMp3Session>();

  // The lock lives in the folder it guards: every copy that could write there finds it.
  FOneCopyMutex = std::make_unique<platform::SingleInstanceLock>(FWindowsTemporaryDir,
                                                                 QStringLiteral("DKOneCopyMutex"));
  switch (FOneCopyMutex->state()) {
    case platform::SingleInstanceLock::State::AlreadyExists:
      FOneCopyMutex.reset();
      FSecondCopy = true;
      return;
    case platform::SingleInstanceLock::State::Failed:
      // Without the lock a second copy could overwrite this one's lists.
      Dialogs().ShowMessage(nullptr,
                            QStringLiteral("Velmo cannot start: the data folder %1 cannot be "
                                           "locked (%2).")
                                .arg(FWindowsTemporaryDir, FOneCopyMutex->error()),
                            {}, TMessageIcon::Error);
      FOneCopyMutex.reset();
      FStartFailed = true;
      return;
    case platform::SingleInstanceLock::State::Held:
      break;
  }
  // Left by a copy killed while saving; no other copy can be writing now.
  platform::removeStaleTemporaries(FWindowsTemporaryDir);
  auto* termination = new platform::TerminationSignals(this);
  connect(termination, &platform::TerminationSignals::received, this,
          [this] { EndSessionOnSignal(); });
  connect(qApp, &QGuiApplication::commitDataRequest, this,
          [this](QSessionManager&) { SaveForExit(false); });
  setAcceptDrops(true);
  // Before the loads: a later start during a long load is answered at once, its file added after.
  ListenForLaterStarts();
  LoadSessionData();
  if (const int error = platform::probeWritableFolder(FWindowsTemporaryDir))
    Dialogs().ShowMessage(this,
                          QStringLiteral("The data folder %1 cannot be written (%2): the lists "
                                         "and settings cannot be saved until this is fixed.")
                              .arg(FWindowsTemporaryDir, SystemError(error)),
                          {}, TMessageIcon::Warning);
  FStartedUp = true;
  // Files handed over during the start are added once the window is up.
  if (!FHandedFiles.isEmpty()) FHandOffRetry->start(0);
}

void TMainForm::LoadSessionData() {
  TBusyScope busy(this);
  FDirectories.clear();
  CurrMp3.reset();
  FNewID = 0;
  Progress->setMaximum(0);
  Timer->stop();
  LoadSettings();
  const int before = Mp3Session->CacheCount();
  LoadPlayListFile(MainPlayListFile());
  if (Mp3Session->CacheCount() == before && playlistfile::HoldsUnreadTracks(MainPlayListFile()))
    KeepUnreadableListAside();
  LoadUserPlayLists(UserPlayListsFile());
  LoadMp3Groups(GroupListFile());
}

void TMainForm::KeepUnreadableListAside() {
  const QString list = MainPlayListFile();
  const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
  QString aside = list + QStringLiteral(".unreadable-") + stamp;
  int error = platform::moveWithoutReplacing(list, aside);
  for (int n = 2; error == EEXIST && n < 100; ++n) {
    aside = list + QStringLiteral(".unreadable-%1-%2").arg(stamp).arg(n);
    error = platform::moveWithoutReplacing(list, aside);
  }
  if (error == 0) {
    Dialogs().ShowMessage(this,
                          QStringLiteral("The stored play list could not be read. It was kept "
                                         "as %1.")
                              .arg(aside),
                          {}, TMessageIcon::Warning);
    return;
  }
  // It stays where it is, and nothing may replace or delete it this run.
  FKeepStoredList = true;
  Dialogs().ShowMessage(this,
                        QStringLiteral("The stored play list %1 could not be read, and could "
                                       "not be kept aside (%2). It will not be changed.")
                            .arg(list, SystemError(error)),
                        {}, TMessageIcon::Warning);
}

QString TMainForm::MainPlayListFile() const {
  return FWindowsTemporaryDir + QStringLiteral("MP3_PLAYER_PLAY_LIST.DAT");
}

QString TMainForm::GetTemporaryDir() const {
  const QString dir = platform::dataDirectory();
  if (!dir.isEmpty()) return dir;
  // The folder could not be made: keep its name, so that every save names it in its error.
  return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
         QStringLiteral("/velmo/");
}

void TMainForm::InitBass() {
  if ((BASS_GetVersion() >> 16) != 0x0204) {
    Dialogs().ShowMessage(
        nullptr, QStringLiteral("Немога да намеря bass.dll моля преинсталирайте програмата"),
        QStringLiteral(" "), TMessageIcon::Error);
    EndProcessAtOnce();
  }
  if (!BASS_Init(-1, 44100, 0, this, nullptr)) {
    Dialogs().ShowMessage(nullptr, QStringLiteral("Error ..."));
    EndProcessAtOnce();
  }
  BASS_SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
}

void TMainForm::FormCloseQuery(bool& CanClose) {
  // Without a notification area a hidden window could never be shown again: close as usual.
  if (Mp3Session->Mp3Settings().CheckSysTray() != 0 && TrayAvailable()) {
    CanClose = false;
    HideInTray();
    return;
  }
  if (!FHasSetting) {
    try {
      TWaitCursor wait;
      SaveMainPlayList(MainPlayListFile());
      SaveSettings(SettingsFile());
      // A close that ends the program keeps the groups as Exit does.
      SaveMp3Groups(GroupListFile());
    } catch (const std::exception& error) {
      // The user may fix the cause and close again, or give up the changes.
      ShowException(this, error);
      if (!Dialogs().Confirm(this, kQuitWithoutSaving)) {
        CanClose = false;
        return;
      }
    }
    AbandonStreamOpen();
    BASS_Free();
    FHasSetting = true;
  }
  CanClose = true;
}

bool TMainForm::SaveForExit(bool mayAsk) {
  try {
    TWaitCursor wait;
    Mp3Session->Mp3Settings().SetOnCloseProgress(
        [this](TMp3Session* sender) { ShowCloseProgress(sender); });
    SaveMainPlayList(MainPlayListFile());
    SaveSettings(SettingsFile());
    SaveMp3Groups(GroupListFile());
    return true;
  } catch (const std::exception& error) {
    if (!mayAsk) {
      // Nobody is there to answer; the files on disk are still whole.
      std::fprintf(stderr, "velmo: %s\n", error.what());
      return true;
    }
    ShowException(this, error);
    return Dialogs().Confirm(this, kQuitWithoutSaving);
  }
}

void TMainForm::AExitExecute() {
  if (!SaveForExit(true)) return;
  milestones::Mark("saved");
  StopForExit();
  QCoreApplication::exit(0);
}

void TMainForm::StopForExit() {
  AbandonStreamOpen();
  BASS_Free();
  Mp3FileThread->Close();
  FHasSetting = true;
}

void TMainForm::EndSessionOnSignal() {
  FEndRequested = true;
  // A read, a scan or a save in progress finishes first; the end of its scope comes back here.
  if (FBusyDepth > 0 || FListUpdateDepth > 0 || FEnding) return;
  FEnding = true;
  SaveForExit(false);
  StopForExit();
  // Before the event loop runs (a signal during start-up) exit() would be lost: ask again then.
  if (QThread::currentThread()->loopLevel() > 0)
    QCoreApplication::exit(0);
  else
    QTimer::singleShot(0, this, [] { QCoreApplication::exit(0); });
}

void TMainForm::EndBusy() {
  --FBusyDepth;
  ResumeEndIfRequested();
}

void TMainForm::ResumeEndIfRequested() {
  if (FBusyDepth > 0 || FListUpdateDepth > 0 || !FEndRequested || FEnding) return;
  QTimer::singleShot(0, this, [this] { EndSessionOnSignal(); });
}

void TMainForm::FormDestroy() {
  setAcceptDrops(false);
  TrayIconData->hide();
  Timer->stop();
  Mp3FileThread.reset();
  // Stops a running scan and waits for it: its worker never waits for this thread.
  TTimeThread::FreeAll();
  CurrMp3.reset();
  NodeMp3.reset();
  Mp3Session.reset();
  // Normally freed by the close request or Exit already; a window destroyed any other way must
  // not leave the library held. The stream side goes first: its workers report to this window.
  FStreamOpener.reset();
  BASS_Free();
  FOneCopyMutex.reset();
}

void TMainForm::SaveMainPlayList(const QString& path) {
  TBusyScope busy(this);
  if (FKeepStoredList && path == MainPlayListFile()) throw platform::IniWriteError(path);
  // Whatever this save shows, it hides again: a dialog left up would keep the program alive.
  const bool progressShown = FormProgress && FormProgress->isVisible();
  struct HideProgress {
    bool keep;
    ~HideProgress() {
      if (!keep && FormProgress) FormProgress->hide();
    }
  } hide{progressShown};
  // Decided by the tracks, not by the rows a filter happens to show.
  if (Mp3Session->CacheCount() > 0) {
    Mp3Session->Mp3Settings().SavePlayList(path);
    return;
  }
  // A list that cannot be removed would come back at the next start.
  if (QFile::exists(path) && !QFile::remove(path)) throw platform::IniWriteError(path);
}

void TMainForm::ShowLoadProgress(TMp3Session* Sender) {
  if (!FormProgress) FormProgress = std::make_unique<TFormProgress>();
  // The file cannot change during a load: its Count is read once, not for every step (a missing
  // file has none, and then every record would stat it).
  if (!FLoadProgressCount)
    FLoadProgressCount = platform::IniFile(MainPlayListFile())
                             .readInteger(playlistfile::kListSection, playlistfile::kCountKey, 0);
  const auto* mp3 = dynamic_cast<const TMp3Player*>(Sender);
  if (mp3 && !FormProgress->WouldMove(mp3->Mp3ID(), *FLoadProgressCount)) return;
  FormProgress->Execute(Sender, *FLoadProgressCount);
  FormProgress->ShowOver(this);
}

void TMainForm::ShowCloseProgress(TMp3Session* Sender) {
  if (!FormProgress) FormProgress = std::make_unique<TFormProgress>();
  const auto* mp3 = dynamic_cast<const TMp3Player*>(Sender);
  const TMp3Cache* cache = Mp3Session->CacheMp3();
  const bool last = cache && !cache->empty() && cache->back().get() == mp3;
  if (mp3 && !last && !FormProgress->WouldMove(mp3->Mp3ID(), Mp3Session->CacheCount())) return;
  FormProgress->Execute(Sender, Mp3Session->CacheCount());
  FormProgress->ShowOver(this);
}
