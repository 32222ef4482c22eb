#include "platform/message_recorder.h"

namespace plat {

namespace {

MessageRecorder& Recorder() {
  static MessageRecorder recorder;
  return recorder;
}

}  // namespace

void SetMessageRecorder(MessageRecorder recorder) {
  Recorder() = std::move(recorder);
}

bool RecordMessage(Window owner, const std::string& text, const std::string& caption,
                   std::uint32_t type) {
  const MessageRecorder& recorder = Recorder();
  if (!recorder)
    return false;
  recorder(ShownMessage{owner, text, caption, type});
  return true;
}

}  // namespace plat
