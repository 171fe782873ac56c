/* The line tokenizer: separators, comments, quoting, array growth, failures of the pool. */
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Double/DriverFixture.h"
#include "Library/PoolLib.h"
#include "Tokenizer.h"

namespace {

using TokenLines = std::vector<std::vector<std::u16string>>;

class TokenizerTest : public DriverTest {
protected:
  void SetUp() override {
    DriverTest::SetUp();
    CaptureTablesOnly();
  }

  void Open(const std::string &Text) { ASSERT_EQ(OpenTextReader(Text.data(), Text.size(), &Reader), EFI_SUCCESS); }
  void TearDown() override {
    if (Reader.Buffer != nullptr) {
      PoolRelease(Reader.Buffer);
    }
    DriverTest::TearDown();
  }

  /* Checks the list invariants, copies the tokens out and frees the list. */
  std::vector<std::u16string> TakeTokens(CHAR16 **Tokens, UINTN Count) {
    std::vector<std::u16string> Copy;
    EXPECT_GE(Count, 1u);
    EXPECT_EQ(Firmware->BlockSize(Tokens), ((Count + 7) / 8) * 8 * sizeof(CHAR16 *))
        << "capacity is the next multiple of 8";
    for (UINTN Index = 0; Index < Count; Index++) {
      EXPECT_NE(Tokens[Index], nullptr);
      EXPECT_TRUE(Firmware->IsLiveBlock(Tokens[Index]));
      Copy.emplace_back(Tokens[Index]);
    }
    FreeTokenList(&Tokens, &Count);
    return Copy;
  }

  TokenLines ReadAllTokenLines() {
    TokenLines Lines;
    CHAR16 **Tokens;
    UINTN Count;
    while (ReadTokenLine(&Reader, &Tokens, &Count) == EFI_SUCCESS) {
      Lines.push_back(TakeTokens(Tokens, Count));
    }
    EXPECT_EQ(Tokens, nullptr);
    EXPECT_EQ(Count, 0u);
    return Lines;
  }

  TextReader Reader{};
};

TEST_F(TokenizerTest, SampleLinesYieldTheirTokens) {
  Open("3 = abc ; note\n"
       "3 \"a ; b=c\"\n"
       "[AB12CD34]\n"
       "a\"b c\"d e\n"
       "abc;def\n"
       "key=\n"
       "=\n"
       "1 \"abc\n");
  const TokenLines Expected = {
      {u"3", u"abc"}, {u"3", u"\"a ; b=c\""}, {u"[AB12CD34]"}, {u"a\"b c\"d", u"e"}, {u"abc"}, {u"key"},
  };
  // The last sample keeps its open quote up to the end of the text in 8-bit mode, so it is read alone below.
  TokenLines Lines = ReadAllTokenLines();
  ASSERT_EQ(Lines.size(), Expected.size() + 1);
  EXPECT_EQ(TokenLines(Lines.begin(), Lines.end() - 1), Expected);
  EXPECT_EQ(Lines.back(), (std::vector<std::u16string>{u"1", u"\"abc\n"}));
}

TEST_F(TokenizerTest, UnclosedQuoteOnTheLastLineEndsAtTheLineEnd) {
  Open("1 \"abc");
  EXPECT_EQ(ReadAllTokenLines(), (TokenLines{{u"1", u"\"abc"}}));
}

struct TokenCase {
  const char *Name;
  std::string Text;
  TokenLines Lines;
};

TEST_F(TokenizerTest, SeparatorsCommentsAndQuotes) {
  const TokenCase Cases[] = {
      {"blank and comment lines only", "\n  \n# one\n\t; two\n", {}},
      {"separators only", " \t= =\t\nx\n", {{u"x"}}},
      {"tab and equals mix", "3\t=\t abc", {{u"3", u"abc"}}},
      {"equals glued to both tokens", "3=abc", {{u"3", u"abc"}}},
      {"comment right after token", "abc#def ghi", {{u"abc"}}},
      {"comment characters inside quotes", "a \"#;\" b", {{u"a", u"\"#;\"", u"b"}}},
      {"several quoted stretches", "x\"a b\"y\"c d\"z", {{u"x\"a b\"y\"c d\"z"}}},
      {"other white space is ordinary", "a\fb\vc d", {{u"a\fb\vc", u"d"}}},
      {"further tokens kept", "0 v w x", {{u"0", u"v", u"w", u"x"}}},
      {"header with trailing comment", "[AB12CD34]=;x", {{u"[AB12CD34]"}}},
      {"odd quote in comment joins the next line", "a # \"\nb\"\nc", {{u"a"}, {u"c"}}},
      {"empty quotes are a token", "\"\"", {{u"\"\""}}},
      {"zero byte ends the line's tokens", std::string("a b\0c d\ne", 9), {{u"a", u"b"}, {u"e"}}},
  };
  for (const auto &Case : Cases) {
    Open(Case.Text);
    EXPECT_EQ(ReadAllTokenLines(), Case.Lines) << Case.Name;
    PoolRelease(Reader.Buffer);
    Reader = {};
  }
}

TEST_F(TokenizerTest, Utf16LinesEndAtEveryBreakEvenInQuotes) {
  const std::u16string Text = u"a # \"\nb\"\nc";
  Open(std::string(reinterpret_cast<const char *>(Text.data()), Text.size() * 2));
  EXPECT_EQ(ReadAllTokenLines(), (TokenLines{{u"a"}, {u"b\""}, {u"c"}}));
}

TEST_F(TokenizerTest, TokenArrayGrowsByEightEntries) {
  const struct {
    UINTN Tokens;
    size_t Capacity;
  } Cases[] = {{1, 8}, {8, 8}, {9, 16}, {16, 16}, {17, 24}};
  for (const auto &Case : Cases) {
    std::string Line;
    for (UINTN Index = 0; Index < Case.Tokens; Index++) {
      Line += "t" + std::to_string(Index) + " ";
    }
    Open(Line);
    CHAR16 **Tokens;
    UINTN Count;
    ASSERT_EQ(ReadTokenLine(&Reader, &Tokens, &Count), EFI_SUCCESS);
    EXPECT_EQ(Count, Case.Tokens);
    EXPECT_EQ(Firmware->BlockSize(Tokens), Case.Capacity * sizeof(CHAR16 *));
    const std::string Last = "t" + std::to_string(Count - 1);
    EXPECT_EQ(std::u16string(Tokens[Count - 1]), std::u16string(Last.begin(), Last.end()));
    FreeTokenList(&Tokens, &Count);
    PoolRelease(Reader.Buffer);
    Reader = {};
  }
}

TEST_F(TokenizerTest, AppendTokenResizesAtTheNinthAndClearsNewEntries) {
  CHAR16 **Tokens = nullptr;
  UINTN Count = 0;
  for (int Index = 0; Index < 9; Index++) {
    ASSERT_TRUE(AppendToken(&Tokens, &Count, DuplicateWideString(u"t")));
    EXPECT_EQ(Firmware->BlockSize(Tokens), Index < 8 ? 64u : 128u);
  }
  for (int Index = 9; Index < 16; Index++) {
    EXPECT_EQ(Tokens[Index], nullptr) << "entry " << Index;
  }
  FreeTokenList(&Tokens, &Count);
}

TEST_F(TokenizerTest, FailedGrowthKeepsTheListAndTheTokenWithTheCaller) {
  CHAR16 **Tokens = nullptr;
  UINTN Count = 0;
  for (int Index = 0; Index < 8; Index++) {
    ASSERT_TRUE(AppendToken(&Tokens, &Count, DuplicateWideString(u"t")));
  }
  CHAR16 **Before = Tokens;
  CHAR16 *Ninth = DuplicateWideString(u"ninth");
  Firmware->FailAllocationNumber(Firmware->AllocationCount() + 1);
  EXPECT_FALSE(AppendToken(&Tokens, &Count, Ninth));
  EXPECT_EQ(Tokens, Before);
  EXPECT_EQ(Count, 8u);
  EXPECT_TRUE(Firmware->IsLiveBlock(Before));
  EXPECT_EQ(std::u16string(Tokens[7]), u"t");
  PoolRelease(Ninth);
  FreeTokenList(&Tokens, &Count);

  CHAR16 **Empty = nullptr;
  UINTN None = 0;
  CHAR16 *First = DuplicateWideString(u"first");
  Firmware->FailAllocationNumber(Firmware->AllocationCount() + 1);
  EXPECT_FALSE(AppendToken(&Empty, &None, First));
  EXPECT_EQ(Empty, nullptr);
  EXPECT_EQ(None, 0u);
  PoolRelease(First);
}

TEST_F(TokenizerTest, FreeTokenListOfAnEmptyListReleasesNothing) {
  CHAR16 **Tokens = nullptr;
  UINTN Count = 0;
  FreeTokenList(&Tokens, &Count);
  EXPECT_TRUE(Firmware->Events.empty());
}

TEST_F(TokenizerTest, DuplicateWideStringCopiesWithTheTerminator) {
  CHAR16 *Copy = DuplicateWideString(u"logo.bmp");
  ASSERT_NE(Copy, nullptr);
  EXPECT_EQ(Firmware->BlockSize(Copy), 18u);
  EXPECT_EQ(std::u16string(Copy), u"logo.bmp");
  PoolRelease(Copy);
  Firmware->FailAllocationNumber(Firmware->AllocationCount() + 1);
  EXPECT_EQ(DuplicateWideString(u"x"), nullptr);
}

TEST_F(TokenizerTest, ReadTokenLineTellsTheEndFromARunDryPool) {
  Open("# only a comment\n\n");
  CHAR16 **Tokens;
  UINTN Count;
  EXPECT_EQ(ReadTokenLine(&Reader, &Tokens, &Count), EFI_NOT_FOUND);
  PoolRelease(Reader.Buffer);

  Open("a b\n");
  Firmware->FailAllocationNumber(Firmware->AllocationCount() + 1);
  EXPECT_EQ(ReadTokenLine(&Reader, &Tokens, &Count), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Tokens, nullptr);
  EXPECT_EQ(Count, 0u);
}

// A line of 10 tokens takes: the line, then per token a copy, with the array at the first and the ninth.
TEST_F(TokenizerTest, EveryAllocationFailureReleasesTheWholeLine) {
  const std::string Text = "0 1 2 3 4 5 6 7 8 9\nnext line\n";
  const TokenLines Full = {{u"0", u"1", u"2", u"3", u"4", u"5", u"6", u"7", u"8", u"9"}, {u"next", u"line"}};
  size_t Failures = 0;
  for (size_t Failing = 1;; Failing++) {
    Open(Text);
    const size_t Base = Firmware->AllocationCount();
    Firmware->FailAllocationNumber(Base + Failing);
    CHAR16 **Tokens = reinterpret_cast<CHAR16 **>(0x1);
    UINTN Count = 99;
    const bool Read = ReadTokenLine(&Reader, &Tokens, &Count) == EFI_SUCCESS;
    const bool FailedInFirstLine = Firmware->AllocationCount() >= Base + Failing;
    if (!FailedInFirstLine) {
      ASSERT_TRUE(Read);
      EXPECT_EQ(TakeTokens(Tokens, Count), Full[0]);
      PoolRelease(Reader.Buffer);
      Reader = {};
      break;
    }
    Failures++;
    EXPECT_FALSE(Read) << "failing allocation " << Failing;
    EXPECT_EQ(Tokens, nullptr);
    EXPECT_EQ(Count, 0u);
    EXPECT_EQ(Firmware->LiveBlockCount(), 1u) << "only the reader's copy is left, failing " << Failing;
    // The failed line is lost; the scan goes on with the next.
    Firmware->FailAllocationNumber(0);
    EXPECT_EQ(ReadAllTokenLines(), TokenLines{Full[1]});
    PoolRelease(Reader.Buffer);
    Reader = {};
  }
  EXPECT_EQ(Failures, 1u + 10u + 2u);
}

} // namespace
