/*
 * Transcript lines: built as 8-bit text, written byte by byte to the debug
 * console port 0xE9 (the harness's clean copy) and as CHAR16 to ConOut.
 */
#include "Library/StatusNames.h"
#include "Runner.h"

namespace Runner {
namespace {
constexpr UINT16 DebugConsolePort = 0xE9;
constexpr UINTN LineCapacity = sizeof(TRANSCRIPT_LINE::Text) - 1;

VOID AppendCharacter(TRANSCRIPT_LINE &Line, CHAR8 Character) {
  if (Line.Length < LineCapacity) {
    Line.Text[Line.Length++] = Character;
    Line.Text[Line.Length] = 0;
  }
}

const CHAR8 HexDigits[] = "0123456789ABCDEF";
} // namespace

VOID LineStart(TRANSCRIPT_LINE &Line, const CHAR8 *Text) {
  Line.Length = 0;
  Line.Text[0] = 0;
  Append(Line, Text);
}

VOID Append(TRANSCRIPT_LINE &Line, const CHAR8 *Text) {
  while (*Text != 0) {
    AppendCharacter(Line, *Text++);
  }
}

VOID AppendUnsigned(TRANSCRIPT_LINE &Line, UINT64 Value) {
  CHAR8 Digits[24];
  UINTN Count = 0;
  do {
    Digits[Count++] = (CHAR8)('0' + Value % 10);
    Value /= 10;
  } while (Value != 0);
  while (Count != 0) {
    AppendCharacter(Line, Digits[--Count]);
  }
}

VOID AppendSigned(TRANSCRIPT_LINE &Line, INT64 Value) {
  if (Value < 0) {
    AppendCharacter(Line, '-');
    AppendUnsigned(Line, 0 - (UINT64)Value);
  } else {
    AppendUnsigned(Line, (UINT64)Value);
  }
}

VOID AppendHex(TRANSCRIPT_LINE &Line, UINT64 Value, UINTN MinimumDigits) {
  CHAR8 Digits[16];
  UINTN Count = 0;
  do {
    Digits[Count++] = HexDigits[Value & 0xF];
    Value >>= 4;
  } while (Value != 0);
  Append(Line, "0x");
  for (UINTN Pad = Count; Pad < MinimumDigits && Pad < 16; Pad++) {
    AppendCharacter(Line, '0');
  }
  while (Count != 0) {
    AppendCharacter(Line, Digits[--Count]);
  }
}

VOID AppendStatus(TRANSCRIPT_LINE &Line, EFI_STATUS Status) {
  const CHAR8 *Name = EfiStatusName(Status);
  Append(Line, Name != NULL ? Name : "EFI_STATUS");
  Append(Line, " ");
  AppendHex(Line, Status, 1);
}

VOID AppendWide(TRANSCRIPT_LINE &Line, const CHAR16 *Text, UINTN MaxUnits) {
  for (UINTN Index = 0; Index < MaxUnits && Text[Index] != 0; Index++) {
    CHAR16 Unit = Text[Index];
    if (Unit >= 0x20 && Unit < 0x7F && Unit != '\\') {
      AppendCharacter(Line, (CHAR8)Unit);
    } else if (Unit == '\\') {
      Append(Line, "\\\\");
    } else {
      Append(Line, "\\u");
      for (int Shift = 12; Shift >= 0; Shift -= 4) {
        AppendCharacter(Line, HexDigits[(Unit >> Shift) & 0xF]);
      }
    }
  }
}

VOID AppendElapsed(TRANSCRIPT_LINE &Line, UINT64 Microseconds) {
  Append(Line, " [");
  AppendUnsigned(Line, Microseconds / 1000);
  Append(Line, " ms]");
}

VOID Emit(const TRANSCRIPT_LINE &Line) {
  for (UINTN Index = 0; Index < Line.Length; Index++) {
    WritePort(DebugConsolePort, (UINT8)Line.Text[Index]);
  }
  WritePort(DebugConsolePort, '\n');

  CHAR16 Wide[LineCapacity + 3];
  UINTN Count = 0;
  for (UINTN Index = 0; Index < Line.Length; Index++) {
    Wide[Count++] = (CHAR16)(UINT8)Line.Text[Index];
  }
  Wide[Count++] = '\r';
  Wide[Count++] = '\n';
  Wide[Count] = 0;
  System->ConOut->OutputString(System->ConOut, Wide);
}

VOID EmitText(const CHAR8 *Text) {
  TRANSCRIPT_LINE Line;
  LineStart(Line, Text);
  Emit(Line);
}

} // namespace Runner
