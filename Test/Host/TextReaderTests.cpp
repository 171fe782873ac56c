/* The text buffer reader: encoding detection, line ends, quoting, failures of the pool. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Double/DriverFixture.h"
#include "Library/PoolLib.h"
#include "TextReader.h"

namespace {

template <size_t N> std::string Bytes(const char (&Text)[N]) { return std::string(Text, N - 1); }

class TextReaderTest : public DriverTest {
protected:
  void SetUp() override {
    DriverTest::SetUp();
    CaptureTablesOnly();
  }

  /*
   * The status of the next ReadTextLine; a line read goes to *Units when
   * given, and is released. Lines may hold 0 units (a 0x00 byte of the
   * text): the length reported must be the block's, less the terminator.
   */
  EFI_STATUS NextLine(TextReader &Reader, std::u16string *Units = nullptr) {
    CHAR16 *Line;
    UINTN Length;
    const EFI_STATUS Status = ReadTextLine(&Reader, &Line, &Length);
    if (Status == EFI_SUCCESS) {
      EXPECT_EQ(Firmware->BlockSize(Line), 2 * (Length + 1));
      EXPECT_EQ(Line[Length], 0);
      if (Units != nullptr) {
        Units->assign(Line, Length);
      }
      PoolRelease(Line);
    }
    return Status;
  }

  /* Every line of Reader up to the first failure. */
  std::vector<std::u16string> ReadAll(TextReader &Reader) {
    std::vector<std::u16string> Lines;
    std::u16string Line;
    while (NextLine(Reader, &Line) == EFI_SUCCESS) {
      Lines.push_back(Line);
    }
    return Lines;
  }
};

struct ReaderCase {
  const char *Name;
  std::string Text;
  UINTN Encoding;
  std::vector<std::u16string> Lines;
};

TEST_F(TextReaderTest, DetectsEncodingAndSplitsLines) {
  const ReaderCase Cases[] = {
      {"utf16 bom", Bytes("\xFF\xFE\x41\x00"), TextEncodingUtf16, {u"A"}},
      {"three bytes stay byte mode", Bytes("\xFF\xFE\x41"), TextEncodingBytes, {u"\xFFFF\xFFFE\x0041"}},
      {"utf8 bom", Bytes("\xEF\xBB\xBF\x41"), TextEncodingUtf8Bom, {u"A"}},
      {"utf16 without bom", Bytes("\x41\x00\x42\x00"), TextEncodingUtf16, {u"AB"}},
      {"byte 3 not zero", Bytes("\x41\x00\x42\x43"), TextEncodingBytes, {std::u16string(u"A\0BC", 4)}},
      {"leading breaks give one empty line", Bytes("\r\n\r\nA"), TextEncodingBytes, {u"", u"A"}},
      {"run of breaks counts as one", Bytes("A\r\n\r\n\rB"), TextEncodingBytes, {u"A", u"B"}},
      {"quoted breaks stay in byte line", Bytes("\"A\r\nB\"\r\nC"), TextEncodingBytes, {u"\"A\r\nB\"", u"C"}},
      {"quotes do nothing in utf16",
       Bytes("\"\0A\0\r\0\n\0B\0\"\0\r\0\n\0C\0"),
       TextEncodingUtf16,
       {u"\"A", u"B\"", u"C"}},
      {"odd utf16 size drops the last byte", Bytes("\x41\x00\x42\x00\x43"), TextEncodingUtf16, {u"AB"}},
      {"empty text", "", TextEncodingBytes, {}},
      {"bytes above 0x7f are sign-extended", Bytes("\xEF\xBB\xBF\xC3\xA9"), TextEncodingUtf8Bom, {u"\xFFC3\xFFA9"}},
      {"big-endian bom is byte mode",
       Bytes("\xFE\xFF\x00\x41"),
       TextEncodingBytes,
       {std::u16string(u"\xFFFE\xFFFF\0A", 4)}},
      {"lf cr and lone cr end lines", Bytes("A\n\rB\rC\n"), TextEncodingBytes, {u"A", u"B", u"C"}},
      {"unclosed quote takes the rest", Bytes("A\r\n\"B\r\nC\r\nD"), TextEncodingBytes, {u"A", u"\"B\r\nC\r\nD"}},
      {"break right after utf16 bom", Bytes("\xFF\xFE\r\0\n\0A\0"), TextEncodingUtf16, {u"", u"A"}},
      {"break right after utf8 bom", Bytes("\xEF\xBB\xBF\nA"), TextEncodingUtf8Bom, {u"", u"A"}},
      {"utf16 units are copied unchanged",
       Bytes("\xFF\xFE\xE9\x00\x3D\xD8\x00\xDE"),
       TextEncodingUtf16,
       {u"\x00E9\xD83D\xDE00"}},
  };
  for (const auto &Case : Cases) {
    TextReader Reader;
    ASSERT_EQ(OpenTextReader(Case.Text.data(), Case.Text.size(), &Reader), EFI_SUCCESS) << Case.Name;
    EXPECT_EQ(Reader.Encoding, Case.Encoding) << Case.Name;
    EXPECT_EQ(ReadAll(Reader), Case.Lines) << Case.Name;
    EXPECT_EQ(NextLine(Reader), EFI_NOT_FOUND) << Case.Name << ": the end again after the end";
    PoolRelease(Reader.Buffer);
  }
}

TEST_F(TextReaderTest, OpeningPlacesCursorsPastTheBomOfItsEncodingOnly) {
  struct CursorCase {
    std::string Text;
    ptrdiff_t ByteOffset;
    ptrdiff_t WideOffset;
  };
  const CursorCase Cases[] = {
      {Bytes("\xFF\xFE\x41\x00"), 0, 2},
      {Bytes("\xEF\xBB\xBF\x41"), 3, 0},
      {Bytes("\x41\x00\x42\x00"), 0, 0},
      {Bytes("ABCD"), 0, 0},
  };
  for (const auto &Case : Cases) {
    TextReader Reader;
    ASSERT_EQ(OpenTextReader(Case.Text.data(), Case.Text.size(), &Reader), EFI_SUCCESS);
    EXPECT_EQ(Reader.ByteCursor - Reader.Buffer, Case.ByteOffset);
    EXPECT_EQ(reinterpret_cast<UINT8 *>(Reader.WideCursor) - Reader.Buffer, Case.WideOffset);
    PoolRelease(Reader.Buffer);
  }
}

TEST_F(TextReaderTest, OddSizeStopsTheWideEndOneByteShort) {
  const std::string Text = "ABCDE";
  TextReader Reader;
  ASSERT_EQ(OpenTextReader(Text.data(), Text.size(), &Reader), EFI_SUCCESS);
  EXPECT_EQ(Reader.Size, 5u);
  EXPECT_EQ(Reader.ByteEnd, Reader.Buffer + 5);
  EXPECT_EQ(reinterpret_cast<UINT8 *>(Reader.WideEnd), Reader.Buffer + 4);
  PoolRelease(Reader.Buffer);
}

TEST_F(TextReaderTest, KeepsItsOwnCopyOfTheSource) {
  std::string Text = "first\nsecond";
  TextReader Reader;
  ASSERT_EQ(OpenTextReader(Text.data(), Text.size(), &Reader), EFI_SUCCESS);
  EXPECT_NE(reinterpret_cast<char *>(Reader.Buffer), Text.data());
  EXPECT_EQ(Firmware->BlockSize(Reader.Buffer), Text.size());
  Text.assign(Text.size(), 'x');
  EXPECT_EQ(ReadAll(Reader), (std::vector<std::u16string>{u"first", u"second"}));
  PoolRelease(Reader.Buffer);
}

TEST_F(TextReaderTest, ReaderThatWasNeverFilledYieldsNoLine) {
  TextReader Reader{};
  EXPECT_EQ(NextLine(Reader), EFI_NOT_FOUND);
  EXPECT_TRUE(TextReaderAtEnd(&Reader));
  EXPECT_EQ(Firmware->AllocationCount(), 0u);
}

TEST_F(TextReaderTest, UnknownEncodingYieldsNoLine) {
  TextReader Reader;
  ASSERT_EQ(OpenTextReader("AB\nCD", 5, &Reader), EFI_SUCCESS);
  Reader.Encoding = static_cast<TextEncoding>(3);
  EXPECT_EQ(NextLine(Reader), EFI_NOT_FOUND);
  EXPECT_EQ(Reader.ByteCursor, Reader.Buffer);
  PoolRelease(Reader.Buffer);
}

TEST_F(TextReaderTest, FailedCopyLeavesAnEmptyReaderAndReportsOutOfResources) {
  TextReader Reader;
  std::memset(&Reader, 0x5A, sizeof(Reader));
  Firmware->FailAllocationNumber(1);
  EXPECT_EQ(OpenTextReader("[AB12CD34]\n0 x\n", 15, &Reader), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Reader.Buffer, nullptr);
  EXPECT_EQ(Reader.Size, 0u);
  EXPECT_EQ(Reader.Encoding, TextEncodingBytes);
  EXPECT_EQ(Reader.ByteCursor, Reader.ByteEnd);
  EXPECT_EQ(Reader.WideCursor, Reader.WideEnd);
  EXPECT_EQ(NextLine(Reader), EFI_NOT_FOUND);
  EXPECT_TRUE(TextReaderAtEnd(&Reader));
}

TEST_F(TextReaderTest, LineThatCannotBeAllocatedIsConsumed) {
  const std::string Texts[] = {"one\r\ntwo\r\nthree", Bytes("o\0n\0e\0\r\0\n\0t\0w\0o\0\n\0t\0h\0r\0e\0e\0")};
  for (const auto &Text : Texts) {
    TextReader Reader;
    ASSERT_EQ(OpenTextReader(Text.data(), Text.size(), &Reader), EFI_SUCCESS);
    std::u16string First;
    EXPECT_EQ(NextLine(Reader, &First), EFI_SUCCESS);
    EXPECT_EQ(First, u"one");
    Firmware->FailAllocationNumber(Firmware->AllocationCount() + 1);
    EXPECT_FALSE(TextReaderAtEnd(&Reader));
    EXPECT_EQ(NextLine(Reader), EFI_OUT_OF_RESOURCES) << "a run-dry pool is told apart from the end";
    EXPECT_EQ(ReadAll(Reader), std::vector<std::u16string>{u"three"});
    EXPECT_TRUE(TextReaderAtEnd(&Reader));
    PoolRelease(Reader.Buffer);
  }
}

TEST_F(TextReaderTest, RewindMovesTheCursorOfTheReadersEncoding) {
  const std::string Texts[] = {"\nA\nB", Bytes("\n\0A\0\n\0B\0")};
  for (const auto &Text : Texts) {
    TextReader Reader;
    ASSERT_EQ(OpenTextReader(Text.data(), Text.size(), &Reader), EFI_SUCCESS);
    const auto First = ReadAll(Reader);
    EXPECT_EQ(First, (std::vector<std::u16string>{u"", u"A", u"B"}));
    RewindTextReader(&Reader);
    EXPECT_FALSE(TextReaderAtEnd(&Reader));
    EXPECT_EQ(ReadAll(Reader), First) << "a rewound reader reads the same lines again";
    PoolRelease(Reader.Buffer);
  }
}

TEST_F(TextReaderTest, UntrustedLengthsNeverPassTheEnd) {
  // Every prefix of a text with quotes, breaks and a BOM: lines never hold more units than the prefix has bytes.
  const std::string Text = Bytes("\xEF\xBB\xBF\"a\r\n\"b\n\n\"c");
  for (size_t Size = 0; Size <= Text.size(); Size++) {
    TextReader Reader;
    ASSERT_EQ(OpenTextReader(Text.data(), Size, &Reader), EFI_SUCCESS);
    size_t Units = 0;
    for (const auto &Line : ReadAll(Reader)) {
      Units += Line.size();
    }
    EXPECT_LE(Units, Size);
    PoolRelease(Reader.Buffer);
  }
}

} // namespace
