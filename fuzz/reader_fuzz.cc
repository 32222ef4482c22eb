// The line reader and the line classification on arbitrary file contents:
// the reader must cut exactly the lines that the byte-by-byte model cuts, and
// every line must classify and split without reading outside it. Inputs are
// also read across the end of the reader's first block.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "import/config_line.h"
#include "import/text_reader.h"
#include "testing/reference_lines.h"
#include "testing/temp_files.h"

namespace {

const std::string& InputFile() {
  static const std::string path = testing_support::WriteTempFile("", "input.cfg");
  return path;
}

bool Within(std::string_view part, std::string_view whole) {
  return part.empty() ||
         (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

using fuzzing::Check;

// Reads `contents` from a file and checks every line against `expected`.
void CheckContents(std::string_view contents, const testing_support::Lines& expected) {
  {
    FILE* out = std::fopen(InputFile().c_str(), "wb");
    Check(out != nullptr, "input file opens");
    if (!contents.empty())
      std::fwrite(contents.data(), 1, contents.size(), out);
    std::fclose(out);
  }

  TTextReader reader;
  reader.Open(InputFile());
  std::size_t index = 0;
  while (!reader.Eof()) {
    std::string_view line = reader.ReadLineView();
    Check(index < expected.size(), "no more lines than the model");
    Check(line == expected[index], "the same line as the model");
    ++index;
    switch (ClassifyLine(line)) {
      case LineKind::kKey:
        Check(Within(KeyPathOf(line), line), "key path inside the line");
        break;
      case LineKind::kRoot: {
        plat::RegKey root;
        RootKeyOfName(RootNameOf(line), &root);
        Check(Within(RootNameOf(line), line), "root name inside the line");
        break;
      }
      case LineKind::kProduct:
        Check(Within(ProductNameOf(line), line), "product name inside the line");
        break;
      case LineKind::kValue: {
        ValueFields fields = SplitValueLine(line);
        Check(Within(fields.type_word, line) && Within(fields.name, line) &&
                  Within(fields.text, line),
              "fields inside the line");
        ValueTypeOf(fields.type_word);
        break;
      }
      case LineKind::kBlank:
      case LineKind::kIgnored:
        break;
    }
  }
  Check(index == expected.size(), "as many lines as the model");
  reader.Close();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view contents(reinterpret_cast<const char*>(data), size);
  CheckContents(contents, testing_support::ReferenceLines(contents));
  // When the first byte says so, the same bytes again where the reader's
  // first block ends among them, after a filler that is a line of its own or
  // runs on into them. The model reads only the filler's last byte; the rest
  // goes in front of its line.
  if (size == 0 || (data[0] & 0x80) == 0)
    return 0;
  const std::size_t before = data[0] % 64;
  const std::size_t filler = TTextReader::kBufferSize - before;
  const bool own_line = data[0] & 0x40;
  std::string padded(filler, 'f');
  if (own_line)
    padded.back() = '\n';
  padded.append(contents);
  testing_support::Lines expected;
  if (own_line) {
    expected = testing_support::ReferenceLines(contents);
    expected.insert(expected.begin(), std::string(filler - 1, 'f'));
  } else {
    expected = testing_support::ReferenceLines(std::string_view(padded).substr(filler - 1));
    expected.front().insert(0, filler - 1, 'f');
  }
  CheckContents(padded, expected);
  return 0;
}
