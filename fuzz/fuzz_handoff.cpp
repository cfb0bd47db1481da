// Feeds arbitrary bytes to the reader of the hand-off socket, which any program of the user can
// write to: a frame is taken only whole, exactly as it was sent, with a path of sane size and no
// zero byte; anything else waits for more or is refused.
#include <string_view>

#include "fuzz/fuzzcheck.h"
#include "platform/handoffframe.h"

using fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view received(reinterpret_cast<const char*>(data), size);
  const platform::HandOffFrame frame = platform::DecodeHandOffFrame(received);
  using State = platform::HandOffFrame::State;
  switch (frame.state) {
    case State::Complete:
      Check(frame.used <= size, "used more than was received");
      Check(frame.path.size() <= platform::kHandOffMaxPath, "path over the limit");
      Check(frame.path.find('\0') == std::string::npos, "path with a zero byte");
      Check(platform::EncodeHandOffFrame(frame.path) == received.substr(0, frame.used),
            "the frame is not what was sent");
      break;
    case State::NeedMore:
      // Every shorter start of a whole frame must also wait, never be taken or refused.
      Check(size < 4 ||
                platform::DecodeHandOffFrame(received.substr(0, size - 1)).state == State::NeedMore,
            "a shorter start did not wait");
      break;
    case State::Bad:
      break;
  }
  return 0;
}
