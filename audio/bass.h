#pragma once
// The audio library for network streams and the stream output volume: the calls, argument
// meanings and results the player relies on. It is built into the program, so it is always
// present; its version answers 0x0204 in the high 16 bits.
//
// Threading: every call may come from any thread; the library's state is guarded by one
// internal mutex. Initialising does not need a sound server: the connection is made when a
// stream first plays, so the program starts on any desktop.
#include <cstdint>

using DWORD = std::uint32_t;
using QWORD = std::uint64_t;
using BOOL = int;
using HSTREAM = DWORD;
using HSYNC = DWORD;

inline constexpr BOOL BASS_TRUE = 1;
inline constexpr BOOL BASS_FALSE = 0;

// Configuration options (BASS_SetConfig).
// 0: never, 1: follow play lists at the address.
inline constexpr DWORD BASS_CONFIG_NET_PLAYLIST = 21;

// Stream creation flags.
inline constexpr DWORD BASS_STREAM_STATUS = 0x800000;  // pass status texts to the download callback

// BASS_StreamGetFilePosition modes.
inline constexpr DWORD BASS_FILEPOS_CURRENT = 0;
inline constexpr DWORD BASS_FILEPOS_DOWNLOAD = 1;
inline constexpr DWORD BASS_FILEPOS_END = 2;

// Tag kinds and sync kinds.
inline constexpr DWORD BASS_TAG_META = 5;
inline constexpr DWORD BASS_SYNC_META = 4;

// Error numbers reported by BASS_ErrorGetCode for the last call of the calling thread.
enum : int {
  BASS_OK = 0,
  BASS_ERROR_NOT_INIT = 1,       // a call that needs BASS_Init came first
  BASS_ERROR_ALREADY = 2,        // BASS_Init while already initialised
  BASS_ERROR_ILLPARAM = 3,       // an argument outside its range
  BASS_ERROR_DEVICE = 4,         // no such output device
  BASS_ERROR_HANDLE = 5,         // not a valid stream handle
  BASS_ERROR_NOT_AVAILABLE = 6,  // the call is not available in this build
  // Opening a network stream.
  BASS_ERROR_ADDRESS = 7,    // empty or malformed address, or a protocol other than http/https
  BASS_ERROR_CONNECT = 8,    // the server cannot be reached or closed the connection
  BASS_ERROR_HTTP = 9,       // the server answered with an error status
  BASS_ERROR_TIMEOUT = 10,   // the server stopped answering
  BASS_ERROR_FORMAT = 11,    // the answer is not an audio stream or play list the library reads
  BASS_ERROR_REDIRECT = 12,  // more redirects or nested play lists than one open follows
  BASS_ERROR_UNKNOWN = -1,
};

// Callbacks run on a stream's download thread. They may read from the library (tags, file
// positions) but must not free or stop streams, nor wait for a thread that is waiting for them.
using DOWNLOADPROC = void(const void* buffer, DWORD length, void* user);
using SYNCPROC = void(HSYNC handle, DWORD channel, DWORD data, void* user);

extern "C" {
DWORD BASS_GetVersion();
// device -1 is the default output; freq in Hz; win is the owner window (may be null).
BOOL BASS_Init(int device, DWORD freq, DWORD flags, void* win, const void* clsid);
BOOL BASS_SetConfig(DWORD option, DWORD value);
DWORD BASS_GetConfig(DWORD option);
BOOL BASS_Free();
BOOL BASS_Stop();
BOOL BASS_SetVolume(float volume);  // 0..1
float BASS_GetVolume();
int BASS_ErrorGetCode();

BOOL BASS_StreamFree(HSTREAM handle);
// Returns once the stream's first audio has arrived and its format is known, or the open has
// failed (time-outs bound both), so call it off any thread that must stay responsive; BASS_Free
// from another thread abandons the open at once. MP3, AAC (ADTS) and Ogg Vorbis streams play;
// any other answer fails with BASS_ERROR_FORMAT. Nothing is decoded before BASS_ChannelPlay, so
// the buffer fills meanwhile. `proc` receives each answer's status line as a zero-terminated
// text with length 0 when flags hold BASS_STREAM_STATUS.
HSTREAM BASS_StreamCreateURL(const char* url, DWORD offset, DWORD flags, DOWNLOADPROC* proc,
                             void* user);
// Byte counts of the download buffer: CURRENT read by the player, DOWNLOAD received, END the
// buffer's size. END fails once the download is over, since the buffer can fill no further.
QWORD BASS_StreamGetFilePosition(HSTREAM handle, DWORD mode);
// The last metadata block's text, or null before the first. The pointer stays valid until the
// same thread calls again.
const char* BASS_ChannelGetTags(DWORD handle, DWORD tags);
// BASS_SYNC_META: `proc` runs on the stream's download thread for every new metadata block.
HSYNC BASS_ChannelSetSync(DWORD handle, DWORD type, QWORD param, SYNCPROC* proc, void* user);
// Starts decoding and sound on threads of the library's own and returns at once; the sound
// server is looked for in the background. Again after BASS_Stop, plays what the ended download
// had left in its buffer.
BOOL BASS_ChannelPlay(DWORD handle, BOOL restart);
}
