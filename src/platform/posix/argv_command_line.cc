#include "platform/posix/argv_command_line.h"

namespace plat {
namespace posix {

namespace {

char Upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool BeginsWithOption(const std::string& argument) {
  return argument.size() >= 3 && argument[0] == '/' && Upper(argument[1]) == 'I' &&
         (Upper(argument[2]) == 'C' || Upper(argument[2]) == 'P');
}

std::string ConvertSlashes(std::string argument) {
  if (argument.find('/', 1) == std::string::npos)
    return argument;
  std::string::size_type first = BeginsWithOption(argument) ? 1 : 0;
  for (std::string::size_type i = first; i < argument.size(); ++i) {
    if (argument[i] == '/')
      argument[i] = '\\';
  }
  return argument;
}

bool NeedsQuotes(const std::string& argument) {
  if (argument.empty())
    return true;
  for (char c : argument) {
    if (static_cast<unsigned char>(c) <= 0x20)
      return true;
  }
  return false;
}

}  // namespace

std::string BuildCommandLine(const std::vector<std::string>& arguments) {
  std::string line;
  for (std::vector<std::string>::size_type i = 0; i < arguments.size(); ++i) {
    if (i > 0)
      line += ' ';
    std::string argument = ConvertSlashes(arguments[i]);
    if (NeedsQuotes(argument)) {
      line += '"';
      line += argument;
      line += '"';
    } else {
      line += argument;
    }
  }
  return line;
}

}  // namespace posix
}  // namespace plat
