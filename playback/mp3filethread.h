#pragma once
// The file playback engine: one object per played file, over one MP3 device of its own.
//
// Threading: main thread only. Starting an engine does no audio work at once: it queues
// OpenAndPlay for the main thread's next turn, so a play request returns at once and the file
// opens "a moment later". An engine that is no longer the newest started one skips that open,
// so two files never play at once however quickly play requests follow each other.
#include <QString>

#include <cstdint>
#include <memory>

#include "model/mp3objects.h"

class TMp3Device;
class TMp3FileThread;
enum class TMp3Mode : int;

// What the engine tells the window it plays for.
class TMp3FileThreadHost {
 public:
  // The length of the file just opened (0 when it could not be opened): the position bar's end.
  virtual void SetPositionMaximum(std::uint32_t ms) = 0;
  // An exception thrown while opening, as text for a plain message box.
  virtual void ShowOpenError(const QString& text) = 0;
  // The rest of the end-of-track check, which reads the window's list, page and repeat switch.
  virtual void TrackEndCheck(bool stopped) = 0;
  // After the queued open: whether the file opened; `engine` is the engine that tried.
  virtual void TrackOpened(TMp3FileThread* engine, bool opened) = 0;

 protected:
  ~TMp3FileThreadHost() = default;
};

class TMp3FileThread : public std::enable_shared_from_this<TMp3FileThread> {
 public:
  // The placeholder (and a private device holder): no track, volume 0, never started.
  TMp3FileThread();
  TMp3FileThread(TMp3PlayerPtr _Mp3, int _Volume);
  ~TMp3FileThread();
  TMp3FileThread(const TMp3FileThread&) = delete;
  TMp3FileThread& operator=(const TMp3FileThread&) = delete;

  // Queues OpenAndPlay on the main thread; `host` must outlive the queued call or be gone
  // together with the application's event loop.
  void Start(TMp3FileThreadHost* host);
  void OpenAndPlay();

  void Close();
  void Open(const QString& path);
  std::uint32_t GetLength();
  std::uint32_t GetPosition();
  // The open file has stopped (ended, paused or stopped). A device waiting for a lost sound
  // server, or one that gave up on it, is not: the track did not end.
  bool IsStopped();
  // The open file's mode; NotReady while no file is open.
  TMp3Mode Mode() const;
  void Play();
  void Pause();
  void ResumePlay();
  void Stop();
  int SetVolume(int v);  // 0..100; answers v
  void SetPosition(std::uint32_t v);
  void CheckTrackEnd();

  std::uint32_t Position() { return GetPosition(); }
  // What the device applies, 0..1000; -1 before the engine has a device.
  int DeviceVolume() const;

  std::uint16_t FDeviceID = 0;  // 0: no file open
  TMp3PlayerPtr Mp3;
  int MyError = 0;
  int dwFlags = 0;
  int FVolume = 0;

 private:
  // The device stays after Close so that a later Open reuses its connection; made on first use.
  TMp3Device& Device();

  std::unique_ptr<TMp3Device> FDevice;
  TMp3FileThreadHost* FHost = nullptr;
  std::uint64_t FSerial = 0;
};

using TMp3FileThreadPtr = std::shared_ptr<TMp3FileThread>;

// The current engine; after start-up never null.
extern TMp3FileThreadPtr Mp3FileThread;
