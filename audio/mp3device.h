#pragma once
// The MP3 device the file playback engine drives: open a file, play, pause, resume, stop, seek,
// volume, and the length, position and mode the player polls. Every call returns at once with
// an error number from TMp3Error (mp3length.h): decoding runs on a thread of the device's own
// and the sound goes to the PulseAudio server through its event thread.
//
// Threading: all calls come from one thread (the player's main thread). None of them waits for
// the decoder or for the sound server beyond a short lock; connecting to the server happens in
// the background, and a play request made before the stream is ready starts it once it is.
// mp3device.cpp describes the threads inside.
//
// A sound server that goes away (crashes, restarts, loses its device) does not end the file:
// for about 30 seconds the device keeps trying to reach it again, with the mode and the
// position left where the listener had them, and then goes on from there. Only if the server
// stays away that long does the device stop and report it through LastError.
#include <QString>

#include <cstdint>
#include <memory>

#include "audio/mp3length.h"

enum class TMp3Mode : int {
  NotReady = 0,  // no file open (or it could not be opened)
  Stopped = 1,   // open, silent; the position stays where it was
  Playing = 2,   // until the last sample has been heard
  Paused = 3,
};

class TMp3Device {
 public:
  static constexpr int kMaxVolume = 1000;

  TMp3Device();
  ~TMp3Device();
  TMp3Device(const TMp3Device&) = delete;
  TMp3Device& operator=(const TMp3Device&) = delete;

  // Closes any open file first. Fails for a file that is not MP3 audio, cannot be read, or when
  // the sound server cannot be reached and none was lost in the last 30 seconds; the device is
  // then not ready. While a lost server is awaited it succeeds, and the file plays once the
  // server is back.
  int Open(const QString& path);
  int Close();

  int Length(std::int64_t* ms) const;
  // What the listener hears now, in milliseconds from the start of the file.
  int Position(std::int64_t* ms) const;
  // While the server is awaited: what the listener set, and the position where they were.
  TMp3Mode Mode() const;

  int Play();    // from the current position; while paused the same as Resume
  int Pause();   // MP3_ERR_MODE when stopped
  int Resume();  // MP3_ERR_MODE when stopped
  int Stop();    // silence; the position stays
  // 0..length. While playing, playback goes on from there; otherwise only the position moves.
  int Seek(std::int64_t ms);

  // 0..1000, applied to the samples (500 halves the amplitude); kept across files.
  int SetVolume(int volume);
  int Volume() const;

  // A failure that came between calls and was not recovered from (the server stayed away, the
  // stream was refused): the device then stops, the position where it was. MP3_OK when none;
  // reset by Open.
  int LastError() const;

 private:
  class Impl;
  std::unique_ptr<Impl> d_;
};
