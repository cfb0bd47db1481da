#include "platform/handoffframe.h"

namespace platform {

bool IsHandOffPath(std::string_view path) {
  return path.size() <= kHandOffMaxPath && path.find('\0') == std::string_view::npos;
}

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
  if (!IsHandOffPath(received.substr(4, size))) {
    frame.state = HandOffFrame::State::Bad;
    return frame;
  }
  frame.state = HandOffFrame::State::Complete;
  frame.path.assign(received.substr(4, size));
  frame.used = 4 + size;
  return frame;
}

}  // namespace platform
