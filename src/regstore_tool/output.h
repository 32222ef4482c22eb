// Where the regstore command writes its results: a buffered stream over a
// file descriptor that remembers the first failed write, so that output cut
// off by a full disk or a closed pipe is reported instead of passing for
// success. Tests write into a string instead.
#ifndef BREVLIN_REGSTORE_TOOL_OUTPUT_H_
#define BREVLIN_REGSTORE_TOOL_OUTPUT_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace regstore_tool {

class Output {
 public:
  Output() = default;
  Output(const Output&) = delete;
  Output& operator=(const Output&) = delete;
  virtual ~Output() = default;

  // Appends to the buffer, and passes the buffer on once it is large. After
  // a failure everything written is dropped.
  void Write(std::string_view text) {
    buffer_.append(text.data(), text.size());
    if (buffer_.size() >= kBufferSize)
      Flush();
  }
  Output& operator<<(std::string_view text) {
    Write(text);
    return *this;
  }

  // Passes on what is buffered. Answers false when this or an earlier write
  // failed.
  bool Flush();
  // Whether the output goes to a terminal (where control characters are
  // shown escaped).
  virtual bool IsTerminal() const { return false; }
  // The errno of the first failed write, 0 when none failed.
  int error() const { return error_; }

 protected:
  // Writes all of `size` bytes, or answers an errno value.
  virtual int WriteOut(const char* data, std::size_t size) = 0;

 private:
  static constexpr std::size_t kBufferSize = 64 * 1024;
  std::string buffer_;
  int error_ = 0;
};

// Output to a file descriptor that stays open (standard output, say).
class FdOutput : public Output {
 public:
  explicit FdOutput(int fd) : fd_(fd) {}
  ~FdOutput() override { Flush(); }
  bool IsTerminal() const override;

 protected:
  int WriteOut(const char* data, std::size_t size) override;

 private:
  int fd_;
};

// Output to a file created for it (or truncated), closed when the object
// goes. Close reports a failure of the last writes or of closing itself.
class FileOutput : public Output {
 public:
  FileOutput() = default;
  ~FileOutput() override;
  // Opens `path` for writing; answers an errno value, 0 on success.
  int Open(const std::string& path);
  // Flushes and closes the file; answers an errno value, 0 on success.
  int Close();

 protected:
  int WriteOut(const char* data, std::size_t size) override;

 private:
  int fd_ = -1;
};

// Output kept in a string.
class StringOutput : public Output {
 public:
  ~StringOutput() override { Flush(); }
  const std::string& text() {
    Flush();
    return text_;
  }
  bool terminal = false;
  // When set, every write fails with this errno value.
  int fail_with = 0;
  bool IsTerminal() const override { return terminal; }

 protected:
  int WriteOut(const char* data, std::size_t size) override;

 private:
  std::string text_;
};

}  // namespace regstore_tool

#endif  // BREVLIN_REGSTORE_TOOL_OUTPUT_H_
