/*
 * Long lines and tokens with quotes, line breaks, comment characters and
 * bytes above 0x7F at many positions: the scans of the reader and the
 * tokenizer take shortcuts over ordinary characters, and these cases pin
 * what they must still stop at.
 */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Double/DriverFixture.h"
#include "Library/PoolLib.h"
#include "Tokenizer.h"

namespace {

struct LineCase {
  const char *Name;
  std::string Text;
  std::vector<std::u16string> Lines;
};

class LineScanTest : public DriverTest {
protected:
  void SetUp() override {
    DriverTest::SetUp();
    CaptureTablesOnly();
  }
  void TearDown() override {
    if (Reader.Buffer != nullptr) {
      PoolRelease(Reader.Buffer);
    }
    DriverTest::TearDown();
  }
  void Open(const std::string &Text) {
    ASSERT_EQ(OpenTextReader(Text.data(), Text.size(), &Reader), EFI_SUCCESS);
    ASSERT_EQ(Reader.Encoding, TextEncodingBytes);
  }
  /* Every line left in the reader, each as long as the reader says (a 0 inside a line is kept). */
  std::vector<std::u16string> ReadLines(TextReader &From) {
    std::vector<std::u16string> Lines;
    CHAR16 *Line;
    UINTN Length;
    while (ReadTextLine(&From, &Line, &Length) == EFI_SUCCESS) {
      Lines.emplace_back(Line, Length);
      PoolRelease(Line);
    }
    return Lines;
  }
  TextReader Reader{};
};

TEST_F(LineScanTest, BreaksAndQuotesAreFoundWhereverTheyStand) {
  const std::vector<LineCase> Cases = {
      {"break at the last byte of the first word", "abcdefg\nh", {u"abcdefg", u"h"}},
      {"break at the first byte of the second word", "abcdefgh\ni", {u"abcdefgh", u"i"}},
      {"break after two whole words", "abcdefghijklmnop\r\nq", {u"abcdefghijklmnop", u"q"}},
      {"no break in fifteen bytes", "abcdefghijklmno", {u"abcdefghijklmno"}},
      {"quoted break inside the second word", "abcdef\"ghijklm\nnopq\"rs\r\nt", {u"abcdef\"ghijklm\nnopq\"rs", u"t"}},
      {"open quote at the last byte of a word", "0123456\"89\nab", {u"0123456\"89\nab"}},
      {"quoted stretch over several words of breaks",
       "\"a\r\nb\r\nc\r\nd\r\ne\"\nz",
       {u"\"a\r\nb\r\nc\r\nd\r\ne\"", u"z"}},
      {"two quoted stretches, then a break", "\"ab\"cdefgh\"ij\"\nk", {u"\"ab\"cdefgh\"ij\"", u"k"}},
      {"a 0 byte inside a long line",
       std::string("abc\0defghijk\nl", 14),
       {std::u16string(u"abc\0defghijk", 12), u"l"}},
      {"break in the last seven bytes after a word", "abcdefghij\nk", {u"abcdefghij", u"k"}},
  };
  for (const LineCase &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Open(Case.Text);
    EXPECT_EQ(ReadLines(Reader), Case.Lines);
    PoolRelease(Reader.Buffer);
    Reader = {};
  }
}

TEST_F(LineScanTest, LongRunsOfBytesAboveSevenFAreWidenedWithTheirSign) {
  Open("\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9\xE9\nx");
  EXPECT_EQ(ReadLines(Reader), (std::vector<std::u16string>{std::u16string(9, u'\xFFE9'), u"x"}));
}

TEST_F(LineScanTest, RewoundReaderFindsTheSameLongLinesAgain) {
  Open("first line is long enough\r\n\"second \n one\" too\n");
  std::vector<std::u16string> First = ReadLines(Reader);
  RewindTextReader(&Reader);
  EXPECT_EQ(ReadLines(Reader), First);
  EXPECT_EQ(First, (std::vector<std::u16string>{u"first line is long enough", u"\"second \n one\" too"}));
}

struct TokenCase {
  const char *Name;
  std::string Text;
  std::vector<std::u16string> Tokens;
};

TEST_F(LineScanTest, TokensEndAtTheFirstUnquotedStopWhereverItStands) {
  const std::vector<TokenCase> Cases = {
      {"two quoted stretches in one token", "key=\"a b\"\"c d\"  # x", {u"key", u"\"a b\"\"c d\""}},
      {"comment characters inside quotes", "0 \"a;b#c=d\"e;f", {u"0", u"\"a;b#c=d\"e"}},
      {"open quote runs to the end of the line", "\"unclosed ; x", {u"\"unclosed ; x"}},
      {"a long token without stops", "abcdefghijklmnopqrstuvwxyz0123456789", {u"abcdefghijklmnopqrstuvwxyz0123456789"}},
      {"characters above 0x3F next to stops", "A@Z[\\]^_`{|}~\x7F=B", {u"A@Z[\\]^_`{|}~\x7F", u"B"}},
      {"control characters are token characters",
       "a\x0B\x0C"
       "b\tc",
       {u"a\x0B\x0C"
        u"b",
        u"c"}},
  };
  for (const TokenCase &Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Open(Case.Text);
    CHAR16 **Tokens;
    UINTN Count;
    ASSERT_EQ(ReadTokenLine(&Reader, &Tokens, &Count), EFI_SUCCESS);
    std::vector<std::u16string> Read(Tokens, Tokens + Count);
    FreeTokenList(&Tokens, &Count);
    EXPECT_EQ(Read, Case.Tokens);
    PoolRelease(Reader.Buffer);
    Reader = {};
  }
}

} // namespace
