#include "audio/streamaddress.h"

#include "audio/asciitext.h"
#include "audio/bass.h"

namespace netstream {

namespace {

bool IsAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Length of the scheme and its ':' when `s` starts with one (RFC 3986: a letter, then letters,
// digits, '+', '-', '.'), else 0.
std::size_t SchemeLength(std::string_view s) {
  if (s.empty() || !IsAlpha(s[0])) return 0;
  for (std::size_t i = 1; i < s.size(); ++i) {
    const char c = s[i];
    if (c == ':') return i + 1;
    if (!IsAlpha(c) && !IsDigit(c) && c != '+' && c != '-' && c != '.') return 0;
  }
  return 0;
}

// "scheme://authority" of an absolute address (everything before its path).
std::string_view Origin(std::string_view address) {
  const std::size_t scheme = SchemeLength(address);
  const std::size_t authority = address.substr(scheme).starts_with("//") ? scheme + 2 : scheme;
  const std::size_t pathStart = address.find_first_of("/?#", authority);
  return address.substr(0, pathStart);
}

bool CheckAuthority(std::string_view authority) {
  const std::size_t at = authority.rfind('@');
  std::string_view hostPort = at == std::string_view::npos ? authority : authority.substr(at + 1);
  std::string_view host = hostPort;
  std::string_view port;
  if (hostPort.starts_with('[')) {
    // An IPv6 literal: "[::1]" or "[::1]:8000".
    const std::size_t close = hostPort.find(']');
    if (close == std::string_view::npos || close == 1) return false;
    host = hostPort.substr(0, close + 1);
    const std::string_view after = hostPort.substr(close + 1);
    if (!after.empty()) {
      if (after[0] != ':') return false;
      port = after.substr(1);
      if (port.empty()) return false;
    }
  } else if (const std::size_t colon = hostPort.rfind(':'); colon != std::string_view::npos) {
    host = hostPort.substr(0, colon);
    port = hostPort.substr(colon + 1);
    if (port.empty()) return false;
  }
  if (host.empty()) return false;
  if (!port.empty()) {
    if (port.size() > 5) return false;
    unsigned n = 0;
    for (char c : port) {
      if (!IsDigit(c)) return false;
      n = n * 10 + static_cast<unsigned>(c - '0');
    }
    if (n < 1 || n > 65535) return false;
  }
  return true;
}

}  // namespace

int CheckStreamAddress(std::string_view address) {
  if (address.empty() || address.size() > kMaxAddressBytes) return BASS_ERROR_ADDRESS;
  for (char c : address) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F) return BASS_ERROR_ADDRESS;
  }
  std::size_t rest;
  if (StartsWithNoCase(address, "http://")) {
    rest = 7;
  } else if (StartsWithNoCase(address, "https://")) {
    rest = 8;
  } else {
    return BASS_ERROR_ADDRESS;
  }
  const std::string_view authority = Origin(address).substr(rest);
  return CheckAuthority(authority) ? BASS_OK : BASS_ERROR_ADDRESS;
}

std::string ResolveAddress(std::string_view base, std::string_view reference) {
  if (SchemeLength(reference) > 0) return std::string(reference);
  if (reference.starts_with("//")) {
    return std::string(base.substr(0, SchemeLength(base))) + std::string(reference);
  }
  const std::string_view origin = Origin(base);
  if (reference.starts_with('/')) return std::string(origin) + std::string(reference);

  std::string_view path = base.substr(origin.size());
  path = path.substr(0, path.find('#'));
  if (reference.starts_with('?')) {
    path = path.substr(0, path.find('?'));
    return std::string(origin) + std::string(path.empty() ? "/" : path) + std::string(reference);
  }
  path = path.substr(0, path.find('?'));
  const std::size_t slash = path.rfind('/');
  const std::string_view directory =
      slash == std::string_view::npos ? "/" : path.substr(0, slash + 1);
  return std::string(origin) + std::string(directory) + std::string(reference);
}

int TAddressChain::Start(std::string_view address) {
  if (const int e = CheckStreamAddress(address)) return e;
  current_ = std::string(address);
  redirects_ = 0;
  playlistHops_ = 0;
  return BASS_OK;
}

int TAddressChain::Redirect(std::string_view location) {
  return MoveTo(location, &redirects_, kMaxRedirects);
}

int TAddressChain::FollowPlaylist(std::string_view entry) {
  return MoveTo(entry, &playlistHops_, kMaxPlaylistHops);
}

int TAddressChain::MoveTo(std::string_view reference, int* counter, int limit) {
  if (current_.empty()) return BASS_ERROR_ADDRESS;  // Start failed or never ran
  if (*counter >= limit) return BASS_ERROR_REDIRECT;
  if (reference.empty()) return BASS_ERROR_ADDRESS;
  std::string next = ResolveAddress(current_, reference);
  if (const int e = CheckStreamAddress(next)) return e;
  current_ = std::move(next);
  ++*counter;
  return BASS_OK;
}

}  // namespace netstream
