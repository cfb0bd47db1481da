// Feeds arbitrary bytes to the play list readers and the address rule, in memory: the first line
// is the answer's Content-Type, the rest its body. Whatever the body names, the only addresses
// that pass are absolute http or https ones without blanks or control bytes, and each entry is a
// trimmed piece of the body.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "audio/bass.h"
#include "audio/streamaddress.h"
#include "audio/streamplaylist.h"
#include "fuzz/fuzzcheck.h"

namespace {

using fuzz::Check;

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    const char c = s[i] >= 'A' && s[i] <= 'Z' ? static_cast<char>(s[i] - 'A' + 'a') : s[i];
    if (c != prefix[i]) return false;
  }
  return true;
}

void CheckAccepted(std::string_view address) {
  Check(StartsWithNoCase(address, "http://") || StartsWithNoCase(address, "https://"),
        "an accepted address that is not http or https");
  Check(address.size() <= netstream::kMaxAddressBytes, "an accepted address past the bound");
  for (char c : address) {
    const auto u = static_cast<unsigned char>(c);
    Check(u > 0x20 && u != 0x7F, "an accepted address with a blank or control byte");
  }
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t nl = input.find('\n');
  const std::string_view contentType = input.substr(0, nl);
  const std::string_view body =
      nl == std::string_view::npos ? std::string_view() : input.substr(nl + 1);

  if (netstream::CheckStreamAddress(body) == BASS_OK) CheckAccepted(body);

  const netstream::TPlaylistKind detected = netstream::DetectPlaylist(contentType, body);
  for (netstream::TPlaylistKind kind :
       {detected, netstream::TPlaylistKind::kPls, netstream::TPlaylistKind::kM3u}) {
    std::string entry;
    const int error = netstream::ReadPlaylistEntry(kind, body, &entry);
    Check(error == BASS_OK || error == BASS_ERROR_FORMAT, "an unexpected error number");
    if (error != BASS_OK) continue;
    Check(!entry.empty(), "an empty entry");
    Check(!IsSpace(entry.front()) && !IsSpace(entry.back()), "an untrimmed entry");
    Check(entry.find('\n') == std::string::npos, "an entry spanning lines");
    Check(body.find(entry) != std::string_view::npos, "an entry that is not in the body");

    netstream::TAddressChain chain;
    Check(chain.Start("http://list.test/dir/station.pls") == BASS_OK, "the start was refused");
    const int follow = chain.FollowPlaylist(entry);
    Check(follow == BASS_OK || follow == BASS_ERROR_ADDRESS, "an unexpected follow error");
    CheckAccepted(chain.current());
    const int redirect = chain.Redirect(entry);
    Check(redirect == BASS_OK || redirect == BASS_ERROR_ADDRESS, "an unexpected redirect error");
    CheckAccepted(chain.current());

    // Read against an arbitrary base too; the rule must hold whatever the base was.
    const std::string resolved = netstream::ResolveAddress(contentType, entry);
    if (netstream::CheckStreamAddress(resolved) == BASS_OK) CheckAccepted(resolved);
  }
  return 0;
}
