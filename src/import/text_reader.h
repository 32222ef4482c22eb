// The reader of configuration files: a text file cut into lines.
#ifndef BREVLIN_IMPORT_TEXT_READER_H_
#define BREVLIN_IMPORT_TEXT_READER_H_

#include <cstddef>
#include <memory>
#include <string>

#include "platform/file.h"

// Reads a text file line by line, once, from first to last line.
//
// A line ends at LF or CR LF; the last line needs no line end. A CR that is
// not followed by LF is dropped from the text and ends nothing. A Ctrl-Z
// (0x1A) at the start of a line ends the file; inside a line it ends the
// line's text, and the rest of that line is skipped (a second Ctrl-Z there
// ends the file). Every other byte, NUL included, is part of the text.
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
  bool Eof();
  // Reads the next line into `line` (replacing its contents) and moves past
  // its line end.
  void ReadLine(std::string& line);
  std::string ReadLine();
  void Close();
  bool IsOpen() const { return file_.IsOpen(); }

  // The size of the blocks in which the file is read.
  static constexpr std::size_t kBufferSize = 256 * 1024;

 private:
  // Refills the buffer when it is used up. Answers false at the end of the
  // file.
  bool Fill();
  // Skips the rest of a line after a Ctrl-Z inside it.
  void SkipRestOfLine();

  plat::ReadOnlyFile file_;
  std::unique_ptr<char[]> buffer_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool at_end_of_file_ = false;  // the file has no more bytes to give
  bool ended_ = false;           // a Ctrl-Z has ended the file
};

#endif  // BREVLIN_IMPORT_TEXT_READER_H_
