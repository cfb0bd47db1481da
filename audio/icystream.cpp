#include "audio/icystream.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "audio/asciitext.h"
#include "audio/bass.h"

namespace netstream {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Header name characters (RFC 9110 token).
bool IsTokenChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u <= 0x20 || u >= 0x7F) return false;
  return !std::strchr("\"(),/:;<=>?@[\\]{}", c);
}

}  // namespace

std::optional<std::string_view> TResponseHead::Header(std::string_view name) const {
  for (const auto& [n, v] : headers) {
    if (EqualNoCase(n, name)) return std::string_view(v);
  }
  return std::nullopt;
}

int TResponseHead::StatusError() const {
  return status >= 200 && status <= 299 ? BASS_OK : BASS_ERROR_HTTP;
}

bool TResponseHead::IsRedirect() const {
  const bool redirectStatus =
      status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
  return redirectStatus && !location.empty();
}

std::optional<std::uint32_t> ParseMetaInterval(std::string_view value) {
  value = Trim(value);
  if (value.empty()) return std::nullopt;
  std::uint64_t n = 0;
  for (char c : value) {
    if (!IsDigit(c)) return std::nullopt;
    n = n * 10 + static_cast<unsigned>(c - '0');
    if (n > kMaxMetaInterval) return std::nullopt;  // also keeps n from overflowing
  }
  return static_cast<std::uint32_t>(n);
}

std::size_t TResponseHeadParser::Fail() {
  state_ = State::kFailed;
  error_ = BASS_ERROR_FORMAT;
  line_.clear();
  line_.shrink_to_fit();
  return 0;
}

std::size_t TResponseHeadParser::Feed(const std::uint8_t* data, std::size_t size) {
  if (state_ != State::kNeedMore) return 0;
  const char* const begin = reinterpret_cast<const char*>(data);
  const char* p = begin;
  const char* const end = begin + size;
  while (p < end) {
    const char* nl =
        static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    const std::size_t take = static_cast<std::size_t>((nl ? nl + 1 : end) - p);
    // Counted before anything is kept, so an endless head fails at the bound instead of
    // growing the line buffer.
    headBytes_ += take;
    if (headBytes_ > kMaxHeadBytes) return Fail();
    if (!nl) {
      line_.append(p, take);
      return size;
    }
    std::string_view line;
    if (line_.empty()) {
      line = std::string_view(p, static_cast<std::size_t>(nl - p));
    } else {
      line_.append(p, static_cast<std::size_t>(nl - p));
      line = line_;
    }
    p = nl + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const bool ok = TakeLine(line);
    line_.clear();
    if (!ok) return Fail();
    if (state_ == State::kDone) return static_cast<std::size_t>(p - begin);
  }
  return size;
}

bool TResponseHeadParser::TakeLine(std::string_view line) {
  if (!haveStatus_) {
    // A client may skip blank lines before the status line.
    if (line.empty()) return true;
    return TakeStatusLine(line);
  }
  if (line.empty()) {
    state_ = State::kDone;
    return true;
  }
  return TakeHeader(line);
}

// "HTTP/1.1 200 OK", "HTTP/2 200", "ICY 200 OK".
bool TResponseHeadParser::TakeStatusLine(std::string_view line) {
  std::string_view rest;
  if (line.starts_with("ICY ")) {
    head_.icy = true;
    rest = line.substr(4);
  } else if (line.starts_with("HTTP/")) {
    std::string_view version = line.substr(5);
    const std::size_t space = version.find(' ');
    if (space == std::string_view::npos) return false;
    rest = version.substr(space + 1);
    version = version.substr(0, space);
    const bool major = version.size() == 1 && IsDigit(version[0]);
    const bool majorMinor =
        version.size() == 3 && IsDigit(version[0]) && version[1] == '.' && IsDigit(version[2]);
    if (!major && !majorMinor) return false;
  } else {
    return false;
  }
  if (rest.size() < 3 || !IsDigit(rest[0]) || !IsDigit(rest[1]) || !IsDigit(rest[2])) {
    return false;
  }
  if (rest.size() > 3 && rest[3] != ' ') return false;
  head_.status = (rest[0] - '0') * 100 + (rest[1] - '0') * 10 + (rest[2] - '0');
  if (head_.status < 100 || head_.status > 599) return false;
  head_.reason = std::string(Trim(rest.size() > 3 ? rest.substr(4) : std::string_view()));
  haveStatus_ = true;
  return true;
}

bool TResponseHeadParser::TakeHeader(std::string_view line) {
  if (IsBlank(line.front())) {
    // An old-style continuation line; radio servers are not known to send them, but joining
    // keeps the following headers in step.
    if (head_.headers.empty()) return false;
    std::string& value = head_.headers.back().second;
    value += ' ';
    value += Trim(line);
    return true;
  }
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  const std::string_view name = line.substr(0, colon);
  if (!std::all_of(name.begin(), name.end(), IsTokenChar)) return false;
  const std::string_view value = Trim(line.substr(colon + 1));
  head_.headers.emplace_back(std::string(name), std::string(value));

  if (EqualNoCase(name, "icy-metaint")) {
    const std::optional<std::uint32_t> interval = ParseMetaInterval(value);
    if (!interval) return false;
    // Two different intervals leave no way to know where the blocks are.
    if (seenMetaInterval_ && *interval != head_.metaInterval) return false;
    seenMetaInterval_ = true;
    head_.metaInterval = *interval;
    return true;
  }
  struct Field {
    std::string_view name;
    std::string TResponseHead::*field;
  };
  static constexpr Field kFields[] = {
      {"location", &TResponseHead::location}, {"content-type", &TResponseHead::contentType},
      {"icy-name", &TResponseHead::icyName},  {"icy-genre", &TResponseHead::icyGenre},
      {"icy-url", &TResponseHead::icyUrl},    {"icy-description", &TResponseHead::icyDescription},
  };
  static_assert(std::size(kFields) <= 8 * sizeof(seenFields_));
  for (std::size_t i = 0; i < std::size(kFields); ++i) {
    const unsigned bit = 1u << i;
    if ((seenFields_ & bit) || !EqualNoCase(name, kFields[i].name)) continue;
    seenFields_ |= bit;
    head_.*(kFields[i].field) = std::string(value);
  }
  return true;
}

TIcyDemuxer::TIcyDemuxer(std::uint32_t interval, AudioSink audio, MetaSink meta)
    : interval_(interval),
      audio_(std::move(audio)),
      meta_(std::move(meta)),
      part_(Part::kAudio),
      left_(interval) {
  if (interval_ > 0) block_.reserve(kMaxMetaBlock);
}

void TIcyDemuxer::Feed(const std::uint8_t* data, std::size_t size) {
  if (interval_ == 0) {
    if (size > 0 && audio_) audio_(data, size);
    return;
  }
  const std::uint8_t* p = data;
  const std::uint8_t* const end = data + size;
  while (p < end) {
    const std::size_t available = static_cast<std::size_t>(end - p);
    switch (part_) {
      case Part::kAudio: {
        const std::size_t n = std::min(left_, available);
        if (audio_) audio_(p, n);
        p += n;
        left_ -= n;
        if (left_ == 0) part_ = Part::kLength;
        break;
      }
      case Part::kLength:
        left_ = static_cast<std::size_t>(*p++) * 16;
        if (left_ == 0) {
          part_ = Part::kAudio;
          left_ = interval_;
        } else {
          part_ = Part::kMeta;
          block_.clear();
        }
        break;
      case Part::kMeta: {
        const std::size_t n = std::min(left_, available);
        block_.append(reinterpret_cast<const char*>(p), n);
        p += n;
        left_ -= n;
        if (left_ == 0) {
          part_ = Part::kAudio;
          left_ = interval_;
          if (meta_) {
            std::string_view text = block_;
            text = text.substr(0, text.find('\0'));
            meta_(text);
          }
        }
        break;
      }
    }
  }
}

std::optional<std::string> ExtractStreamTitle(std::string_view metadata) {
  constexpr std::string_view kKey = "StreamTitle='";
  const std::size_t key = metadata.find(kKey);
  if (key == std::string_view::npos) return std::nullopt;
  std::string_view value = metadata.substr(key + kKey.size());
  std::size_t close = value.find("';");
  if (close == std::string_view::npos) close = value.rfind('\'');
  if (close != std::string_view::npos) value = value.substr(0, close);
  return std::string(value);
}

}  // namespace netstream
