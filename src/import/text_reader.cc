#include "import/text_reader.h"

#include <cstring>

#include "common/exceptions.h"

namespace {

constexpr char kLf = '\n';
constexpr char kCr = '\r';
constexpr char kCtrlZ = '\x1a';

// The first CR or Ctrl-Z in [begin, end), or end.
const char* FindSpecial(const char* begin, const char* end) {
  const char* cr = static_cast<const char*>(std::memchr(begin, kCr, end - begin));
  const char* limit = cr ? cr : end;
  const char* z = static_cast<const char*>(std::memchr(begin, kCtrlZ, limit - begin));
  return z ? z : limit;
}

}  // namespace

TTextReader::TTextReader() = default;

TTextReader::~TTextReader() = default;

void TTextReader::Open(const std::string& file_name) {
  plat::Status status = file_.Open(file_name);
  if (status != plat::kErrorSuccess) throw EInOutError(status);
  if (!buffer_) buffer_.reset(new char[kBufferSize]);
  pos_ = end_ = 0;
  at_end_of_file_ = false;
  ended_ = false;
}

bool TTextReader::Fill() {
  if (pos_ < end_) return true;
  if (at_end_of_file_) return false;
  if (!file_.IsOpen()) throw EInOutError(plat::kErrorInvalidHandle);
  std::size_t got = 0;
  plat::Status status = file_.Read(buffer_.get(), kBufferSize, &got);
  if (status != plat::kErrorSuccess) throw EInOutError(status);
  pos_ = 0;
  end_ = got;
  if (got == 0) {
    at_end_of_file_ = true;
    return false;
  }
  return true;
}

bool TTextReader::Eof() {
  if (ended_) return true;
  if (!Fill()) return true;
  return buffer_[pos_] == kCtrlZ;
}

std::string TTextReader::ReadLine() {
  std::string line;
  ReadLine(line);
  return line;
}

void TTextReader::ReadLine(std::string& line) {
  line.clear();
  if (ended_) return;
  while (Fill()) {
    const char* begin = buffer_.get() + pos_;
    const char* end = buffer_.get() + end_;
    const char* lf = static_cast<const char*>(std::memchr(begin, kLf, end - begin));
    const char* stop = lf ? lf : end;
    const char* special = FindSpecial(begin, stop);
    line.append(begin, special);
    if (special == stop) {
      pos_ = static_cast<std::size_t>(stop - buffer_.get());
      if (lf) {
        ++pos_;  // past the LF
        return;
      }
      continue;  // the line goes on in the next block
    }
    pos_ = static_cast<std::size_t>(special - buffer_.get()) + 1;
    if (*special == kCtrlZ) {
      SkipRestOfLine();
      return;
    }
    // A CR: it ends the line when a LF follows, possibly in the next block;
    // otherwise it is dropped.
    if (!Fill()) return;
    if (buffer_[pos_] == kLf) {
      ++pos_;
      return;
    }
  }
}

void TTextReader::SkipRestOfLine() {
  while (Fill()) {
    const char* begin = buffer_.get() + pos_;
    const char* end = buffer_.get() + end_;
    const char* lf = static_cast<const char*>(std::memchr(begin, kLf, end - begin));
    const char* stop = lf ? lf : end;
    if (std::memchr(begin, kCtrlZ, stop - begin) != nullptr) {
      ended_ = true;
      return;
    }
    pos_ = static_cast<std::size_t>(stop - buffer_.get());
    if (lf) {
      ++pos_;
      return;
    }
  }
}

void TTextReader::Close() {
  plat::Status status = file_.Close();
  pos_ = end_ = 0;
  if (status != plat::kErrorSuccess) throw EInOutError(status);
}
