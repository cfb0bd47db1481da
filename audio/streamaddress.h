#pragma once
// Which addresses a network stream may be opened from. Only http and https are ever fetched:
// for the address the player passes, for every redirect and for every play list entry, so a
// station (or whoever answers for it) can never make the player read a local file or speak
// another protocol. One open follows a bounded chain of redirects and play lists.
//
// Threading: no shared state.
#include <cstddef>
#include <string>
#include <string_view>

namespace netstream {

inline constexpr std::size_t kMaxAddressBytes = 8 * 1024;
inline constexpr int kMaxRedirects = 5;
inline constexpr int kMaxPlaylistHops = 3;

// BASS_OK when `address` is an absolute http:// or https:// address (scheme in any case) with a
// host, a port (if any) in 1..65535, and no blank or control byte; BASS_ERROR_ADDRESS otherwise.
// Bytes above 0x7F are allowed: play lists carry addresses in their own code page.
int CheckStreamAddress(std::string_view address);

// `reference` (a Location value or a play list entry) read relative to `base`: an address with a
// scheme stands alone; "//host/..." takes the base's scheme; "/path" the base's scheme and
// host; "?query" the base's path; anything else replaces the last segment of the base's path.
// Dot segments are left for the server. The result still has to pass CheckStreamAddress.
std::string ResolveAddress(std::string_view base, std::string_view reference);

// The addresses of one open, hop by hop. Each call returns BASS_OK and moves current() on, or
// returns the error that ends the open and leaves current() where it was.
class TAddressChain {
 public:
  // The address the player passed.
  int Start(std::string_view address);
  // A redirect's Location, relative to current(); BASS_ERROR_REDIRECT after kMaxRedirects.
  int Redirect(std::string_view location);
  // The entry a play list at current() named; BASS_ERROR_REDIRECT after kMaxPlaylistHops.
  int FollowPlaylist(std::string_view entry);

  const std::string& current() const { return current_; }
  int redirects() const { return redirects_; }
  int playlistHops() const { return playlistHops_; }

 private:
  int MoveTo(std::string_view reference, int* counter, int limit);

  std::string current_;
  int redirects_ = 0;
  int playlistHops_ = 0;
};

}  // namespace netstream
