#include "platform/message_recorder.h"

#include "regdefs/shown_text.h"

namespace plat {

namespace {

MessageRecorder& Recorder() {
  static MessageRecorder recorder;
  return recorder;
}

struct Location {
  std::string file_name;
  std::uint64_t line = 0;
};

Location& CurrentLocation() {
  static Location location;
  return location;
}

}  // namespace

void SetMessageRecorder(MessageRecorder recorder) {
  Recorder() = std::move(recorder);
}

void SetMessageLocation(const std::string& file_name, std::uint64_t line) {
  Location& location = CurrentLocation();
  location.file_name = file_name;
  location.line = line;
}

std::string MessageLocationPrefix() {
  const Location& location = CurrentLocation();
  if (location.file_name.empty())
    return std::string();
  std::string prefix = MessageFileName(location.file_name) + ":";
  if (location.line != 0)
    prefix += std::to_string(location.line) + ":";
  return prefix + " ";
}

bool RecordMessage(Window owner, const std::string& text, const std::string& caption,
                   std::uint32_t type) {
  const MessageRecorder& recorder = Recorder();
  if (!recorder)
    return false;
  recorder(ShownMessage{owner, text, caption, type});
  return true;
}

std::string MessageAsLines(const std::string& text, const std::string& caption) {
  // The box takes C strings: each ends at its first NUL.
  const auto shown = [](const std::string& part, std::string* out) {
    regdefs::AppendShown(std::string_view(part).substr(0, part.find('\0')), regdefs::kShowLines,
                         out);
    *out += '\n';
  };
  std::string out;
  shown(caption, &out);
  shown(text, &out);
  return out;
}

}  // namespace plat
