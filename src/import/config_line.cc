#include "import/config_line.h"

#include "import/line_scan.h"
#include "platform/root_keys.h"

namespace {

bool IsBlank(std::string_view line) {
  for (char c : line) {
    if (static_cast<unsigned char>(c) > 0x20)
      return false;
  }
  return true;
}

// Drops `front` characters, then `back` more from the end if that many are
// left; fewer are left alone.
std::string_view Cut(std::string_view line, std::size_t front, std::size_t back) {
  std::string_view rest = line.substr(front < line.size() ? front : line.size());
  if (rest.size() >= back)
    rest.remove_suffix(back);
  return rest;
}

}  // namespace

LineKind ClassifyLine(std::string_view line) {
  if (IsBlank(line))
    return LineKind::kBlank;
  if (line[0] == '[')
    return LineKind::kKey;
  if (line[0] == '<') {
    if (line.size() >= 2 && line[1] == '[')
      return LineKind::kProduct;
    if (line.size() >= 2 && line[1] == '<')
      return LineKind::kIgnored;
    return LineKind::kRoot;
  }
  return LineKind::kValue;
}

std::string_view KeyPathOf(std::string_view key_line) {
  return Cut(key_line, 1, 1);
}

std::string_view RootNameOf(std::string_view root_line) {
  return Cut(root_line, 1, 1);
}

std::string_view ProductNameOf(std::string_view product_line) {
  return Cut(product_line, 2, 2);
}

ValueFields SplitValueLine(std::string_view value_line) {
  const char* begin = value_line.data();
  const char* end = begin + value_line.size();
  const char* first = end;
  const char* second = end;
  // Type words and names are short: one look at the first 16 bytes usually
  // finds both tabs.
  unsigned tabs = value_line.size() >= 16 ? TabMask16(begin) : 0;
  if (tabs != 0) {
    first = begin + LowestBit(tabs);
    tabs &= tabs - 1;
    second = tabs != 0 ? begin + LowestBit(tabs) : FindTab(first + 1, end);
  } else {
    first = FindTab(begin, end);
    if (first != end)
      second = FindTab(first + 1, end);
  }
  ValueFields fields;
  if (first == end)
    return fields;
  fields.type_word = std::string_view(begin, static_cast<std::size_t>(first - begin));
  if (second == end) {
    fields.text = std::string_view(first + 1, static_cast<std::size_t>(end - first - 1));
    return fields;
  }
  fields.name = std::string_view(first + 1, static_cast<std::size_t>(second - first - 1));
  fields.text = std::string_view(second + 1, static_cast<std::size_t>(end - second - 1));
  return fields;
}

ValueType ValueTypeOf(std::string_view type_word) {
  if (type_word == "string")
    return ValueType::kString;
  if (type_word == "integer")
    return ValueType::kInteger;
  if (type_word == "binary")
    return ValueType::kBinary;
  return ValueType::kNone;
}

bool RootKeyOfName(std::string_view name, plat::RegKey* root) {
  const plat::RootKeyEntry* entry = plat::RootKeyByName(name);
  if (!entry)
    return false;
  *root = entry->key;
  return true;
}

std::string_view NameOfRootKey(plat::RegKey root) {
  const plat::RootKeyEntry* entry = plat::RootKeyByHandle(root);
  return entry ? entry->name : std::string_view();
}
