#pragma once
// The master mute: the mute switch of the sound server's default sink. A call connects to the
// server (PULSE_SERVER, or the usual sockets under XDG_RUNTIME_DIR), sets the switch and
// disconnects on a main loop of its own, so any thread may call it without an event loop, the
// GUI thread included. It never starts a server, and every wait is bounded.

namespace platform {

// Error numbers of the mute call; 0 is success.
enum TMuteError : int {
  kMuteOk = 0,
  kMuteNoServer = 1,  // no sound server answers, or it went away during the call
  kMuteNoSink = 2,    // the server has no default sink, or it went away during the call
  kMuteRefused = 3,   // the server turned the connection or the request down
  kMuteTimeout = 4,   // the server took the connection but did not finish within the bound
};

// Mutes or unmutes the sound server's default sink. Returns within about 2 s, even against a
// server that accepts the connection and never answers.
int setMasterMute(bool muted);

}  // namespace platform
