#include "platform/handoffframe.h"

namespace platform {

std::string EncodeHandOffFrame(std::string_view path) {
  const auto size = static_cast<std::uint32_t>(path.size());
  std::string frame;
  frame.reserve(4 + path.size());
  for (const int shift : {24, 16, 8, 0}) frame.push_back(static_cast<char>((size >> shift) & 0xff));
  frame.append(path);
  return frame;
}

HandOffFrame DecodeHandOffFrame(std::string_view received) {
  HandOffFrame frame;
  if (received.size() < 4) return frame;
  std::uint32_t size = 0;
  for (int i = 0; i < 4; ++i) size = (size << 8) | static_cast<unsigned char>(received[i]);
  if (size > kHandOffMaxPath) {
    frame.state = HandOffFrame::State::Bad;
    return frame;
  }
  if (received.size() - 4 < size) return frame;
  // No system path holds a zero byte.
  if (received.substr(4, size).find('\0') != std::string_view::npos) {
    frame.state = HandOffFrame::State::Bad;
    return frame;
  }
  frame.state = HandOffFrame::State::Complete;
  frame.path.assign(received.substr(4, size));
  frame.used = 4 + size;
  return frame;
}

}  // namespace platform
