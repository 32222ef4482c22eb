// Writes configuration files for the differential test: each seed gives one
// file, the same on every machine, that mixes every kind of line with the
// odd cases a hand-written or damaged file may hold. The generator knows the
// file format only as a writer does; it shares no code with the importer.
//
// Usage: gen_config SEED FILE [SEED FILE]...
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A small generator of its own (SplitMix64), so that a seed gives the same
// file with every compiler and library.
class Random {
 public:
  // Neighbouring seeds start far apart in the sequence.
  explicit Random(std::uint64_t seed) : state_(seed) { state_ = Next(); }
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 <= result < n
  std::size_t Below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(Next() % n); }
  // true with the chance percent/100
  bool Chance(unsigned percent) { return Below(100) < percent; }
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[Below(items.size())];
  }

 private:
  std::uint64_t state_;
};

// Letters of code page 1252 that have a partner of the other case there,
// as (lower, upper) bytes, beyond A to Z.
const std::vector<std::pair<unsigned char, unsigned char>> kCasePairs = {
    {0xE9, 0xC9},  // é É
    {0xE0, 0xC0},  // à À
    {0xE6, 0xC6},  // æ Æ
    {0xF6, 0xD6},  // ö Ö
    {0xFF, 0x9F},  // ÿ Ÿ
    {0x9A, 0x8A},  // š Š
    {0x9C, 0x8C},  // œ Œ
    {0x9E, 0x8E},  // ž Ž
    {0xF0, 0xD0},  // ð Ð
    {0xFE, 0xDE},  // þ Þ
    {0xE5, 0xC5},  // å Å
    {0xF1, 0xD1},  // ñ Ñ
};

// Letters without a partner in the code page, and bytes the code page leaves
// undefined.
const std::vector<unsigned char> kLoneBytes = {0xB5, 0xDF, 0xAA, 0xBA, 0xD7, 0xF7, 0x81,
                                               0x8D, 0x8F, 0x90, 0x9D, 0xA0, 0x83};

char Flip(Random& random, unsigned char c) {
  if (c >= 'a' && c <= 'z')
    return random.Chance(50) ? static_cast<char>(c - 'a' + 'A') : static_cast<char>(c);
  if (c >= 'A' && c <= 'Z')
    return random.Chance(50) ? static_cast<char>(c - 'A' + 'a') : static_cast<char>(c);
  for (const auto& pair : kCasePairs) {
    if (c == pair.first || c == pair.second)
      return static_cast<char>(random.Chance(50) ? pair.first : pair.second);
  }
  return static_cast<char>(c);
}

// The same name in another letter case, letter by letter.
std::string CaseVariant(Random& random, const std::string& name) {
  std::string out;
  for (char c : name)
    out += Flip(random, static_cast<unsigned char>(c));
  return out;
}

std::string Word(Random& random) {
  static const std::vector<std::string> kWords = {
      "Brevlin", "Window", "Cafe", "Options", "Data", "x", "Path", "Count", "Text", "a b", "Ende"};
  return random.Pick(kWords);
}

// A name of printable characters with code-page letters among them.
std::string AccentedName(Random& random) {
  std::string name;
  const std::size_t length = 1 + random.Below(8);
  for (std::size_t i = 0; i < length; ++i) {
    switch (random.Below(4)) {
      case 0: {
        const auto& pair = random.Pick(kCasePairs);
        name += static_cast<char>(random.Chance(50) ? pair.first : pair.second);
        break;
      }
      case 1:
        name += static_cast<char>(random.Pick(kLoneBytes));
        break;
      default:
        name += static_cast<char>('a' + random.Below(26));
        break;
    }
  }
  return name;
}

// Any bytes but the line's structure (LF, CR, Ctrl-Z) and, for names, tabs
// and backslashes.
std::string RawName(Random& random, std::size_t length, bool key_name) {
  std::string name;
  while (name.size() < length) {
    unsigned char c = static_cast<unsigned char>(random.Below(256));
    if (c == '\n' || c == '\r' || c == 0x1A || c == '\t' || (key_name && c == '\\') || c == 0)
      continue;
    name += static_cast<char>(c);
  }
  return name;
}

std::string LongName(Random& random, std::size_t length) {
  std::string name;
  while (name.size() < length)
    name += random.Chance(10) ? static_cast<char>(random.Pick(kCasePairs).second)
                              : static_cast<char>('a' + random.Below(26));
  return name;
}

class FileWriter {
 public:
  explicit FileWriter(std::uint64_t seed) : random_(seed) {
    // The line ends of the whole file, with now and then an odd one.
    const std::size_t style = random_.Below(3);
    ending_ = style == 0 ? "\n" : "\r\n";
    mixed_ = style == 2;
    for (int i = 0; i < 6; ++i)
      names_.push_back(NewName());
    for (int i = 0; i < 6; ++i)
      value_names_.push_back(NewValueName());
  }

  std::string Build() {
    if (random_.Chance(85))
      Line(random_.Chance(95) ? "<[Brevlin]>" : "<[Brevlin]> ");
    if (random_.Chance(20))
      Line("<<" + RawName(random_, random_.Below(20), false));
    const std::size_t blocks = 2 + random_.Below(8);
    for (std::size_t b = 0; b < blocks; ++b)
      Block();
    if (random_.Chance(5))
      Line(random_.Chance(50) ? "<[Other]>" : "<[brevlin]>");
    if (random_.Chance(3))
      Line(std::string("<[Ot") + '\0' + "her]>");
    if (random_.Chance(5))
      text_ += '\x1A';  // Ctrl-Z at the start of a line ends the file
    if (random_.Chance(50))
      Block();
    // The last line without its line end.
    if (random_.Chance(25) && !text_.empty() && text_.back() == '\n') {
      text_.pop_back();
      if (!text_.empty() && text_.back() == '\r')
        text_.pop_back();
    }
    return text_;
  }

 private:
  void Line(const std::string& line) {
    text_ += line;
    if (mixed_ && random_.Chance(30))
      text_ += random_.Chance(50) ? "\n" : "\r\n";
    else
      text_ += ending_;
  }

  std::string NewName() {
    switch (random_.Below(6)) {
      case 0:
      case 1:
        return AccentedName(random_);
      case 2:
        return RawName(random_, 1 + random_.Below(12), true);
      default:
        return Word(random_);
    }
  }

  std::string NewValueName() {
    switch (random_.Below(8)) {
      case 0:
        return "";
      case 1:
        return AccentedName(random_);
      case 2:
        return RawName(random_, 1 + random_.Below(10), false);
      case 3:
        return std::string("Nu") + '\0' + "ll";
      default:
        return Word(random_);
    }
  }

  std::string Root() {
    static const std::vector<std::string> kRoots = {"HKEY_CURRENT_USER", "HKEY_LOCAL_MACHINE",
                                                    "HKEY_CLASSES_ROOT", "HKEY_USERS",
                                                    "HKEY_CURRENT_CONFIG"};
    if (random_.Chance(10)) {
      static const std::vector<std::string> kBad = {"<hkey_current_user>", "<HKEY_LOCAL_MACHINE> ",
                                                    "<HKEY_NOWHERE>", "<", "<HKEY_USERS"};
      return random_.Pick(kBad);
    }
    return "<" + random_.Pick(kRoots) + ">";
  }

  // A key path below Software\Mardovan, with its odd forms.
  std::string KeyPath() {
    std::string base =
        random_.Chance(80) ? "Software\\Mardovan" : CaseVariant(random_, "Software\\Mardovan");
    std::string path = base;
    const std::size_t depth = random_.Below(4);
    for (std::size_t i = 0; i < depth; ++i) {
      std::string name = random_.Pick(names_);
      if (random_.Chance(30))
        name = CaseVariant(random_, name);
      path += "\\" + name;
    }
    switch (random_.Below(30)) {
      case 0:
        return "\\" + path;  // a leading backslash
      case 1:
        return path + "\\";  // a trailing one
      case 2:
        return base + "\\\\" + Word(random_);  // an empty name between
      case 3: {
        // One name near the length limit of a name.
        return base + "\\" + LongName(random_, 250 + random_.Below(10));
      }
      case 4: {
        // A whole path near the length limits of a path.
        const std::size_t total = 250 + random_.Below(16);
        std::string long_path = base;
        while (long_path.size() + 2 < total)
          long_path += "\\" + LongName(random_, 1 + random_.Below(std::min<std::size_t>(
                                                        60, total - long_path.size() - 1)));
        if (long_path.size() < total)
          long_path += "\\" + LongName(random_, total - long_path.size() - 1);
        return long_path;
      }
      case 5:
        return base + "\\..\\" + Word(random_);
      case 6:
        return base + "\\" + Word(random_) + " ";
      default:
        return path;
    }
  }

  void KeyLine() {
    const std::string path = KeyPath();
    switch (random_.Below(25)) {
      case 0:
        Line("[" + path);  // no closing bracket
        break;
      case 1:
        Line("[" + path + "] ");  // a space after it
        break;
      case 2:
        Line(" [" + path + "]");  // a space before it: a value line
        break;
      case 3:
        Line("[" + path + "]\x1A" + "trailing");  // Ctrl-Z cuts the line
        break;
      case 4:
        Line("[" + path + "\r]");  // a lone CR inside the line
        break;
      default:
        Line("[" + path + "]");
        break;
    }
  }

  std::string ValueText(const std::string& type) {
    if (type == "integer") {
      static const std::vector<std::string> kNumbers = {
          "1,024", "$FF00", "-40",  "0x7fffffff", "2147483648", "99999999999",
          "-5 ",   "",      "x2A",  "1.5",        "12 apples",  "  42",
          "\t42",  "+7",    "-$10", "$FFFFFFFF",  "--3",        "0X2a"};
      if (random_.Chance(70))
        return random_.Pick(kNumbers);
      return std::to_string(static_cast<std::int64_t>(random_.Next() % 10000000000ull) -
                            5000000000ll);
    }
    if (type == "binary") {
      std::string text;
      const std::size_t bytes = random_.Below(12);
      static const char kHex[] = "0123456789ABCDEFabcdefGx";
      for (std::size_t i = 0; i < bytes; ++i) {
        text += kHex[random_.Below(24)];
        text += kHex[random_.Below(24)];
        text += random_.Chance(80)
                    ? ','
                    : static_cast<char>(random_.Pick(std::vector<char>{';', ' ', '\t', 'z'}));
      }
      if (random_.Chance(30) && !text.empty())
        text.pop_back();
      return text;
    }
    switch (random_.Below(8)) {
      case 0:
        return "";
      case 1:
        return RawName(random_, random_.Below(30), false);
      case 2:
        return "with\ttab";
      case 3:
        return std::string("nul") + '\0' + "inside";
      default:
        return AccentedName(random_) + " " + Word(random_);
    }
  }

  void ValueLine() {
    static const std::vector<std::string> kTypes = {"string", "integer", "binary"};
    static const std::vector<std::string> kOddTypes = {"String",  "INTEGER", "",
                                                       " string", "bogus",   "binary "};
    const std::string type = random_.Chance(90) ? random_.Pick(kTypes) : random_.Pick(kOddTypes);
    std::string name;
    if (random_.Chance(3))
      name = LongName(random_, random_.Chance(50) ? 16383 : 16384);
    else if (random_.Chance(30))
      name = CaseVariant(random_, random_.Pick(value_names_));
    else
      name = random_.Pick(value_names_);
    const std::string value = ValueText(type);
    switch (random_.Below(20)) {
      case 0:
        Line(type + "\t" + value);  // one tab: the unnamed value
        break;
      case 1:
        Line(type);  // no tab at all
        break;
      case 2:
        Line(type + "\t\t" + name + "\t" + value);  // an extra separator
        break;
      case 3:
        Line(type + " " + name + " " + value);  // spaces for tabs
        break;
      default:
        Line(type + "\t" + name + "\t" + value);
        break;
    }
  }

  void Block() {
    if (random_.Chance(80))
      Line(Root());
    const std::size_t keys = 1 + random_.Below(4);
    if (random_.Chance(3))
      ValueLine();  // before the first key line of the root
    for (std::size_t k = 0; k < keys; ++k) {
      KeyLine();
      const std::size_t values = random_.Below(5);
      for (std::size_t v = 0; v < values; ++v) {
        switch (random_.Below(14)) {
          case 0:
            Line("");
            break;
          case 1:
            Line(random_.Chance(50) ? " \t " : std::string(1, '\0'));
            break;
          case 2:
            Line("<<comment " + AccentedName(random_));
            break;
          default:
            ValueLine();
            break;
        }
      }
    }
  }

  Random random_;
  std::string ending_;
  bool mixed_ = false;
  std::vector<std::string> names_;
  std::vector<std::string> value_names_;
  std::string text_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc % 2 != 1) {
    std::fprintf(stderr, "usage: gen_config SEED FILE [SEED FILE]...\n");
    return 2;
  }
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string text = FileWriter(std::strtoull(argv[i], nullptr, 10)).Build();
    std::FILE* file = std::fopen(argv[i + 1], "wb");
    if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size() ||
        std::fclose(file) != 0) {
      std::perror(argv[i + 1]);
      return 1;
    }
  }
  return 0;
}
