#include "app/command_line.h"

#include "platform/ansi.h"
#include "platform/paths.h"

namespace {

// Bytes that separate arguments and that the option values are trimmed of.
bool IsControlOrSpace(char c) {
  return static_cast<unsigned char>(c) <= 0x20;
}

std::string UpperCase(std::string text) {
  if (!text.empty())
    plat::CharUpperBuffA(&text[0], text.size());
  return text;
}

// Appends the character at `p` to `*out` and answers the next one.
const char* TakeChar(const char* p, std::string* out) {
  const char* next = plat::CharNextA(p);
  out->append(p, next);
  return next;
}

// Skips what comes before an argument: spaces and control bytes, and pairs of
// adjacent double quotes, in any mix.
const char* SkipToArgument(const char* p) {
  for (;;) {
    if (*p != '\0' && IsControlOrSpace(*p)) {
      ++p;
    } else if (p[0] == '"' && p[1] == '"') {
      p += 2;
    } else {
      return p;
    }
  }
}

// Takes the argument at `*p`, up to the first space or control byte outside
// quotes, and leaves `*p` behind it. Quotes are dropped; there is no escape.
std::string TakeArgument(const char** p) {
  std::string argument;
  const char* q = *p;
  while (!IsControlOrSpace(*q)) {
    if (*q == '"') {
      ++q;
      while (*q != '\0' && *q != '"')
        q = TakeChar(q, &argument);
      if (*q == '"')
        ++q;
    } else {
      q = TakeChar(q, &argument);
    }
  }
  *p = q;
  return argument;
}

// Whether the name holds "\" or ":" as a character of its own (a trail byte
// of a double-byte character does not count).
bool HasFolderPart(const std::string& name) {
  for (const char* p = name.c_str(); *p != '\0'; p = plat::CharNextA(p)) {
    if (*p == '\\' || *p == ':')
      return true;
  }
  return false;
}

// Everything up to and including the last "\" or ":"; empty without either.
std::string FolderPart(const std::string& path) {
  const char* begin = path.c_str();
  const char* end = begin;
  for (const char* p = begin; *p != '\0'; p = plat::CharNextA(p)) {
    if (*p == '\\' || *p == ':')
      end = p + 1;
  }
  return std::string(begin, end);
}

}  // namespace

TCommandLine::TCommandLine(std::string raw) : raw_(std::move(raw)) {
  // The line ends at its first NUL, as the system's own string does.
  raw_.resize(std::char_traits<char>::length(raw_.c_str()));
  const char* begin = raw_.c_str();
  const char* p = SkipToArgument(begin);
  arguments_.push_back(TakeArgument(&p));
  options_start_ = static_cast<std::string::size_type>(p - begin);
  upper_raw_ = UpperCase(raw_);
  for (;;) {
    p = SkipToArgument(p);
    std::string argument = TakeArgument(&p);
    // Only the end of the line gives an empty argument.
    if (argument.empty())
      break;
    arguments_.push_back(std::move(argument));
  }
}

int TCommandLine::ParamCount() const {
  return static_cast<int>(arguments_.size()) - 1;
}

std::string TCommandLine::ParamStr(int index) const {
  if (index < 0 || index >= static_cast<int>(arguments_.size()))
    return std::string();
  return arguments_[static_cast<std::size_t>(index)];
}

std::string TCommandLine::OptionValue(const std::string& option) const {
  const std::string upper_option = UpperCase(option);
  auto known = option_values_.find(upper_option);
  if (known != option_values_.end())
    return known->second;
  std::string& value = option_values_[upper_option];
  // The program's own path is never searched: a program installed under a
  // folder such as C:/Tools/ICU/ must not take a value from its own path.
  std::string::size_type found = upper_raw_.find(upper_option, options_start_);
  if (found == std::string::npos)
    return value;
  std::string::size_type first = found + option.size();
  std::string::size_type last = raw_.find('/', first);
  if (last == std::string::npos)
    last = raw_.size();
  while (first < last && IsControlOrSpace(raw_[first]))
    ++first;
  while (last > first && IsControlOrSpace(raw_[last - 1]))
    --last;
  value = raw_.substr(first, last - first);
  return value;
}

ConfigOption ConfigOptionOf(const std::string& argument) {
  const std::string head = UpperCase(argument.substr(0, 3));
  if (head == kConfigFileOption)
    return ConfigOption::kConfigFile;
  if (head == kInstallPathOption)
    return ConfigOption::kInstallPath;
  return ConfigOption::kNone;
}

void ParseArgument(const TCommandLine& command_line, const std::string& argument,
                   std::string* config_file_name, std::string* install_path) {
  switch (ConfigOptionOf(argument)) {
    case ConfigOption::kConfigFile:
      *config_file_name = command_line.OptionValue(kConfigFileOption);
      break;
    case ConfigOption::kInstallPath:
      *install_path = command_line.OptionValue(kInstallPathOption);
      break;
    case ConfigOption::kNone:
      break;
  }
}

std::string Unquote(const std::string& value) {
  if (value.empty() || value[0] != '"')
    return value;
  std::string unquoted;
  const char* p = value.c_str() + 1;
  while (*p != '\0') {
    if (*p == '"') {
      if (p[1] != '"')
        break;  // the closing quote
      unquoted += '"';
      p += 2;
    } else {
      p = TakeChar(p, &unquoted);
    }
  }
  return unquoted;
}

std::string ResolveConfigFileName(const std::string& config_file_name,
                                  const std::string& install_path) {
  std::string name = Unquote(config_file_name);
  if (HasFolderPart(name))
    return name;
  std::string install = Unquote(install_path);
  if (install.empty())
    return name;
  std::string expanded;
  if (plat::GetFullPathNameA(install, &expanded) != plat::kErrorSuccess)
    expanded.clear();
  // With no expansion the folder is the root of the current drive.
  std::string folder = FolderPart(expanded);
  if (folder.empty() || folder.back() != '\\')
    folder += '\\';
  return folder + name;
}
