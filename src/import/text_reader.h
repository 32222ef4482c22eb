// The reader of configuration files: a text file cut into lines.
#ifndef BREVLIN_IMPORT_TEXT_READER_H_
#define BREVLIN_IMPORT_TEXT_READER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "import/line_scan.h"
#include "platform/file.h"

// Reads a text file line by line, once, from first to last line.
//
// A line ends at LF or CR LF; the last line needs no line end. A CR that is
// not followed by LF is dropped from the text and ends nothing. A Ctrl-Z
// (0x1A) at the start of a line ends the file; inside a line it ends the
// line's text, and the rest of that line is skipped (a second Ctrl-Z there
// ends the file). Every other byte, NUL included, is part of the text.
//
// A line is kept whole up to kMaxLineLength bytes. A longer one is read
// through to its end, and only its first kMaxLineLength bytes are handed out,
// with LineWasCut() true. A line that the caller's KeepWhole test says needs
// nothing beyond its first kHeadLength bytes (a comment, say) keeps only those
// however long it is, so that memory does not grow with such a line either.
//
// Every failure raises EInOutError with the platform's error code. The file
// is read in large blocks; the reader holds one block and the current line.
class TTextReader {
 public:
  TTextReader();
  ~TTextReader();  // closes the file, ignoring any error
  TTextReader(const TTextReader&) = delete;
  TTextReader& operator=(const TTextReader&) = delete;

  void Open(const std::string& file_name);
  // True when no line is left: no byte is left, or the next one is Ctrl-Z.
  bool Eof() {
    if (pos_ < end_ && !ended_)
      return buffer_[pos_] == '\x1a';
    return EofAtBlockEnd();
  }
  // Reads the next line and moves past its line end. The view stays valid
  // until the next call on the reader; most lines are not copied at all.
  std::string_view ReadLineView() {
    ++line_number_;
    // Most lines lie whole in the block and end in LF or CR LF: they are
    // handed out where they are, found through the window of line breaks.
    if (window_valid_ && pos_ >= window_start_ && pos_ < window_start_ + 64 && !ended_) {
      std::uint64_t later = window_breaks_ >> (pos_ - window_start_);
      if (later != 0) {
        std::size_t brk = pos_ + LowestBit(later);
        const char* block = buffer_.get();
        if (block[brk] == '\n') {
          std::string_view line(block + pos_, brk - pos_);
          pos_ = brk + 1;
          cut_ = false;
          return line;
        }
        if (block[brk] == '\r' && brk + 1 < end_ && block[brk + 1] == '\n') {
          std::string_view line(block + pos_, brk - pos_);
          pos_ = brk + 2;
          cut_ = false;
          return line;
        }
      }
    }
    return ReadLineFromBlock();
  }
  // The same, copied into `line` (replacing its contents) or a new string.
  void ReadLine(std::string& line) { line.assign(ReadLineView()); }
  std::string ReadLine() { return std::string(ReadLineView()); }
  void Close();
  bool IsOpen() const { return file_.IsOpen(); }
  // The number of the line read last, or being read when a read failed:
  // 1 for the first line of the file, 0 before any line was read.
  std::uint64_t LineNumber() const { return line_number_; }

  // Whether the line read last was longer than what was kept of it.
  bool LineWasCut() const { return cut_; }
  // Answers, from the first kHeadLength bytes of a line that is longer, whether
  // the rest of it is needed; without a test every line is kept whole.
  using KeepWhole = bool (*)(std::string_view head);
  void SetKeepWhole(KeepWhole keep_whole) { keep_whole_ = keep_whole; }
  // Called before each read from the file: where the reader may wait for
  // the file, its owner may want to finish what it holds first.
  using BeforeRead = void (*)();
  void SetBeforeRead(BeforeRead before_read) { before_read_ = before_read; }

  // The size of the blocks in which the file is read.
  static constexpr std::size_t kBufferSize = 256 * 1024;
  // The longest line kept whole, and what is kept of a line that needs no more.
  static constexpr std::size_t kMaxLineLength = 128 * 1024 * 1024;
  static constexpr std::size_t kHeadLength = 16;

 private:
  bool EofAtBlockEnd();
  std::string_view ReadLineFromBlock();
  // Refills the buffer when it is used up. Answers false at the end of the
  // file.
  bool Fill();
  // The position of the first LF, CR or Ctrl-Z at or after `from` in the
  // block, or the block's end.
  std::size_t NextBreak(std::size_t from);
  // Collects a line that crosses blocks or holds a lone CR or a Ctrl-Z.
  void ReadLineSlowly();
  // Skips the rest of a line after a Ctrl-Z inside it.
  void SkipRestOfLine();
  // Adds bytes to the line being collected, as far as it is kept.
  void Keep(const char* begin, const char* end);

  plat::ReadOnlyFile file_;
  std::unique_ptr<char[]> buffer_;
  std::string line_;  // a line that could not be handed out in place
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  std::uint64_t line_number_ = 0;
  // Where the line breaks of one 64-byte window of the block are: a line
  // usually ends in the window where the line before it ended.
  std::size_t window_start_ = 0;
  std::uint64_t window_breaks_ = 0;
  bool window_valid_ = false;
  bool at_end_of_file_ = false;  // the file has no more bytes to give
  bool ended_ = false;           // a Ctrl-Z has ended the file
  // The line being collected: whether bytes of it were dropped, whether the
  // KeepWhole test has been asked, and how many of its bytes are kept.
  bool cut_ = false;
  bool keep_decided_ = false;
  std::size_t keep_limit_ = kMaxLineLength;
  KeepWhole keep_whole_ = nullptr;
  BeforeRead before_read_ = nullptr;
};

#endif  // BREVLIN_IMPORT_TEXT_READER_H_
