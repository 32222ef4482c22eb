#include "import/text_reader.h"

#include <algorithm>

#include "common/exceptions.h"
#include "import/line_scan.h"

namespace {

constexpr char kLf = '\n';
constexpr char kCr = '\r';
constexpr char kCtrlZ = '\x1a';

}  // namespace

TTextReader::TTextReader() = default;

TTextReader::~TTextReader() = default;

void TTextReader::Open(const std::string& file_name) {
  plat::Status status = file_.Open(file_name);
  if (status != plat::kErrorSuccess)
    throw EInOutError(status);
  if (!buffer_)
    buffer_.reset(new char[kBufferSize]);
  pos_ = end_ = 0;
  line_number_ = 0;
  window_valid_ = false;
  at_end_of_file_ = false;
  ended_ = false;
}

bool TTextReader::Fill() {
  if (pos_ < end_)
    return true;
  if (at_end_of_file_)
    return false;
  if (!file_.IsOpen())
    throw EInOutError(plat::kErrorInvalidHandle);
  if (before_read_)
    before_read_();
  std::size_t got = 0;
  plat::Status status = file_.Read(buffer_.get(), kBufferSize, &got);
  if (status != plat::kErrorSuccess)
    throw EInOutError(status);
  pos_ = 0;
  end_ = got;
  window_valid_ = false;
  if (got == 0) {
    at_end_of_file_ = true;
    return false;
  }
  return true;
}

bool TTextReader::EofAtBlockEnd() {
  if (ended_)
    return true;
  try {
    if (!Fill())
      return true;
  } catch (const EInOutError&) {
    // The read was for the next line: that is the line the failure
    // concerns.
    ++line_number_;
    throw;
  }
  return buffer_[pos_] == kCtrlZ;
}

std::size_t TTextReader::NextBreak(std::size_t from) {
  std::size_t start = from;
  if (window_valid_ && from >= window_start_ && from < window_start_ + 64) {
    std::uint64_t later = window_breaks_ >> (from - window_start_);
    if (later != 0)
      return from + LowestBit(later);
    start = window_start_ + 64;
  }
  for (; start + 64 <= end_; start += 64) {
    std::uint64_t breaks = LineBreakMask64(buffer_.get() + start);
    if (breaks != 0) {
      window_start_ = start;
      window_breaks_ = breaks;
      window_valid_ = true;
      return start + LowestBit(breaks);
    }
  }
  return static_cast<std::size_t>(FindLineBreak(buffer_.get() + start, buffer_.get() + end_) -
                                  buffer_.get());
}

std::string_view TTextReader::ReadLineFromBlock() {
  cut_ = false;
  if (ended_ || !Fill())
    return std::string_view();
  const char* block = buffer_.get();
  std::size_t brk = NextBreak(pos_);
  if (brk < end_) {
    std::string_view line(block + pos_, brk - pos_);
    if (block[brk] == kLf) {
      pos_ = brk + 1;
      return line;
    }
    if (block[brk] == kCr && brk + 1 < end_ && block[brk + 1] == kLf) {
      pos_ = brk + 2;
      return line;
    }
  }
  line_.clear();
  keep_decided_ = false;
  keep_limit_ = kMaxLineLength;
  ReadLineSlowly();
  return line_;
}

void TTextReader::Keep(const char* begin, const char* end) {
  std::size_t count = static_cast<std::size_t>(end - begin);
  if (!keep_decided_ && line_.size() + count >= kHeadLength) {
    const std::size_t take = kHeadLength - line_.size();
    line_.append(begin, take);
    begin += take;
    count -= take;
    keep_decided_ = true;
    if (keep_whole_ && !keep_whole_(line_))
      keep_limit_ = kHeadLength;
  }
  const std::size_t room = keep_limit_ > line_.size() ? keep_limit_ - line_.size() : 0;
  if (count > room) {
    cut_ = true;
    count = room;
  }
  if (count == 0)
    return;
  // A line longer than a block gets room for the most that is kept of it at
  // once: the system hands out that memory only as it is written, and the
  // line is never copied again, nor are the smaller buffers it outgrew left
  // behind.
  const std::size_t needed = line_.size() + count;
  if (needed > line_.capacity())
    line_.reserve(needed <= kBufferSize ? std::max(needed, 2 * line_.capacity()) : keep_limit_);
  line_.append(begin, count);
}

void TTextReader::ReadLineSlowly() {
  while (Fill()) {
    const char* begin = buffer_.get() + pos_;
    const char* end = buffer_.get() + end_;
    const char* brk = FindLineBreak(begin, end);
    Keep(begin, brk);
    pos_ = static_cast<std::size_t>(brk - buffer_.get());
    if (brk == end)
      continue;  // the line goes on in the next block
    ++pos_;
    if (*brk == kLf)
      return;
    if (*brk == kCtrlZ) {
      SkipRestOfLine();
      return;
    }
    // A CR ends the line when a LF follows, possibly in the next block;
    // otherwise it is dropped.
    if (!Fill())
      return;
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
    const char* brk = FindLineBreak(begin, end);
    pos_ = static_cast<std::size_t>(brk - buffer_.get());
    if (brk == end)
      continue;
    ++pos_;
    if (*brk == kLf)
      return;
    if (*brk == kCtrlZ) {
      ended_ = true;
      return;
    }
  }
}

void TTextReader::Close() {
  plat::Status status = file_.Close();
  pos_ = end_ = 0;
  if (status != plat::kErrorSuccess)
    throw EInOutError(status);
}
