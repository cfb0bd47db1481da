#pragma once
// The hand-off of a later start's command-line file over the local socket: the client sends one
// frame, a 4-byte big-endian length and that many bytes of the file's path (its system bytes, so
// that a name that is not UTF-8 arrives unchanged); the running copy answers one byte once it has
// taken the file. An empty path asks only that the window come to the front.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// No path is longer; a frame that claims more is not ours.
inline constexpr std::uint32_t kHandOffMaxPath = 64 * 1024;
inline constexpr char kHandOffTaken = '\x01';

// Whether `path` can be a handed path at all, whichever way it came: within the limit and
// without a zero byte, which no system path holds.
bool IsHandOffPath(std::string_view path);

std::string EncodeHandOffFrame(std::string_view path);

struct HandOffFrame {
  enum class State { NeedMore, Bad, Complete } state = State::NeedMore;
  std::string path;      // with Complete
  std::size_t used = 0;  // with Complete: the bytes of the frame
};
// Reads the frame at the start of `received`.
HandOffFrame DecodeHandOffFrame(std::string_view received);

}  // namespace platform
