#include "audio/streamplaylist.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "audio/asciitext.h"
#include "audio/bass.h"

namespace netstream {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view StripBom(std::string_view body) {
  if (body.starts_with(kUtf8Bom)) body.remove_prefix(kUtf8Bom.size());
  return body;
}

// Calls take(line) for each line (without its line break) until it returns false.
template <typename Take>
void ForEachLine(std::string_view text, Take take) {
  while (!text.empty()) {
    const std::size_t nl = text.find('\n');
    const std::string_view line = text.substr(0, nl);
    if (!take(line)) return;
    if (nl == std::string_view::npos) return;
    text.remove_prefix(nl + 1);
  }
}

// The media type of a Content-Type value, without parameters or blanks, e.g. "audio/x-scpls".
std::string_view MediaType(std::string_view contentType) {
  return Trim(contentType.substr(0, contentType.find(';')));
}

TPlaylistKind KindOfMediaType(std::string_view type) {
  static constexpr std::string_view kPls[] = {"audio/x-scpls", "audio/scpls", "application/pls+xml",
                                              "application/pls"};
  static constexpr std::string_view kM3u[] = {
      "audio/x-mpegurl", "audio/mpegurl", "application/x-mpegurl", "application/vnd.apple.mpegurl",
      "application/mpegurl"};
  for (std::string_view t : kPls) {
    if (EqualNoCase(type, t)) return TPlaylistKind::kPls;
  }
  for (std::string_view t : kM3u) {
    if (EqualNoCase(type, t)) return TPlaylistKind::kM3u;
  }
  return TPlaylistKind::kNone;
}

// "File<digits>" (any case) → its number; nullopt for any other key or an absurd number.
std::optional<std::uint32_t> FileNumber(std::string_view key) {
  if (!StartsWithNoCase(key, "file") || key.size() == 4 || key.size() > 4 + 9) return std::nullopt;
  std::uint32_t n = 0;
  for (char c : key.substr(4)) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return n;
}

int ReadPls(std::string_view body, std::string* entry) {
  bool inPlaylist = true;  // entries before the first section header count
  std::optional<std::uint32_t> best;
  std::string_view bestValue;
  ForEachLine(StripBom(body), [&](std::string_view line) {
    line = Trim(line);
    if (line.starts_with('[')) {
      const std::size_t close = line.find(']');
      const std::string_view section =
          Trim(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
      inPlaylist = EqualNoCase(section, "playlist");
      return true;
    }
    if (!inPlaylist) return true;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return true;
    const std::optional<std::uint32_t> n = FileNumber(Trim(line.substr(0, eq)));
    const std::string_view value = Trim(line.substr(eq + 1));
    // The first of a repeated key wins, as in the INI reading of local lists.
    if (n && !value.empty() && (!best || *n < *best)) {
      best = n;
      bestValue = value;
    }
    return true;
  });
  if (!best) return BASS_ERROR_FORMAT;
  *entry = std::string(bestValue);
  return BASS_OK;
}

int ReadM3u(std::string_view body, std::string* entry) {
  std::optional<std::string_view> found;
  ForEachLine(StripBom(body), [&](std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.starts_with('#')) return true;
    found = line;
    return false;
  });
  if (!found) return BASS_ERROR_FORMAT;
  *entry = std::string(*found);
  return BASS_OK;
}

}  // namespace

TPlaylistKind DetectPlaylist(std::string_view contentType, std::string_view body) {
  const std::string_view type = MediaType(contentType);
  if (const TPlaylistKind kind = KindOfMediaType(type); kind != TPlaylistKind::kNone) return kind;
  if (StartsWithNoCase(type, "audio/") || StartsWithNoCase(type, "video/") ||
      EqualNoCase(type, "application/ogg")) {
    return TPlaylistKind::kNone;
  }
  const std::string_view head = Trim(StripBom(body.substr(0, kPlaylistSniffBytes)));
  if (StartsWithNoCase(head, "[playlist]")) return TPlaylistKind::kPls;
  if (StartsWithNoCase(head, "#EXTM3U")) return TPlaylistKind::kM3u;
  const std::string_view firstLine = Trim(head.substr(0, head.find('\n')));
  if (StartsWithNoCase(firstLine, "http://") || StartsWithNoCase(firstLine, "https://")) {
    return TPlaylistKind::kM3u;
  }
  return TPlaylistKind::kNone;
}

int ReadPlaylistEntry(TPlaylistKind kind, std::string_view body, std::string* entry) {
  body = body.substr(0, kMaxPlaylistBytes);
  switch (kind) {
    case TPlaylistKind::kPls:
      return ReadPls(body, entry);
    case TPlaylistKind::kM3u:
      return ReadM3u(body, entry);
    case TPlaylistKind::kNone:
      break;
  }
  return BASS_ERROR_FORMAT;
}

}  // namespace netstream
