#pragma once
// Play lists a radio server may answer with instead of audio: ".pls" (an INI text whose
// [playlist] section names File1, File2, ...) and ".m3u" / extended m3u (one address per line,
// "#" lines are comments). The stream side reads the first entry and opens that instead,
// through TAddressChain, which accepts http and https only.
//
// Threading: no shared state.
#include <cstddef>
#include <string>
#include <string_view>

namespace netstream {

enum class TPlaylistKind { kNone, kPls, kM3u };

// A play list body is read up to this many bytes; a longer one is read as far as that.
inline constexpr std::size_t kMaxPlaylistBytes = 64 * 1024;
// Without a play list content type, this many first bytes of the body (or all of a shorter
// one) are enough for DetectPlaylist to decide.
inline constexpr std::size_t kPlaylistSniffBytes = 512;

// What the body is, from the Content-Type value (parameters and case ignored) and, where that
// names no play list and no audio format (text/plain, application/octet-stream, missing), from
// the first bytes of the body: "[playlist]", "#EXTM3U", or a first line that is an http or
// https address. An audio content type is never sniffed, so audio data cannot pass as a list.
TPlaylistKind DetectPlaylist(std::string_view contentType, std::string_view body);

// The first entry of the list, with surrounding blanks removed: for .pls the lowest-numbered
// FileN of [playlist] (entries before any section count too); for .m3u the first line that is
// neither blank nor a comment. Returns BASS_OK and sets *entry, or BASS_ERROR_FORMAT when the
// list names nothing. The entry may be relative; TAddressChain::FollowPlaylist resolves and
// checks it.
int ReadPlaylistEntry(TPlaylistKind kind, std::string_view body, std::string* entry);

}  // namespace netstream
