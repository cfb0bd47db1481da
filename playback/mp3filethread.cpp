#include "playback/mp3filethread.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <cxxabi.h>

#include <cstdlib>
#include <exception>
#include <typeinfo>

#include "audio/mp3device.h"

TMp3FileThreadPtr Mp3FileThread;

namespace {

// The newest started engine; an older one's queued open finds it changed and does nothing.
std::uint64_t gLastStarted = 0;

// Device ids as the old command interface gave them: never 0, which means "none".
std::uint16_t NextDeviceId() {
  static std::uint16_t last = 0;
  if (++last == 0) ++last;
  return last;
}

QString ClassName(const std::exception& e) {
  int status = 0;
  char* name = abi::__cxa_demangle(typeid(e).name(), nullptr, nullptr, &status);
  const QString text = QString::fromUtf8(status == 0 && name ? name : typeid(e).name());
  std::free(name);
  return text;
}

}  // namespace

TMp3FileThread::TMp3FileThread() = default;

TMp3FileThread::TMp3FileThread(TMp3PlayerPtr _Mp3, int _Volume)
    : Mp3(std::move(_Mp3)), FVolume(_Volume) {}

TMp3FileThread::~TMp3FileThread() = default;

TMp3Device& TMp3FileThread::Device() {
  if (!FDevice) FDevice = std::make_unique<TMp3Device>();
  return *FDevice;
}

void TMp3FileThread::Start(TMp3FileThreadHost* host) {
  FHost = host;
  FSerial = ++gLastStarted;
  std::weak_ptr<TMp3FileThread> weak = weak_from_this();
  QMetaObject::invokeMethod(
      QCoreApplication::instance(),
      [weak] {
        const TMp3FileThreadPtr self = weak.lock();
        if (self && self->FSerial == gLastStarted) self->OpenAndPlay();
      },
      Qt::QueuedConnection);
}

void TMp3FileThread::OpenAndPlay() {
  Close();
  if (!Mp3) return;
  Open(Mp3->Mp3Path());
  if (FHost) FHost->SetPositionMaximum(GetLength());
  SetVolume(FVolume);
  Play();
  if (FHost) FHost->TrackOpened(this, FDeviceID != 0);
}

void TMp3FileThread::Close() {
  if (FDeviceID == 0) return;
  dwFlags = 0;
  MyError = FDevice->Close();
  if (MyError == MP3_OK) FDeviceID = 0;
}

void TMp3FileThread::Open(const QString& path) {
  dwFlags = 0x2202;
  try {
    MyError = Device().Open(path);
  } catch (const std::exception& e) {
    MyError = MP3_ERR_FILE;
    if (FHost)
      FHost->ShowOpenError(ClassName(e) + QStringLiteral(" error raised, with message : ") +
                           QString::fromLocal8Bit(e.what()));
  }
  FDeviceID = MyError == MP3_OK ? NextDeviceId() : 0;
}

std::uint32_t TMp3FileThread::GetLength() {
  std::int64_t ms = 0;
  MyError = FDevice ? FDevice->Length(&ms) : MP3_ERR_NOT_OPEN;
  return MyError == MP3_OK ? static_cast<std::uint32_t>(ms) : 0;
}

std::uint32_t TMp3FileThread::GetPosition() {
  std::int64_t ms = 0;
  if (!FDevice || FDevice->Position(&ms) != MP3_OK) return 0;
  return static_cast<std::uint32_t>(ms);
}

bool TMp3FileThread::IsStopped() {
  if (FDeviceID == 0) return false;
  dwFlags = 0x102;
  const TMp3Mode mode = FDevice->Mode();
  MyError = mode == TMp3Mode::NotReady ? MP3_ERR_NOT_OPEN : MP3_OK;
  if (MyError != MP3_OK || mode == TMp3Mode::Playing) return false;
  // A device that gave up on a missing sound server stopped short of the end. Moving on would
  // only open the next track against the same missing server and show it playing in silence.
  return FDevice->LastError() != MP3_ERR_NO_SERVER;
}

TMp3Mode TMp3FileThread::Mode() const {
  return FDeviceID != 0 && FDevice ? FDevice->Mode() : TMp3Mode::NotReady;
}

void TMp3FileThread::Play() {
  dwFlags = 1;
  MyError = FDevice ? FDevice->Play() : MP3_ERR_NOT_OPEN;
}

void TMp3FileThread::Pause() {
  if (FDevice) FDevice->Pause();
}

void TMp3FileThread::ResumePlay() {
  if (FDevice) FDevice->Resume();
}

void TMp3FileThread::Stop() {
  if (FDevice) FDevice->Stop();
}

int TMp3FileThread::SetVolume(int v) {
  if (FDevice) FDevice->SetVolume(v * 10);
  return v;
}

int TMp3FileThread::DeviceVolume() const {
  return FDevice ? FDevice->Volume() : -1;
}

void TMp3FileThread::SetPosition(std::uint32_t v) {
  MyError = FDevice ? FDevice->Seek(v) : MP3_ERR_NOT_OPEN;
  if (MyError == MP3_OK) Play();
}

void TMp3FileThread::CheckTrackEnd() {
  const bool stopped = IsStopped();
  if (FHost) FHost->TrackEndCheck(stopped);
}
