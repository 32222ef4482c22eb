#include "import/text_reader.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "common/exceptions.h"
#include "testing/reference_lines.h"
#include "testing/temp_files.h"

namespace {

using testing_support::Lines;
using testing_support::ReferenceLines;
using testing_support::WriteTempFile;

Lines ReadAll(const std::string& path) {
  TTextReader reader;
  reader.Open(path);
  Lines lines;
  while (!reader.Eof())
    lines.push_back(reader.ReadLine());
  reader.Close();
  return lines;
}

Lines ReadContents(const std::string& contents) {
  return ReadAll(WriteTempFile(contents));
}

struct LineCase {
  const char* name;
  std::string contents;
  Lines expected;
};

void PrintTo(const LineCase& c, std::ostream* os) {
  *os << c.name;
}

class TextReaderLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(TextReaderLines, CutsLinesByTheLineEndRules) {
  const LineCase& c = GetParam();
  EXPECT_EQ(ReadContents(c.contents), c.expected);
  EXPECT_EQ(ReferenceLines(c.contents), c.expected) << "the reference disagrees with the case";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TextReaderLines,
    ::testing::Values(LineCase{"Empty", "", {}}, LineCase{"LfEnds", "a\nb\n", {"a", "b"}},
                      LineCase{"CrLfEnds", "a\r\nb\r\n", {"a", "b"}},
                      LineCase{"LastLineWithoutEnd", "a\nb", {"a", "b"}},
                      LineCase{"BlankLinesAreLines", "\n\n \t\n", {"", "", " \t"}},
                      LineCase{"LoneCrIsDropped", "A\rB\n", {"AB"}},
                      LineCase{"CrAtEndOfFileIsDropped", "A\r", {"A"}},
                      LineCase{"CrCrLf", "A\r\r\nB", {"A", "B"}},
                      LineCase{"LfCr", "A\n\rB\n", {"A", "B"}},
                      LineCase{"CtrlZAtLineStartEndsFile",
                               "A\n\x1a"
                               "B\nC\n",
                               {"A"}},
                      LineCase{"CtrlZAtFileStart",
                               "\x1a"
                               "A\n",
                               {}},
                      LineCase{"CtrlZInsideLineSkipsRest",
                               "A\x1a"
                               "B\nC\n",
                               {"A", "C"}},
                      LineCase{"SecondCtrlZInSkippedTextEndsFile",
                               "A\x1a"
                               "B\x1a"
                               "C\nD\n",
                               {"A"}},
                      LineCase{"CtrlZInLastLineWithoutEnd",
                               "A\x1a"
                               "B",
                               {"A"}},
                      LineCase{"CrBeforeCtrlZIsDropped",
                               "A\r\x1a"
                               "B\nC",
                               {"A", "C"}},
                      LineCase{"SpacesAreKept", "  [x] \t\n", {"  [x] \t"}},
                      LineCase{"NulAndHighBytesAreText",
                               std::string("a\0b\xff\x80\n", 6),
                               {std::string("a\0b\xff\x80", 5)}}),
    [](const ::testing::TestParamInfo<LineCase>& info) { return info.param.name; });

TEST(TextReader, AllLineEndStylesGiveTheSameLines) {
  Lines expected = {"<[Brevlin]>", "[Software\\X]", "string\tName\tValue"};
  EXPECT_EQ(ReadContents("<[Brevlin]>\r\n[Software\\X]\r\nstring\tName\tValue\r\n"), expected);
  EXPECT_EQ(ReadContents("<[Brevlin]>\n[Software\\X]\nstring\tName\tValue\n"), expected);
  EXPECT_EQ(ReadContents("<[Brevlin]>\n[Software\\X]\r\nstring\tName\tValue"), expected);
}

// The reader works on blocks; every rule must also hold where a line, a CR LF
// pair or the skipped rest of a line crosses from one block to the next.
TEST(TextReader, RulesHoldAcrossBlockBoundaries) {
  const std::size_t block = TTextReader::kBufferSize;
  struct Case {
    std::size_t at;  // where the special bytes start
    std::string bytes;
  } cases[] = {
      {block - 1, "\r\nNEXT\n"},  // CR ends one block, LF starts the next
      {block - 1, "\rX\n"},       // a lone CR at the end of a block
      {block - 1,
       "\x1a"
       "skipped\nC\n"},  // Ctrl-Z at the end of a block
      {block - 2,
       "\x1a"
       "s\x1a"
       "t\nC\n"},         // a second Ctrl-Z in the next block
      {block, "\nNEXT"},  // LF first in the second block
      {block - 1, "\r"},  // the file ends with a CR
  };
  for (const Case& c : cases) {
    std::string data(c.at, 'x');
    data += c.bytes;
    EXPECT_EQ(ReadContents(data), ReferenceLines(data)) << "special bytes at " << c.at;
  }
}

TEST(TextReader, LongLinesAreReadWhole) {
  std::string line(3 * TTextReader::kBufferSize + 17, 'q');
  Lines lines = ReadContents(line + "\r\nshort\n" + line);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], line);
  EXPECT_EQ(lines[1], "short");
  EXPECT_EQ(lines[2], line);
}

// Random files built from the bytes the rules care about, short and long, must
// read exactly as the byte-by-byte reference reads them.
TEST(TextReader, AgreesWithReferenceOnRandomFiles) {
  std::mt19937 random(20261208);
  const char alphabet[] = {'a', 'b', '\n', '\r', '\0', ' ', '\t', '\xff', '\x1a'};
  const int weights[] = {30, 10, 8, 6, 2, 3, 2, 1, 1};
  std::discrete_distribution<int> with_ctrl_z(std::begin(weights), std::end(weights));
  // Long files would almost always end at an early Ctrl-Z; they get none.
  std::discrete_distribution<int> without_ctrl_z(std::begin(weights), std::end(weights) - 1);
  for (int round = 0; round < 60; ++round) {
    bool long_file = round >= 50;
    std::size_t size = long_file ? TTextReader::kBufferSize + random() % 5000 : random() % 200;
    std::string data;
    for (std::size_t i = 0; i < size; ++i) {
      data.push_back(alphabet[long_file ? without_ctrl_z(random) : with_ctrl_z(random)]);
    }
    ASSERT_EQ(ReadContents(data), ReferenceLines(data)) << "round " << round;
  }
}

// The owner's hook runs before every read from the file, and only then:
// lines served from the block in hand read nothing.
int reads_announced = 0;

TEST(TextReader, AnnouncesEachReadOfTheFile) {
  const std::size_t block = TTextReader::kBufferSize;
  struct Case {
    std::string contents;
    int reads;  // the reads of the file, the one that finds its end included
  } cases[] = {
      {"", 1},
      {"a\nb\nc\n", 2},
      {std::string(block - 1, 'x') + "\n" + "tail\n", 3},
      {std::string(2 * block + 5, 'y'), 4},
  };
  for (const Case& c : cases) {
    TTextReader reader;
    reads_announced = 0;
    reader.SetBeforeRead([] { ++reads_announced; });
    reader.Open(testing_support::WriteTempFile(c.contents));
    EXPECT_EQ(reads_announced, 0);
    while (!reader.Eof())
      reader.ReadLineView();
    reader.Close();
    EXPECT_EQ(reads_announced, c.reads) << c.contents.size() << " bytes";
  }
}

TEST(TextReader, ReadLineReusesTheCallersString) {
  TTextReader reader;
  reader.Open(WriteTempFile("first line\nx\n"));
  std::string line = "old contents";
  reader.ReadLine(line);
  EXPECT_EQ(line, "first line");
  reader.ReadLine(line);
  EXPECT_EQ(line, "x");
  EXPECT_TRUE(reader.Eof());
  reader.Close();
}

void ExpectOpenFails(const std::string& name, std::uint32_t code, const std::string& message) {
  TTextReader reader;
  try {
    reader.Open(name);
    FAIL() << "opening " << name << " succeeded";
  } catch (const EInOutError& e) {
    EXPECT_EQ(e.ErrorCode(), code) << name;
    EXPECT_EQ(e.Message(), message) << name;
  }
  EXPECT_FALSE(reader.IsOpen());
}

TEST(TextReader, OpenFailuresCarryTheCodeAndItsMessage) {
  std::string dir = testing_support::NewTempDir();
  ExpectOpenFails(testing_support::JoinPath(dir, "missing.cfg"), 2, "File not found");
  ExpectOpenFails(testing_support::JoinPath(testing_support::JoinPath(dir, "no-folder"), "x.cfg"),
                  3, "Invalid filename");
  // A folder is no file to read.
  ExpectOpenFails(dir, 5, "File access denied");
}

TEST(TextReader, ErrorMessagesByCode) {
  const std::pair<std::uint32_t, const char*> cases[] = {
      {2, "File not found"},
      {3, "Invalid filename"},
      {4, "Too many open files"},
      {5, "File access denied"},
      {100, "Read beyond end of file"},
      {101, "Disk full"},
      {106, "Invalid numeric input"},
      {32, "I/O error 32"},
      {0, "I/O error 0"},
      {4294967295u, "I/O error 4294967295"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(EInOutError(c.first).Message(), c.second);
}

TEST(TextReader, TheFileStaysOpenForOthersToReadAndWrite) {
  std::string path = WriteTempFile("a\n");
  TTextReader reader;
  reader.Open(path);
  {
    // Another reader and a writer may open it at the same time.
    TTextReader second;
    second.Open(path);
    EXPECT_EQ(second.ReadLine(), "a");
  }
  FILE* writer = std::fopen(path.c_str(), "ab");
  ASSERT_NE(writer, nullptr);
  std::fputs("b\n", writer);
  std::fclose(writer);
  EXPECT_EQ(reader.ReadLine(), "a");
  EXPECT_EQ(reader.ReadLine(), "b");
  EXPECT_TRUE(reader.Eof());
  reader.Close();
}

TEST(TextReader, ReadingAClosedReaderFails) {
  TTextReader reader;
  EXPECT_THROW(reader.Eof(), EInOutError);
}

// Lines longer than what is kept of them: the reader goes on past them, hands
// out their beginning and says they were cut, and the next line is whole.
TEST(TextReader, LongLinesAreReadThroughAndKeptOnlyAsFarAsNeeded) {
  const std::size_t long_length = 3 * TTextReader::kBufferSize + 5;
  struct Case {
    const char* name;
    std::string line;
    bool keep_whole;
    std::string kept;  // what the reader hands out
    bool cut;
  };
  const std::string comment = "<<" + std::string(long_length, 'c');
  const std::string value = "string\tS\t" + std::string(long_length, 'v');
  const std::string with_stop = "<<" + std::string(long_length, 'c') + "\x1a" + "after";
  const Case cases[] = {
      {"a comment needs no more than its head", comment, false,
       comment.substr(0, TTextReader::kHeadLength), true},
      {"a line that needs all of it is kept whole", value, true, value, false},
      {"a Ctrl-Z inside a cut line still ends its text", with_stop, false,
       with_stop.substr(0, TTextReader::kHeadLength), true},
      {"a short line crossing blocks is not cut", "<<short", false, "<<short", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The line starts near the end of the first block, so that it crosses
    // blocks whatever its length.
    const std::string first(TTextReader::kBufferSize - 3, 'x');
    const std::string path = WriteTempFile(first + "\n" + c.line + "\nnext\n");
    TTextReader reader;
    reader.SetKeepWhole(c.keep_whole ? +[](std::string_view) { return true; }
                                     : +[](std::string_view head) {
                                         EXPECT_EQ(head.size(), TTextReader::kHeadLength);
                                         return false;
                                       });
    reader.Open(path);
    EXPECT_EQ(reader.ReadLine(), first);
    EXPECT_FALSE(reader.LineWasCut());
    EXPECT_EQ(reader.ReadLineView(), c.kept);
    EXPECT_EQ(reader.LineWasCut(), c.cut);
    EXPECT_EQ(reader.ReadLineView(), "next");
    EXPECT_FALSE(reader.LineWasCut());
    EXPECT_TRUE(reader.Eof());
    reader.Close();
  }
}

TEST(TextReader, ALineLongerThanTheMostKeptIsCutThere) {
  const std::string path = testing_support::JoinPath(testing_support::NewTempDir(), "long.cfg");
  {
    FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fputs("string\tS\t", out);
    const std::string chunk(1024 * 1024, 's');
    for (std::size_t written = 0; written <= TTextReader::kMaxLineLength; written += chunk.size())
      std::fwrite(chunk.data(), 1, chunk.size(), out);
    std::fputs("\nlast", out);
    std::fclose(out);
  }
  TTextReader reader;
  reader.Open(path);
  const std::string_view line = reader.ReadLineView();
  EXPECT_EQ(line.size(), TTextReader::kMaxLineLength);
  EXPECT_EQ(line.substr(0, 10), "string\tS\ts");
  EXPECT_TRUE(reader.LineWasCut());
  EXPECT_EQ(reader.ReadLine(), "last");
  EXPECT_FALSE(reader.LineWasCut());
  reader.Close();
}

}  // namespace

namespace {

TEST(TextReaderLineNumber, CountsTheLinesHandedOut) {
  struct Case {
    std::string contents;
    std::vector<std::uint64_t> numbers;  // after each line read
  };
  const Case cases[] = {
      {"a\nb\r\nc", {1, 2, 3}},
      {"a\rb\nc\n", {1, 2}},  // a lone CR ends no line
      {"a\n\x1a"
       "b\nc\n",
       {1}},  // Ctrl-Z at a line's start ends the file
      {"a\x1a"
       "b\nc\n",
       {1, 2}},  // inside a line it cuts the rest of it
      {std::string(TTextReader::kBufferSize + 10, 'x') + "\ny", {1, 2}},
  };
  for (const Case& c : cases) {
    TTextReader reader;
    reader.Open(WriteTempFile(c.contents));
    EXPECT_EQ(reader.LineNumber(), 0u);
    std::vector<std::uint64_t> numbers;
    while (!reader.Eof()) {
      reader.ReadLineView();
      numbers.push_back(reader.LineNumber());
    }
    EXPECT_EQ(numbers, c.numbers) << c.contents.substr(0, 20);
    reader.Close();
  }
}

}  // namespace
