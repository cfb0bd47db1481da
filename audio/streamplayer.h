#pragma once
// Makes sound from a network stream: decodes the download's buffer on a thread of its own and
// plays the samples to the sound server at their own rate and channel count. A gap in the
// download (a reconnect) is an underrun the output waits out; when the download ends for good
// the sound ends quietly. A sound server that is missing or goes away is looked for again every
// second while the stream plays.
//
// Threading: Start and Stop come from the library's callers (any thread, Stop from several at
// once). The decoding thread owns the decoder and reads the download; the sound server's event
// thread (pulselink.h) takes decoded samples from a ring and applies the volume. Locks: the event
// lock first, then the ring mutex; the decoding thread never holds the ring mutex while it takes
// the event lock, and Stop joins the decoding thread holding neither.
#include <atomic>
#include <memory>

#include "audio/streamdecoder.h"

namespace netstream {

class TStreamDownload;

class TStreamPlayer {
 public:
  // `volume` (0..1) scales every block handed to the sound server; it must outlive the player.
  TStreamPlayer(std::shared_ptr<TStreamDownload> download, TAudioFormat format,
                const std::atomic<float>* volume);
  ~TStreamPlayer();  // Stop()
  TStreamPlayer(const TStreamPlayer&) = delete;
  TStreamPlayer& operator=(const TStreamPlayer&) = delete;

  // Starts decoding and the connection to the sound server; returns at once. False when the
  // decoder or the sound server's event loop cannot be set up.
  bool Start();
  // Silences the output at once and ends the decoding thread, which never waits long on
  // anything. The download is left alone.
  void Stop();

 private:
  class Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace netstream
