// The program's exception classes.
#ifndef BREVLIN_COMMON_EXCEPTIONS_H_
#define BREVLIN_COMMON_EXCEPTIONS_H_

#include <cstdint>
#include <exception>
#include <string>

#include "platform/status.h"

// The base of every exception the program raises; it carries a message.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const { return message_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// A failed file operation: the platform's error code and its message, and
// the system's own text for the failure where it has one of its own.
class EInOutError : public Exception {
 public:
  explicit EInOutError(std::uint32_t error_code)
      : Exception(MessageFor(error_code)),
        error_code_(error_code),
        system_text_(plat::SystemErrorText(error_code)) {}
  std::uint32_t ErrorCode() const { return error_code_; }
  // Empty on Windows; on Linux what strerror says of the errno.
  const std::string& SystemText() const { return system_text_; }

  // "File not found" for 2, ..., "I/O error <code>" for a code without a text.
  static std::string MessageFor(std::uint32_t error_code);

 private:
  std::uint32_t error_code_;
  std::string system_text_;
};

// A failed value write or read in the registry; the message names the value.
class ERegistryException : public Exception {
 public:
  using Exception::Exception;
};

#endif  // BREVLIN_COMMON_EXCEPTIONS_H_
