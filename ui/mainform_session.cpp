// Start-up, saving and shutdown of the window: what is loaded in which order, what a close
// request and Exit save, and what is released at the end.
#include <QApplication>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QStandardPaths>
#include <QTimer>

#include "audio/bass.h"
#include "platform/datadir.h"
#include "platform/inifile.h"
#include "platform/singleinstance.h"
#include "playback/timethread.h"
#include "ui/dialogs.h"
#include "ui/formprogress.h"
#include "ui/mainform.h"
#include "ui/tracklistmodel.h"
#include "ui/waitcursor.h"

namespace {

const QString kSettingsFile = QStringLiteral("MP3_PLAYER_SETTINGS.DAT");

// The audio library refused to start: nothing may be written, so the process ends here.
[[noreturn]] void EndProcessAtOnce() {
  std::_Exit(1);
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
  FWidnowsTemporaryDir = GetTemporaryDir();
  Mp3Session = std::make_unique<TMp3Session>();

  FOneCopyMutex = std::make_unique<platform::SingleInstanceLock>(QStringLiteral("DKOneCopyMutex"));
  if (FOneCopyMutex->alreadyExists()) {
    FOneCopyMutex.reset();
    FSecondCopy = true;
    return;
  }
  setAcceptDrops(true);
  LoadSessionData();
}

void TMainForm::LoadSessionData() {
  FDirectorys.clear();
  CurrMp3.reset();
  FNewID = 0;
  Progress->setMaximum(0);
  Timer->stop();
  LoadSettings(FWidnowsTemporaryDir + kSettingsFile);
  LoadPlayListFile(MainPlayListFile());
  // The named play lists and the folder groups are loaded here once those pages exist.
}

QString TMainForm::MainPlayListFile() const {
  return FWidnowsTemporaryDir + QStringLiteral("MP3_PLAYER_PLAY_LIST.DAT");
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

void TMainForm::LoadSettings(const QString& path) {
  // The settings file is read and applied here once the options page is built.
  Q_UNUSED(path);
}

void TMainForm::SaveSettings(const QString& path) {
  // The settings file is written here once the options page is built.
  Q_UNUSED(path);
}

void TMainForm::FormCloseQuery(bool& CanClose) {
  if (Mp3Session->Mp3Seetings().ChekSysTray() != 0) {
    // Hiding behind the tray icon comes with the tray icon itself.
    CanClose = false;
    hide();
    return;
  }
  {
    TWaitCursor wait;
    if (!FhasSetting) {
      SaveMainPlayList(MainPlayListFile());
      SaveSettings(FWidnowsTemporaryDir + kSettingsFile);
      BASS_Free();
      FhasSetting = true;
    }
  }
  CanClose = true;
}

void TMainForm::AExitExecute() {
  TWaitCursor wait;
  Mp3Session->Mp3Seetings().SetOnCloseProgress(
      [this](TMp3Session* sender) { ShowCloseProgress(sender); });
  try {
    SaveMainPlayList(MainPlayListFile());
  } catch (...) {
    if (FormProgress) FormProgress->hide();
    throw;
  }
  if (FormProgress) FormProgress->hide();
  SaveSettings(FWidnowsTemporaryDir + kSettingsFile);
  // The folder groups are saved here once they exist.
  BASS_Free();
  Mp3FileThread->Close();
  QCoreApplication::exit(0);
}

void TMainForm::FormDestroy() {
  setAcceptDrops(false);
  Timer->stop();
  Mp3FileThread.reset();
  // Stops a running scan and waits for it: its worker never waits for this thread.
  TTimeThread::FreeAll();
  CurrMp3.reset();
  NodeMp3.reset();
  Mp3Session.reset();
  // Normally freed by the close request or Exit already; a window destroyed any other way must
  // not leave the library held.
  BASS_Free();
  FOneCopyMutex.reset();
}

void TMainForm::SaveMainPlayList(const QString& path) {
  if (FTrackList->rowCount() > 0) {
    Mp3Session->Mp3Seetings().SavePlayList(path);
    return;
  }
  // A list that cannot be removed would come back at the next start.
  if (QFile::exists(path) && !QFile::remove(path)) throw platform::IniWriteError(path);
}

void TMainForm::ShowLoadProgress(TMp3Session* Sender) {
  if (!FormProgress) FormProgress = std::make_unique<TFormProgress>();
  const int count = platform::IniFile(MainPlayListFile())
                        .readInteger(playlistfile::kListSection, playlistfile::kCountKey, 0);
  FormProgress->Execute(Sender, count);
  FormProgress->ShowOver(this);
}

void TMainForm::ShowCloseProgress(TMp3Session* Sender) {
  if (!FormProgress) FormProgress = std::make_unique<TFormProgress>();
  FormProgress->Execute(Sender, Mp3Session->CacheCount());
  FormProgress->ShowOver(this);
}
