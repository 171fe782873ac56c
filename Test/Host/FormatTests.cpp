/* Formatted output: every conversion, the numeric layout, line ends, cut-off and terminator rules, 8-bit and wide. */
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "../../Library/Format/FormatInternal.h"
#include "Double/TestValues.h"
#include "Library/FormatLib.h"
#include "Library/StatusNames.h"

namespace {

UINT64 Pointer(const void *Address) { return (UINT64)(UINTN)Address; }

const EFI_GUID ServiceGuid = {0x12345678, 0xFC25, 0x4C1C, {0xB9, 0x7C, 0xB3, 0x11, 0x86, 0x06, 0x49, 0x90}};
const EFI_TIME SampleTime = {999, 12, 7, 9, 5, 30, 0, 0, 0, 0, 0};
const EFI_TIME WidestTime = {65535, 255, 255, 255, 255, 255, 0, 0, 0, 0, 0};

struct FormatCase {
  const char *Format;
  std::vector<UINT64> Slots;
  std::string Expected;
};

/* What one call stored: the text before the terminator, the result, and whether a terminator was found. */
struct Stored {
  std::string Text;
  UINTN Result;
  bool Terminated;
};

constexpr UINT8 Guard = 0xA5;

/* Formats into an 8-bit buffer of Size characters, guarded on both sides; checks the guards. */
Stored RunAscii(const char *Format, const std::vector<UINT64> &Slots, UINTN Size = 128) {
  std::vector<CHAR8> Memory(Size + 16, (CHAR8)Guard);
  CHAR8 *Buffer = Memory.data() + 8;
  const FORMAT_ARGUMENTS List = {Slots.data(), Slots.size()};
  Stored Result{"", FormatToAsciiV(Buffer, Size, Format, &List), false};
  for (UINTN Index = 0; Index < Size; Index++) {
    if (Buffer[Index] == 0) {
      Result.Terminated = true;
      break;
    }
    Result.Text.push_back(Buffer[Index]);
  }
  for (UINTN Index = 0; Index < 8; Index++) {
    EXPECT_EQ((UINT8)Memory[Index], Guard) << Format << ": guard before the buffer";
    EXPECT_EQ((UINT8)Memory[8 + Size + Index], Guard) << Format << ": guard after the buffer";
  }
  return Result;
}

/* Formats the widened format into a wide buffer of Size characters; the text comes back narrowed (low bytes). */
Stored RunWide(const char *Format, const std::vector<UINT64> &Slots, UINTN Size = 128) {
  const std::u16string WideFormat = Widen(Format);
  std::vector<CHAR16> Memory(Size + 16, (CHAR16)(Guard * 0x101));
  CHAR16 *Buffer = Memory.data() + 8;
  const FORMAT_ARGUMENTS List = {Slots.data(), Slots.size()};
  Stored Result{"", FormatToWideV(Buffer, Size * 2, WideFormat.c_str(), &List), false};
  for (UINTN Index = 0; Index < Size; Index++) {
    if (Buffer[Index] == 0) {
      Result.Terminated = true;
      break;
    }
    EXPECT_LT(Buffer[Index], 0x100u) << Format << ": wide character " << Index;
    Result.Text.push_back((char)Buffer[Index]);
  }
  for (UINTN Index = 0; Index < 8; Index++) {
    EXPECT_EQ(Memory[Index], (CHAR16)(Guard * 0x101)) << Format << ": guard before the buffer";
    EXPECT_EQ(Memory[8 + Size + Index], (CHAR16)(Guard * 0x101)) << Format << ": guard after the buffer";
  }
  return Result;
}

void ExpectBothForms(const FormatCase &Case) {
  const Stored Ascii = RunAscii(Case.Format, Case.Slots);
  EXPECT_TRUE(Ascii.Terminated) << Case.Format;
  EXPECT_EQ(Ascii.Text, Case.Expected) << "8-bit form of " << Case.Format;
  EXPECT_EQ(Ascii.Result, Case.Expected.size()) << "8-bit form of " << Case.Format;
  const Stored Wide = RunWide(Case.Format, Case.Slots);
  EXPECT_TRUE(Wide.Terminated) << Case.Format;
  EXPECT_EQ(Wide.Text, Case.Expected) << "wide form of " << Case.Format;
  EXPECT_EQ(Wide.Result, Case.Expected.size()) << "wide form of " << Case.Format;
}

const INT64 MostNegative = (INT64)0x8000000000000000ULL;

TEST(FormatTest, EdgeCaseTableInBothForms) {
  const std::vector<FormatCase> Cases = {
      {"%d", {FormatSlot(-42)}, "-42"},
      {"%5d", {FormatSlot(-42)}, "  -42"},
      {"%05d", {FormatSlot(-42)}, "-0042"},
      {"%-5d]", {FormatSlot(-42)}, "-42  ]"},
      {"%.4d", {FormatSlot(-42)}, "-0042"},
      {"%+d", {FormatSlot(5)}, "+5"},
      {"% d", {FormatSlot(5)}, " 5"},
      {"%+ d", {FormatSlot(5)}, "+5"},
      {"%+x", {FormatSlot(255)}, "+FF"},
      {"%x", {FormatSlot(255)}, "FF"},
      {"%x", {FormatSlot(-1)}, "FFFFFFFF"},
      {"%lx", {FormatSlot(-1)}, "FFFFFFFFFFFFFFFF"},
      {"%8X", {FormatSlot(26)}, "0000001A"},
      {"%8x", {FormatSlot(26)}, "      1A"},
      {"%p", {FormatSlot(0x3F8)}, "3F8"},
      {"%16p", {FormatSlot(0x3F8)}, "00000000000003F8"},
      {"%,d", {FormatSlot(115200)}, "115,200"},
      {"%,d", {FormatSlot(-1016)}, "-1,016"},
      {"%,08d", {FormatSlot(1016)}, "   1,016"},
      {"%,.6d", {FormatSlot(12)}, "12"},
      {"%d", {FormatSlot(0)}, "0"},
      {"%.0d", {FormatSlot(0)}, ""},
      {"%.d", {FormatSlot(0)}, "0"},
      {"%d", {0x80000000ULL}, "-2147483648"},
      {"%ld", {FormatSlot(MostNegative)}, "-9223372036854775808"},
      {"%03d", {FormatSlot(64512)}, "64512"},
      {"%.3a", {Pointer("abcdef")}, "abc"},
      {"%.5a", {Pointer("abc")}, "  abc"},
      {"%.a", {Pointer("abc")}, "a"},
      {"%8a]", {Pointer("abc")}, "     abc]"},
      {"%-8a]", {Pointer("abc")}, "abc     ]"},
      {"%-8.5a]", {Pointer("abc")}, "  abc   ]"},
      {"%a", {0}, "<null string>"},
      {"%s", {0}, "<null string>"},
      {"%g", {0}, "<null guid>"},
      {"%t", {0}, "<null time>"},
      {"%c", {FormatSlot(0x41)}, "A"},
      {"%c", {FormatSlot(0)}, " "},
      {"%*d", {FormatSlot(6), FormatSlot(42)}, "    42"},
      {"%.*a", {FormatSlot(2), Pointer("abcdef")}, "ab"},
      {"%*d", {FormatSlot(-5), FormatSlot(42)}, "42"},
      {"%%", {}, "%"},
      {"%u", {}, "u"},
      {"%#x", {}, "#x"},
      {"%hd", {}, "hd"},
      {"%r", {EFI_SUCCESS}, "Success"},
      {"%r", {EFI_WARN_BUFFER_TOO_SMALL}, "Warning Buffer Too Small"},
      {"%r", {EFI_NOT_FOUND}, "Not Found"},
      {"%r", {EFI_PROTOCOL_ERROR}, "Protocol Error"},
      {"%r", {5}, "00000005"},
      {"%r", {ENCODE_ERROR(25)}, "00000019"},
      {"%r", {EFI_ERROR_BIT}, "00000000"},
      {"%t", {Pointer(&SampleTime)}, "12/07/0999  09:05"},
      {"%g", {Pointer(&ServiceGuid)}, "12345678-FC25-4C1C-B97C-B31186064990"},
  };
  for (const FormatCase &Case : Cases) {
    ExpectBothForms(Case);
  }
}

TEST(FormatTest, NumericLayoutCombinesSignWidthPrecisionAndGrouping) {
  const std::vector<FormatCase> Cases = {
      {"%8.4d", {FormatSlot(-42)}, "   -0042"},
      {"%+05d", {FormatSlot(5)}, "+0005"},
      {"% 05d", {FormatSlot(5)}, " 0005"},
      {"%-+5d]", {FormatSlot(5)}, "+5   ]"},
      {"%-05d]", {FormatSlot(42)}, "42   ]"},
      {"%05.3d", {FormatSlot(7)}, "  007"},
      {"%0*d", {FormatSlot(5), FormatSlot(42)}, "00042"},
      {"%.*d", {FormatSlot(3), FormatSlot(7)}, "007"},
      {"%+.0d", {FormatSlot(0)}, "+"},
      {"%.0x", {FormatSlot(0)}, ""},
      {"%p", {FormatSlot(0)}, "0"},
      {"%+p", {FormatSlot(0x3F8)}, "3F8"},
      {"% 8p", {FormatSlot(0x3F8)}, "000003F8"},
      {"%X", {FormatSlot(0xABCDEF)}, "ABCDEF"},
      {"%.4x", {FormatSlot(255)}, "00FF"},
      {"%-8X]", {FormatSlot(26)}, "1A      ]"},
      {"%+08X", {FormatSlot(255)}, "+00000FF"},
      {"%x", {FormatSlot(MostNegative)}, "0"},
      {"%lx", {FormatSlot(MostNegative)}, "8000000000000000"},
      {"%ld", {~0ULL}, "-1"},
      {"%Ld", {FormatSlot(1LL << 40)}, "1099511627776"},
      {"%d", {FormatSlot(1LL << 40)}, "0"},
      {"%,d", {FormatSlot(1234567)}, "1,234,567"},
      {"%,d", {FormatSlot(100)}, "100"},
      {"%,d", {FormatSlot(-100)}, "-100"},
      {"%,d", {FormatSlot(0)}, "0"},
      {"%+,d", {FormatSlot(1000)}, "+1,000"},
      {"%,5d", {FormatSlot(1000)}, "1,000"},
      {"%-,8d]", {FormatSlot(1000)}, "1,000   ]"},
      {"%,ld", {FormatSlot(MostNegative)}, "-9,223,372,036,854,775,808"},
      {"%,x", {FormatSlot(0x123456)}, "123456"},
      {"%5.5.2d", {FormatSlot(7)}, "   07"},
      {"%3%", {}, "  %"},
      {"%-3c]", {FormatSlot(u'A')}, "A  ]"},
  };
  for (const FormatCase &Case : Cases) {
    ExpectBothForms(Case);
  }
}

TEST(FormatTest, TextsObeyWidthAndPrecision) {
  static const CHAR16 WideAbc[] = u"abc";
  const std::vector<FormatCase> Cases = {
      {"%s", {Pointer(WideAbc)}, "abc"},
      {"%S", {Pointer(WideAbc)}, "abc"},
      {"%5s]", {Pointer(WideAbc)}, "  abc]"},
      {"%.2s", {Pointer(WideAbc)}, "ab"},
      {"%a", {Pointer("")}, ""},
      {"%.0a", {Pointer("abc")}, ""},
      {"%15a", {0}, "  <null string>"},
      {"%.6s", {0}, "<null "},
      {"%.8g", {Pointer(&ServiceGuid)}, "12345678"},
      {"%40g]", {Pointer(&ServiceGuid)}, "    12345678-FC25-4C1C-B97C-B31186064990]"},
      {"%-12t]", {0}, "<null time> ]"},
      {"%t", {Pointer(&WidestTime)}, "255/255/65535  255:255"},
      {"%3r", {EFI_ABORTED}, "Aborted"},
      {"%.4r", {EFI_ABORTED}, "Abor"},
      {"%c", {FormatSlot(0x10041)}, "A"},
      {"%lc", {FormatSlot('z')}, "z"},
  };
  for (const FormatCase &Case : Cases) {
    ExpectBothForms(Case);
  }
}

TEST(FormatTest, BareConversionsMatchTheirFlaggedLayout) {
  // A bare "%d", "%a" or "%s" must print what the full layout prints for it; "-" without a width changes nothing.
  static const CHAR16 WideText[] = {u'w', 0x0141, u'z', 0};
  const std::vector<UINT64> Numbers = {0,
                                       1,
                                       9,
                                       10,
                                       12,
                                       999,
                                       64512,
                                       0x7FFFFFFF,
                                       0x80000000,
                                       FormatSlot(-1),
                                       FormatSlot(-115200),
                                       FormatSlot(MostNegative),
                                       ~0ULL,
                                       1ULL << 40};
  const std::vector<UINT64> NarrowStrings = {0, Pointer(""), Pointer("abc"), Pointer("\xE9xyz")};
  const std::vector<UINT64> WideStrings = {0, Pointer(u""), Pointer(u"abc"), Pointer(WideText)};
  for (UINTN Size : {1u, 2u, 4u, 8u, 30u}) {
    for (UINT64 Number : Numbers) {
      EXPECT_EQ(RunAscii("<%d>", {Number}, Size).Text, RunAscii("<%-d>", {Number}, Size).Text) << Number;
      EXPECT_EQ(RunWide("<%d>", {Number}, Size).Text, RunWide("<%-d>", {Number}, Size).Text) << Number;
    }
    for (UINT64 String : NarrowStrings) {
      EXPECT_EQ(RunAscii("<%a>", {String}, Size).Text, RunAscii("<%-a>", {String}, Size).Text);
    }
    for (UINT64 String : WideStrings) {
      EXPECT_EQ(RunAscii("<%s>", {String}, Size).Text, RunAscii("<%-s>", {String}, Size).Text);
      EXPECT_EQ(RunAscii("<%S>", {String}, Size).Text, RunAscii("<%-S>", {String}, Size).Text);
    }
  }
}

TEST(FormatTest, GuidFieldsNeedNoAlignment) {
  UINT8 Bytes[sizeof(EFI_GUID) + 1];
  std::memcpy(Bytes + 1, &ServiceGuid, sizeof(EFI_GUID));
  ExpectBothForms({"%g", {Pointer(Bytes + 1)}, "12345678-FC25-4C1C-B97C-B31186064990"});
}

TEST(FormatTest, TimeFieldsNeedNoAlignment) {
  UINT8 Bytes[sizeof(EFI_TIME) + 1];
  std::memcpy(Bytes + 1, &SampleTime, sizeof(EFI_TIME));
  ExpectBothForms({"%t", {Pointer(Bytes + 1)}, "12/07/0999  09:05"});
}

TEST(FormatTest, EveryStatusInTheTablePrintsItsName) {
  const std::vector<std::pair<EFI_STATUS, std::string>> Names = {
      {EFI_SUCCESS, "Success"},
      {EFI_WARN_UNKNOWN_GLYPH, "Warning Unknown Glyph"},
      {EFI_WARN_DELETE_FAILURE, "Warning Delete Failure"},
      {EFI_WARN_WRITE_FAILURE, "Warning Write Failure"},
      {EFI_WARN_BUFFER_TOO_SMALL, "Warning Buffer Too Small"},
      {EFI_LOAD_ERROR, "Load Error"},
      {EFI_INVALID_PARAMETER, "Invalid Parameter"},
      {EFI_UNSUPPORTED, "Unsupported"},
      {EFI_BAD_BUFFER_SIZE, "Bad Buffer Size"},
      {EFI_BUFFER_TOO_SMALL, "Buffer Too Small"},
      {EFI_NOT_READY, "Not Ready"},
      {EFI_DEVICE_ERROR, "Device Error"},
      {EFI_WRITE_PROTECTED, "Write Protected"},
      {EFI_OUT_OF_RESOURCES, "Out of Resources"},
      {EFI_VOLUME_CORRUPTED, "Volume Corrupt"},
      {EFI_VOLUME_FULL, "Volume Full"},
      {EFI_NO_MEDIA, "No Media"},
      {EFI_MEDIA_CHANGED, "Media changed"},
      {EFI_NOT_FOUND, "Not Found"},
      {EFI_ACCESS_DENIED, "Access Denied"},
      {EFI_NO_RESPONSE, "No Response"},
      {EFI_NO_MAPPING, "No mapping"},
      {EFI_TIMEOUT, "Time out"},
      {EFI_NOT_STARTED, "Not started"},
      {EFI_ALREADY_STARTED, "Already started"},
      {EFI_ABORTED, "Aborted"},
      {EFI_ICMP_ERROR, "ICMP Error"},
      {EFI_TFTP_ERROR, "TFTP Error"},
      {EFI_PROTOCOL_ERROR, "Protocol Error"},
  };
  ASSERT_EQ(Names.size(), STATUS_TEXT_COUNT);
  for (const auto &[Status, Name] : Names) {
    ExpectBothForms({"%r", {Status}, Name});
  }
}

TEST(FormatTest, StatusOutsideTheTablePrintsItsLowBitsInHexadecimal) {
  const std::vector<FormatCase> Cases = {
      {"%r", {ENCODE_WARNING(5)}, "00000005"},
      {"%r", {ENCODE_ERROR(25)}, "00000019"},
      {"%r", {ENCODE_ERROR(0)}, "00000000"},
      {"%r", {0x7FFFFFFFFFFFFFFFULL}, "FFFFFFFF"},
      {"%r", {ENCODE_ERROR(0x123456789AULL)}, "3456789A"},
      {"%r", {0x100000000ULL}, "00000000"},
      {"%12r]", {ENCODE_WARNING(5)}, "    00000005]"},
  };
  for (const FormatCase &Case : Cases) {
    ExpectBothForms(Case);
  }
}

TEST(FormatTest, LineEndsBecomeCarriageReturnLineFeed) {
  const std::vector<FormatCase> Cases = {
      {"a\nb", {}, "a\r\nb"},   {"a\r\nb", {}, "a\r\nb"}, {"a\n\rb", {}, "a\r\nb"}, {"a\rb", {}, "a\rb"},
      {"a\r", {}, "a\r"},       {"\n\n", {}, "\r\n\r\n"}, {"\r\r", {}, "\r\r"},     {"\n\r\n", {}, "\r\n\r\n"},
      {"\r\n\r", {}, "\r\n\r"}, {"%5\n", {}, "   \r\n"},  {"%\r\nx", {}, "\r\nx"},  {"%\n\rx", {}, "\r\nx"},
      {"%\rx", {}, "\rx"},      {"%-4\r]", {}, "\r   ]"},
  };
  for (const FormatCase &Case : Cases) {
    ExpectBothForms(Case);
  }
}

TEST(FormatTest, FormatEndingInsideADirective) {
  const std::vector<FormatCase> Cases = {
      {"ab%", {}, "ab"}, {"%5", {}, "     "},         {"x%-5", {}, "x     "},
      {"%.5", {}, ""},   {"%l", {FormatSlot(7)}, ""}, {"%*", {FormatSlot(3)}, "   "},
  };
  for (const FormatCase &Case : Cases) {
    ExpectBothForms(Case);
  }
}

TEST(FormatTest, MissingArgumentsReadAsZero) {
  const std::vector<FormatCase> Cases = {
      {"%d|%x|%p", {}, "0|0|0"},
      {"%a|%s", {}, "<null string>|<null string>"},
      {"%g|%t|%r", {}, "<null guid>|<null time>|Success"},
      {"[%c]", {}, "[ ]"},
      {"%*d", {}, "0"},
      {"%d %d %s", {FormatSlot(1)}, "1 0 <null string>"},
  };
  for (const FormatCase &Case : Cases) {
    ExpectBothForms(Case);
  }
}

TEST(FormatTest, NullArgumentListReadsZero) {
  CHAR8 Buffer[32];
  EXPECT_EQ(FormatToAsciiV(Buffer, sizeof(Buffer), "%d%s", nullptr), 14u);
  EXPECT_STREQ(Buffer, "0<null string>");
}

TEST(FormatTest, NullFormatPrintsNothing) {
  CHAR8 Buffer[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(FormatToAscii(Buffer, sizeof(Buffer), nullptr), 0u);
  EXPECT_EQ(Buffer[0], 0);
  EXPECT_EQ(Buffer[1], 'x');
}

TEST(FormatTest, FileNameFitsSixteenCharacters) {
  CHAR8 Buffer[16];
  std::memset(Buffer, 0x55, sizeof(Buffer));
  EXPECT_EQ(FormatToAscii(Buffer, 16, "%s.%d", u"ABCD1234", 12), 11u);
  EXPECT_EQ(std::string(Buffer, 12), std::string("ABCD1234.12\0", 12));
  EXPECT_EQ((UINT8)Buffer[12], 0x55);
}

TEST(FormatTest, FileNameTooLongIsCutAtFifteen) {
  CHAR8 Buffer[16];
  std::memset(Buffer, 0x55, sizeof(Buffer));
  EXPECT_EQ(FormatToAscii(Buffer, 16, "%s.%d", u"ABCD1234", -115200), 15u);
  EXPECT_EQ(std::string(Buffer, 16), std::string("ABCD1234.-11520\0", 16));
}

TEST(FormatTest, WideSizeIsInBytes) {
  CHAR16 Buffer[8];
  for (CHAR16 &Unit : Buffer) {
    Unit = 0x5555;
  }
  EXPECT_EQ(FormatToWide(Buffer, 10, u"%d", 64512), 4u);
  EXPECT_EQ(std::u16string(Buffer, 5), std::u16string(u"6451\0", 5));
  EXPECT_EQ(Buffer[5], 0x5555);
  // An odd byte count rounds down to whole characters.
  EXPECT_EQ(FormatToWide(Buffer, 11, u"%d", 64512), 4u);
  EXPECT_EQ(Buffer[5], 0x5555);
}

TEST(FormatTest, CutOffDropsTheRestOfTheElementAndTheFormat) {
  const std::vector<std::tuple<const char *, std::vector<UINT64>, UINTN, std::string>> Cases = {
      {"%100d", {FormatSlot(1)}, 8, "       "},
      {"%-10d]", {FormatSlot(1)}, 5, "1   "},
      {"%,d", {FormatSlot(1234567)}, 4, "1,2"},
      {"%,d", {FormatSlot(1234567)}, 3, "1,"},
      {"a\nb", {}, 3, "a\r"},
      {"%g", {Pointer(&ServiceGuid)}, 10, "12345678-"},
      {"%d%d", {FormatSlot(123), FormatSlot(45)}, 4, "123"},
  };
  for (const auto &[Format, Slots, Size, Expected] : Cases) {
    const Stored Ascii = RunAscii(Format, Slots, Size);
    EXPECT_TRUE(Ascii.Terminated) << Format;
    EXPECT_EQ(Ascii.Text, Expected) << Format;
    EXPECT_EQ(Ascii.Result, Expected.size()) << Format;
    const Stored Wide = RunWide(Format, Slots, Size);
    EXPECT_TRUE(Wide.Terminated) << Format;
    EXPECT_EQ(Wide.Text, Expected) << Format;
    EXPECT_EQ(Wide.Result, Expected.size()) << Format;
  }
}

TEST(FormatTest, CutOffStopsReadingTheFormat) {
  // The format has no terminator: the engine must stop at the end of the output without reading past 'c'.
  const std::vector<CHAR8> Format = {'a', 'b', 'c'};
  CHAR8 Buffer[3];
  EXPECT_EQ(FormatToAscii(Buffer, sizeof(Buffer), Format.data()), 2u);
  EXPECT_STREQ(Buffer, "ab");
}

TEST(FormatTest, SizeZeroTouchesNothing) {
  CHAR8 Ascii[2] = {'x', 'x'};
  EXPECT_EQ(FormatToAscii(Ascii, 0, "abc"), 0u);
  EXPECT_EQ(Ascii[0], 'x');
  CHAR16 Wide[2] = {u'x', u'x'};
  EXPECT_EQ(FormatToWide(Wide, 0, u"abc"), 0u);
  EXPECT_EQ(FormatToWide(Wide, 1, u"abc"), 0u);
  EXPECT_EQ(Wide[0], u'x');
}

TEST(FormatTest, SizeOneStoresOnlyTheTerminator) {
  CHAR8 Ascii[2] = {'x', 'x'};
  EXPECT_EQ(FormatToAscii(Ascii, 1, "abc"), 0u);
  EXPECT_EQ(Ascii[0], 0);
  EXPECT_EQ(Ascii[1], 'x');
  for (UINTN Bytes : {2u, 3u}) {
    CHAR16 Wide[2] = {u'x', u'x'};
    EXPECT_EQ(FormatToWide(Wide, Bytes, u"abc"), 0u);
    EXPECT_EQ(Wide[0], 0);
    EXPECT_EQ(Wide[1], u'x');
  }
}

TEST(FormatTest, NullBufferStoresNothing) {
  EXPECT_EQ(FormatToAscii(nullptr, 16, "%d", 12), 0u);
  EXPECT_EQ(FormatToWide(nullptr, 16, u"%d", 12), 0u);
}

TEST(FormatTest, CharacterWidthsConvertByTruncationOrZeroExtension) {
  // A wide format into 8-bit output keeps the low byte of each character.
  CHAR8 Narrow[8];
  const CHAR16 WideFormat[] = {0x0141, u'%', u'c', 0};
  EXPECT_EQ(FormatWithMode(Narrow, sizeof(Narrow), FMT_IN_WIDE, WideFormat, 0x142), 2u);
  EXPECT_STREQ(Narrow, "AB");
  // A wide string argument keeps its whole units in wide output and only their low bytes in 8-bit output.
  const CHAR16 HighUnits[] = {0x0141, 0x0042, 0};
  EXPECT_EQ(FormatToAscii(Narrow, sizeof(Narrow), "%s", HighUnits), 2u);
  EXPECT_STREQ(Narrow, "AB");
  CHAR16 WideCopy[4];
  EXPECT_EQ(FormatToWide(WideCopy, sizeof(WideCopy), u"%s", HighUnits), 2u);
  EXPECT_EQ(std::u16string(WideCopy), std::u16string(HighUnits));
  // An 8-bit format and 8-bit string into wide output get a zero high byte.
  CHAR16 Wide[8];
  EXPECT_EQ(FormatWithMode(Wide, 8, FMT_OUT_WIDE, "\xE9%a", "\xFF"), 2u);
  EXPECT_EQ(Wide[0], 0x00E9);
  EXPECT_EQ(Wide[1], 0x00FF);
  EXPECT_EQ(Wide[2], 0);
}

TEST(FormatTest, ModeKeepsOnlyItsTwoBits) {
  CHAR8 Buffer[8];
  EXPECT_EQ(FormatWithMode(Buffer, sizeof(Buffer), FMT_SIGN_PLUS | FMT_HAS_WIDTH | FMT_ALIGN_LEFT, "%d", 5), 1u);
  EXPECT_STREQ(Buffer, "5");
}

TEST(FormatTest, FillOutputStoresRunsUpToTheEnd) {
  UINT8 Bytes[8] = {};
  EXPECT_EQ(FillOutput(Bytes, Bytes + 4, 0, 'a', 1), Bytes);
  EXPECT_EQ(FillOutput(Bytes, Bytes + 4, -3, 'a', 1), Bytes);
  EXPECT_EQ(Bytes[0], 0);
  EXPECT_EQ(FillOutput(Bytes, Bytes + 4, 10, 0x1234, 1), Bytes + 4);
  EXPECT_EQ(std::vector<UINT8>(Bytes, Bytes + 5), (std::vector<UINT8>{0x34, 0x34, 0x34, 0x34, 0}));
  UINT8 Wide[8] = {};
  EXPECT_EQ(FillOutput(Wide, Wide + 4, 3, 0x1234, 2), Wide + 4);
  EXPECT_EQ(std::vector<UINT8>(Wide, Wide + 6), (std::vector<UINT8>{0x34, 0x12, 0x34, 0x12, 0, 0}));
}

TEST(FormatTest, ValueToDigitsStoresLeastSignificantFirst) {
  CHAR8 Scratch[FORMAT_SCRATCH_SIZE];
  std::memset(Scratch, 'z', sizeof(Scratch));
  CHAR8 *Top = ValueToDigits(Scratch, 0, 10);
  EXPECT_EQ(Top, Scratch + 1);
  EXPECT_EQ(Scratch[0], 0);
  EXPECT_EQ(Scratch[1], '0');
  Top = ValueToDigits(Scratch, 0xBEEF, 16);
  EXPECT_EQ(std::string(Scratch + 1, Top + 1), "FEEB");
  Top = ValueToDigits(Scratch, ~0ULL, 10);
  EXPECT_EQ(Top - Scratch, 20);
  EXPECT_EQ(std::string(Scratch + 1, Top + 1), "51615590737044764481");
  EXPECT_EQ(Scratch[21], 'z');
}

TEST(FormatTest, DecimalDigitsMatchTheStandardLibraryAcrossDigitCounts) {
  CHAR8 Scratch[FORMAT_SCRATCH_SIZE];
  std::vector<UINT64> Values = {0, 1, 9, 10, 11, 99, 100, 101, 999, 1000, 1001, 64512, 99999, 100000};
  for (UINT64 Power = 10; Power < 10000000000000000000ULL; Power *= 10) {
    Values.insert(Values.end(), {Power - 1, Power, Power + 1});
  }
  Values.push_back(~0ULL);
  for (UINT64 Value : Values) {
    CHAR8 *Top = ValueToDigits(Scratch, Value, 10);
    std::string Digits(Scratch + 1, Top + 1);
    EXPECT_EQ(std::string(Digits.rbegin(), Digits.rend()), std::to_string(Value));
    Top = ValueToDigits(Scratch, Value, 16);
    Digits.assign(Scratch + 1, Top + 1);
    char Hex[20];
    std::snprintf(Hex, sizeof(Hex), "%llX", Value);
    EXPECT_EQ(std::string(Digits.rbegin(), Digits.rend()), Hex);
  }
}

} // namespace

TEST(StatusNamesTest, EachValueOfTheTableHasItsUefiNameAndOthersNone) {
  EXPECT_STREQ(EfiStatusName(EFI_SUCCESS), "EFI_SUCCESS");
  EXPECT_STREQ(EfiStatusName(EFI_WARN_BUFFER_TOO_SMALL), "EFI_WARN_BUFFER_TOO_SMALL");
  EXPECT_STREQ(EfiStatusName(EFI_PROTOCOL_ERROR), "EFI_PROTOCOL_ERROR");
  // Named, though the formatter prints it as a number.
  EXPECT_STREQ(EfiStatusName(EFI_SECURITY_VIOLATION), "EFI_SECURITY_VIOLATION");
  EXPECT_EQ(EfiStatusName(ENCODE_ERROR(25)), nullptr);
  EXPECT_EQ(EfiStatusName(ENCODE_WARNING(5)), nullptr);
}
