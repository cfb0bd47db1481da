#pragma once
// The main window. It assembles the pages and keeps the handler names; the work of each concern
// lives in its own file: mainform_layout.cpp (components), mainform_commands.cpp (command table,
// menus, keys, enabling rule, page tracking), mainform_session.cpp (start-up, saving, shutdown),
// mainform_tracklist.cpp (the main list), mainform_loading.cpp and mainform_listedit.cpp (filling
// and editing it), mainform_playback.cpp and mainform_navigation.cpp (play control),
// mainform_durations.cpp (the duration scanner), mainform_stream.cpp (radio entries),
// mainform_language.cpp (the interface language), mainform_groups.cpp (the folder groups
// tree), mainform_settings.cpp (the settings file), mainform_options.cpp (the options page) and
// mainform_tray.cpp (the notification-area icon).
//
// Threading: main thread only.
#include <QColor>
#include <QFont>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QSystemTrayIcon>

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "model/mp3objects.h"
#include "playback/mp3filethread.h"
#include "ui/positionbar.h"
#include "ui/settingsvalues.h"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QScrollBar;
class QStandardItemModel;
class QStatusBar;
class QTabWidget;
class QTimer;
class QToolButton;
class QTreeView;
class TFormProgress;
class TGridLineDelegate;
class TStreamOpener;
struct TStreamReport;
class TNodeTreeModel;
class TTagListModel;
class TTrackListModel;
struct TTimeBatch;

namespace platform {
class SingleInstanceLock;
class InstanceChannel;
}  // namespace platform

// The back end of the last play from the main list.
enum TFileType : std::uint8_t { ft_Mp3, ft_M3u, ft_Other };

// Which list the play commands act on.
enum TEnumTabs : std::uint8_t { et_Mp3, et_Node, et_PlayList, et_TagInfo, et_Settings, et_None };

// The progress dialog of long reads and saves; made by the program entry, or earlier by the
// first read that needs it.
extern std::unique_ptr<TFormProgress> FormProgress;

class TMainForm : public QMainWindow, private TMp3FileThreadHost {
  Q_OBJECT

 public:
  // `arguments` are the program's command-line arguments without the program name.
  explicit TMainForm(const QStringList& arguments = {}, QWidget* parent = nullptr);
  ~TMainForm() override;

  // True when another copy was already running: this one showed nothing and must end.
  bool IsSecondCopy() const { return FSecondCopy; }
  // True when the start could not go on (the data folder could not be locked); it was said.
  bool StartFailed() const { return FStartFailed; }
  const QString& DataDirectory() const { return FWindowsTemporaryDir; }
  const QString& CommandLineFile() const { return ExFileName; }
  TEnumTabs EnumTabs() const { return FEnumTabs; }
  TTrackListModel* TrackList() const { return FTrackList; }
  TNodeTreeModel* NodeTree() const { return FNodes; }
  QLabel* StatusPanel(int index) const { return FStatusPanels[index]; }

  // The command of the command table with this name, or null.
  QAction* Command(const QString& name) const;
  // Offers a key to the pop-up menus of the focused control and its parents, then to the main
  // menu, then to the command table; true when one of them took it.
  bool RouteKey(const QKeySequence& key);

  // Handlers named as the window's events and commands.
  void ActionListUpdate();
  void pcMainChange();
  void AExitExecute();
  void AMp3TagExecute();
  void AOptionsExecute();
  void AAboutExecute();
  void SaveMainPlayList(const QString& path);
  void ShowLoadProgress(TMp3Session* Sender);
  void ShowCloseProgress(TMp3Session* Sender);
  void LoadPlayListFile(const QString& path);
  // The saved main list: data directory + "MP3_PLAYER_PLAY_LIST.DAT".
  QString MainPlayListFile() const;

  // Named play lists (mainform_playlists.cpp).
  void ASaveListExecute();
  void ALoadPlayListExecute();
  void AFillPlayListExecute();
  void ADeletePlayListExecute();
  void ARenamePlayListExecute();
  void lvPlayListsDblClick();
  // Optionally appends a row, then writes every row to the registry `FileName`.
  void SaveUserPlayLists(const QString& FileName, const QString& ListName, const QString& Location,
                         bool NoAdd);
  void LoadUserPlayLists(const QString& FileName);
  // The registry of named play lists: data directory + "NewPlayList.DAT".
  QString UserPlayListsFile() const;
  QStandardItemModel* PlayLists() const { return FPlayLists; }

  // Play control (mainform_playback.cpp, mainform_navigation.cpp).
  void Mp3PlayExecute();
  void Mp3PauseExecute();
  void Mp3CloseExecute();
  void Mp3NextExecute();
  void Mp3PrevExecute();
  void Mp3NodeDblClick();
  void Mp3NodeChange();
  void TimerTimer();
  // A mouse button pressed at `x` on the position bar.
  void ProgressMouseDown(int x);
  void lvMainClick();
  void ScrVolumeChange();
  // The mute box: mutes or unmutes the sound server's default sink; a failure is raised.
  void CheckBox1Click();
  void SetMasterMuteValue(bool value);
  void Mp3NextPlay();
  void Mp3PrevPlay();
  void Mp3NodeNextPlay();
  void Mp3NodePrevPlay();
  void SetMp3Pause();
  bool Mp3Paused() const { return FControl; }
  TFileType Mp3FileType() const { return FMp3FileType; }
  const QString& StreamTitle() const { return FStreamTitle; }
  int NewID() const { return FNewID; }
  // The first selected row of the main list, -1 when none.
  int ItemIndex() const;

  // Loading tracks (mainform_loading.cpp).
  void ALoadDirExecute();
  void ALoadFileExecute();
  void Am3uExecute();
  void ScanFolder(const QString& dir);
  void ScanSubFolders(const QString& dir);
  static QString GetFileSizeKB(const QString& path);
  void AddTrackPath(const QString& path, const QString& name);
  void AddDroppedPath(QString path);
  static QString ResolveShortcut(const QString& path);
  // The paths of one drop, in the order the file manager gave them.
  void WMDropFiles(const QStringList& paths);

  // The folder groups tree (mainform_groups.cpp).
  void AddMp3Group(const QString& Folder, bool WithSubFolders);
  void AddMp3SubGroups(const QString& Folder);
  void SaveMp3Groups(const QString& FileName);
  void LoadMp3Groups(const QString& FileName);
  void ADeleteNodeExecute();
  void AMovePlayListExecute();
  void cboxExpandClick();
  // data directory + "MP3_GROUP_LIST.DAT"
  QString GroupListFile() const;

  // Editing and presenting the list (mainform_listedit.cpp).
  void RefreshList();
  void FastSearch(const QString& Key);
  void DeleteExecute();
  void AClearPlayListExecute();
  void ARefreshExecute();
  void lvMainDblClick();
  void lvMainSelectItem();
  void lvMainColumnClick(int column);
  void edtSearchChange();
  void cboxShowCheckListClick();
  // The language box's change (mainform_language.cpp): applies the chosen interface language,
  // or instead appends the file named on the command line. Errors are shown, never raised.
  void cboxLngChange();
  int ColumnToSortValue() const { return ColumnToSort; }
  // Makes a page active from code: unlike a click on its tab this does not run pcMainChange.
  void SetActivePage(QWidget* page);

  // The Find command (mainform_search.cpp): the search dialog, then the play of the track chosen.
  void SearchExecute();

  // Components, named as the window's layout names them.
  QTabWidget* pcMain;
  QWidget *tsMp3Player, *tsMp3Node, *tsPlayList, *tsTAGID, *tsOptions, *tsAbout;
  QWidget* pnlSearch;
  QLabel* lblFastSearch;
  QLineEdit* edtSearch;
  QWidget* MainPanel;
  QTreeView* lvMain;
  QWidget* pnlControlNode;
  QCheckBox* cboxExpand;
  QTreeView* Mp3Node;
  QTreeView* lvPlayLists;
  QGroupBox *GroupBox3, *GroupBox4;
  QLabel *lblTitle, *lblSinger, *lblAlbum, *lblYear, *lblStyle, *lblComment;
  QLineEdit *edTitle, *edArtist, *edAlbum, *edYear, *edGenre, *edComment;
  QTreeView* lvTAGID;
  QGroupBox *MainSettings, *GroupBox1, *GrBoxLng, *GrBoxOther;
  QToolButton* spDefPath;
  QPushButton *btnDefaultSettings, *btnFont, *btnColor;
  QComboBox* cboxLng;
  QCheckBox *cboxSysTray, *cboxShowCheckList, *cboxRepeat, *CboxGridView;
  QLabel* lblNoSysTray;  // shown where the desktop has no notification area
  QWidget* Panel1;
  QPlainTextEdit* mmAbout;
  QLabel* lblLoading;
  QProgressBar* ProgressBar1;
  QGroupBox* MainComponents;
  QLabel *lblVolume, *lblPos, *lblPercents;
  QScrollBar* ScrVolume;
  QCheckBox* cboxMasterMuteValue;
  QLabel* lblProgress;
  TPositionBar* Progress;
  QWidget* Mainpnl;
  QToolButton *SpeedButton2, *btnMp3Load, *btnPrev, *btnNext, *btnPlay, *btnPause, *btnStop;
  QStatusBar* StatusBar;
  QObject* ActionList;
  QMenuBar* MainMenu;
  QMenu *PopupMenu, *pmPlayLists, *pmNode;
  QTimer* Timer;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct MenuEntry;

  // mainform_layout.cpp
  void CreateComponents();
  QWidget* CreateBottomStrip();
  void CreatePages();
  // mainform_commands.cpp
  void CreateCommands();
  void CreateMenus();
  QMenu* BuildMenu(QMenu* menu, const std::vector<MenuEntry>& entries);
  bool OfferKeyToMenu(const QList<QAction*>& entries, const QKeySequence& key);
  void ScheduleActionUpdate();
  void FormResize();
  // mainform_session.cpp
  void FormCreate(const QStringList& arguments);
  void InitSession();
  void LoadSessionData();
  QString GetTemporaryDir() const;
  void InitBass();
  void FormCloseQuery(bool& CanClose);
  void FormDestroy();
  void KeepUnreadableListAside();
  // Saves what Exit saves. On failure: with mayAsk the error is shown and the user chooses
  // whether to quit all the same (the answer is returned); without, it is only reported.
  bool SaveForExit(bool mayAsk);
  // After the save of an end of session: frees the audio library and stops playback; a close
  // request that follows saves nothing more.
  void StopForExit();
  // SIGTERM, SIGINT, SIGHUP: the close that saves everything Exit saves, once nothing is
  // half-way through a read, scan or save.
  void EndSessionOnSignal();
  // Reads, scans and saves process events half-way; an end of the session waits for them.
  struct TBusyScope {
    explicit TBusyScope(TMainForm* form) : form(form) { ++form->FBusyDepth; }
    ~TBusyScope() { form->EndBusy(); }
    TBusyScope(const TBusyScope&) = delete;
    TBusyScope& operator=(const TBusyScope&) = delete;
    TMainForm* form;
  };
  void EndBusy();
  void ResumeEndIfRequested();
  // mainform_tracklist.cpp
  void CreateTrackList();
  void ConnectPlayControl();
  void ConnectPlayLists();
  void AppendPlayListRow(const TMp3PlayerPtr& entry);
  // The first selected row of the named play lists, -1 when none.
  int FirstSelectedPlayList() const;
  std::vector<std::pair<QString, QString>> PlayListEntries() const;
  // Rows made while the list's updating is suspended wait here; they appear, with one notice,
  // when the outermost suspension ends.
  void BeginListUpdate();
  void EndListUpdate();
  void AppendRow(const TMp3PlayerPtr& record);
  int RowCountWithPending() const;
  // mainform_playback.cpp, mainform_navigation.cpp
  void PlayCurrent();
  void PlayFile();
  // mainform_stream.cpp
  void PlayStream();
  void StartStream();
  // An open in progress stops waiting for its server and reports no more.
  void AbandonStreamOpen();
  void StreamStatus(const TStreamReport& report);
  bool BuildCheckedList();
  void SelectNextChecked();
  void ShowVolumePercents();
  // -1 deselects the first selected row; a row index selects that row too.
  void SetItemIndex(int row);
  void ScrollToFirstSelected();
  void StartEngine(const TMp3PlayerPtr& mp3);
  void ClearPlayingMark();
  void SetPauseCaption(bool paused);
  // TMp3FileThreadHost
  void SetPositionMaximum(std::uint32_t ms) override;
  void ShowOpenError(const QString& text) override;
  void TrackEndCheck(bool stopped) override;
  void TrackOpened(TMp3FileThread* engine, bool opened) override;
  // Automatic advance: plays the next track of the page shown, passing over tracks that are
  // missing or cannot be opened, until one plays, the list ends, or a whole pass found none.
  void AdvanceAutomatically();
  // A track the advance could not play: false when the advance must end there.
  bool PassOverUnplayable();
  bool lvMainKeyDown(QKeyEvent* event);
  // mainform_language.cpp
  void ConnectLanguageBox();
  void AddCommandLineFile(const QString& FileName);
  // The record of one named file, appended as the command-line file is, without a duration scan.
  void AppendFileRecord(const QString& FileName);
  // mainform_durations.cpp: the duration scanner, started after tracks were added.
  void StartTimeThread();
  void ShowTimes(const TTimeBatch& batch);

  // Private state of the window.
  QString FDefaultPath;
  QString FWindowsTemporaryDir;
  TEnumTabs FEnumTabs = et_Mp3;
  QStringList FDirectories;
  int FCurrVolume = 0;
  bool FHasSetting = false;
  QString ExFileName;
  int FNewID = 0;
  bool FControl = false;
  TFileType FMp3FileType = ft_Mp3;
  bool FCheckListView = false;
  std::unique_ptr<QStringList> FCheckedList;
  int FStartCount = 0;
  QString FPauseCaption;     // the button's own caption while it differs from the command's
  bool FAdvancing = false;   // inside an automatic advance
  bool FPlayFailed = false;  // the advance's play found no file
  std::weak_ptr<TMp3FileThread> FAutoEngine;  // the engine an automatic advance started
  int FSkipped = 0;                           // tracks passed over since one last played
  std::unique_ptr<TStreamOpener> FStreamOpener;
  TMp3PlayerPtr FStreamRecord;  // the row the stream open reports to
  QString FStreamTitle;         // from the stream's metadata; not shown
  int ColumnToSort = 0;
  int FNewItem = -1;  // the row most recently added
  int FListUpdateDepth = 0;
  std::vector<TMp3PlayerPtr> FPendingRows;
  // What the add command running now knows (mainform_loading.cpp); null between commands.
  struct TLoadState;
  class TLoadScope;
  std::shared_ptr<TLoadState> FLoad;
  // Lists `path` for the running add command: false when it was listed already (in the list
  // when the command began, or added since).
  bool Claim(const QString& path);
  void AddScannedRecord(const TMp3PlayerPtr& record);

  bool FSecondCopy = false;
  bool FStartFailed = false;
  bool FKeepStoredList = false;           // the stored list could not be read nor kept aside
  std::optional<int> FLoadProgressCount;  // the main list file's Count, read once per load
  int FBusyDepth = 0;
  bool FEndRequested = false;
  bool FEnding = false;
  bool FPageFromCode = false;
  bool FActionUpdatePending = false;
  std::unique_ptr<platform::SingleInstanceLock> FOneCopyMutex;
  TTrackListModel* FTrackList = nullptr;
  TTagListModel* FTagList = nullptr;
  QStandardItemModel* FPlayLists = nullptr;
  TNodeTreeModel* FNodes = nullptr;
  // The folders (device, inode) that one folder load or drop has given groups: a folder met again
  // under another path (a bind mount), or by a second walk of the same drop, gets no second
  // group. Only the outermost step of a command makes the set, which the steps it calls share.
  using TGroupWalk = std::set<std::pair<std::uint64_t, std::uint64_t>>;
  std::shared_ptr<TGroupWalk> FGroupWalk;
  class TGroupWalkScope {
   public:
    explicit TGroupWalkScope(TMainForm* form) : form_(form), own_(!form->FGroupWalk) {
      if (own_) form->FGroupWalk = std::make_shared<TGroupWalk>();
    }
    ~TGroupWalkScope() {
      if (own_) form_->FGroupWalk.reset();
    }
    TGroupWalkScope(const TGroupWalkScope&) = delete;
    TGroupWalkScope& operator=(const TGroupWalkScope&) = delete;

   private:
    TMainForm* form_;
    bool own_;
  };
  bool FKeepGroupFile = false;  // the group file could not be read: it is never replaced
  QLabel* FStatusPanels[3] = {};
  // Popup menu of each control that has one, for key routing.
  std::vector<std::pair<QWidget*, QMenu*>> FControlMenus;

  // The settings file and the options page (mainform_settings.cpp, mainform_options.cpp).
 public:
  void spDefPathClick();
  void btnDefaultSettingsClick();
  void btnFontClick();
  void btnColorClick();
  void cboxRepeatClick();
  void cboxSysTrayClick();
  void CboxGridViewClick();
  // Data directory + "MP3_PLAYER_SETTINGS.DAT".
  QString SettingsFile() const;
  // The default folder button's caption as set, without the escaping of '&'.
  QString DefPathCaption() const;

 private:
  void LoadSettings();
  // Throws platform::IniWriteError when the file cannot be written; it is then unchanged.
  void SaveSettings(const QString& fileName);
  void ConnectOptions();
  // Shows the notification-area icon; an icon already shown stays the one icon.
  void AddTrayIcon();
  void SetDefPathCaption(const QString& text);
  // The default folder button's caption while no folder is set.
  static QString NoDefaultPathCaption();
  // A colour value as the settings file stores it.
  void SetListColor(std::int32_t value);
  // Gives lvMain the font dialog's font, and its rows the font's colour.
  void ApplyListFont();
  // The window's frame rectangle in its normal state, also while maximised, minimised or hidden.
  QRect RestoredOuterRect() const;
  // Sets the frame's size and, where the window system lets a program place its windows, its
  // top-left corner; the minimum size still holds.
  void SetOuterGeometry(QSize size, const QPoint* topLeft);
  QMargins FrameMargins() const;
  // Until the window has a frame its size cannot be known: the size asked for waits here and is
  // set again once the frame appears, so that a window does not grow by its frame every start.
  void ApplyPendingOuterSize();
  std::optional<QSize> FPendingOuterSize;

 protected:
  void moveEvent(QMoveEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  // The list font as the font dialog keeps it. The family is kept as stored even when this
  // desktop lacks it; the list then shows the desktop's default family.
  struct TFontDialogState {
    QFont Font;
    std::int32_t Color = 0;
  };
  TFontDialogState FontDialog;
  std::int32_t FListColor = settingsvalues::kInactiveCaption;
  QColor FColorDialogColor = Qt::black;  // the colour last chosen in the colour dialog
  TGridLineDelegate* FGridLines = nullptr;

  // The tag page (mainform_tagpage.cpp).
 public:
  // Selection event of lvTAGID; `Item` is a row of its list.
  void lvTAGIDSelectItem(int Item, bool Selected);
  TTagListModel* TagList() const { return FTagList; }

 private:
  void ConnectTagPage();
  // Refills lvTAGID from the track cache; the six edits keep their text.
  void FillTagList();
  // Shows the tag of the file in the six edits, or empties them when it has none. A file that
  // cannot be read raises its error and leaves them as they are.
  void ReadMp3Tag(const QString& FileName);
  void ClearTagInfo();

  // The notification-area icon (mainform_tray.cpp).
 public:
  QSystemTrayIcon* TrayIcon() const { return TrayIconData; }
  // A press on the icon: left shows the window and removes the icon, right opens PopupMenu.
  void TrayMessage(QSystemTrayIcon::ActivationReason reason);
  // False where the desktop has no notification area: the window is then never hidden behind one.
  static bool TrayAvailable();

 private:
  void CreateTrayIcon();
  // A close request with the tray option on: the window hides and the icon stands for it.
  void HideInTray();
  void ShowFromTray();
  // Shown, not minimised, raised and active.
  void ShowInFront();
  void UpdateSysTrayNote();
  QSystemTrayIcon* TrayIconData = nullptr;
  QTimer* FTrayWatch = nullptr;  // while hidden: brings the window back if the area goes away

 public:
  // Shows the window, from the tray too, and brings it in front of the others.
  void BringToFront();

  // mainform_handoff.cpp: files handed over by later starts of the program.
 private:
  void ListenForLaterStarts();
  void TakeHandedFile(const QString& FileName);
  void AddHandedFiles();
  platform::InstanceChannel* FInstanceChannel = nullptr;
  QStringList FHandedFiles;  // taken, not yet added
  bool FStartedUp = false;   // the start-up's own loads are done
  QTimer* FHandOffRetry = nullptr;

  // The desktop bus's media-player object (mainform_mpris.cpp).
 public:
  // The bus name the player is registered under; empty without a session bus.
  QString MprisServiceName() const;

 private:
  class TMprisLink;
  TMprisLink* FMpris = nullptr;  // null without a session bus
  void RegisterMpris();
  void UnregisterMpris();
  // What changed for the bus object; each is a null test when there is none.
  void MprisChanged();
  void MprisTrackStarted(const TMp3PlayerPtr& mp3, bool stream);
  void MprisStreamReport(const TStreamReport& report);
  void MprisStreamStopped();
  void MprisSeeked();
};
