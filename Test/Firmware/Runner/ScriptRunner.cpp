/*
 * The scenario script: one command per line, words separated by blanks,
 * lines starting with '#' ignored. "scenario NAME" starts a block of the
 * transcript ("== NAME"); "echo TEXT" copies TEXT; every other command is
 * dispatched through the table below.
 */
#include "ScriptCommands.h"

namespace Runner {
namespace {
struct COMMAND_ENTRY {
  const CHAR8 *Name;
  SCRIPT_COMMAND Run;
};

const COMMAND_ENTRY Commands[] = {
    {"fetch", CommandFetch},
    {"count", CommandCount},
    {"get", CommandGet},
    {"entries", CommandEntries},
    {"file", CommandFile},
    {"file-compare", CommandFileCompare},
    {"files", CommandFiles},
    {"release", CommandRelease},
    {"load-driver", CommandLoadDriver},
    {"handles", CommandHandles},
    {"publish-pxe", CommandPublishPxe},
    {"serial-check", CommandSerialCheck},
    {"raw-sequence", CommandRawSequence},
    {"secure-boot", CommandSecureBoot},
    {"image-info", CommandImageInfo},
    {"load-option-write", CommandLoadOptionWrite},
    {"load-option-show", CommandLoadOptionShow},
    {"load-option-remove", CommandLoadOptionRemove},
    {"reset", CommandReset},
    {"run-app", CommandRunApplication},
};

constexpr UINTN MaxArguments = 8;

bool IsBlank(CHAR8 Character) { return Character == ' ' || Character == '\t' || Character == '\r'; }

/* Splits one line in place into words; returns the number of words. */
UINTN SplitWords(CHAR8 *Text, CHAR8 **Words) {
  UINTN Count = 0;
  while (*Text != 0) {
    while (IsBlank(*Text)) {
      *Text++ = 0;
    }
    if (*Text == 0) {
      break;
    }
    if (Count == MaxArguments) {
      return Count + 1;
    }
    Words[Count++] = Text;
    while (*Text != 0 && !IsBlank(*Text)) {
      Text++;
    }
  }
  return Count;
}

/* Runs one line of the script. */
VOID RunLine(CHAR8 *Text) {
  while (IsBlank(*Text)) {
    Text++;
  }
  if (*Text == 0 || *Text == '#') {
    return;
  }
  TRANSCRIPT_LINE Line;
  if (Text[0] == 'e' && Text[1] == 'c' && Text[2] == 'h' && Text[3] == 'o' && (Text[4] == ' ' || Text[4] == 0)) {
    LineStart(Line, Text[4] == 0 ? "" : Text + 5);
    Emit(Line);
    return;
  }
  CHAR8 *Words[MaxArguments];
  UINTN Count = SplitWords(Text, Words);
  if (Count > MaxArguments) {
    LineStart(Line, Words[0]);
    EmitUsageError(Line, "too many words");
    return;
  }
  if (TextEquals(Words[0], "scenario") && Count == 2) {
    LineStart(Line, "== ");
    Append(Line, Words[1]);
    Emit(Line);
    return;
  }
  LineStart(Line, Words[0]);
  for (UINTN Index = 1; Index < Count; Index++) {
    Append(Line, " ");
    Append(Line, Words[Index]);
  }
  Append(Line, ": ");
  for (const COMMAND_ENTRY &Command : Commands) {
    if (TextEquals(Words[0], Command.Name)) {
      Command.Run(Line, Words, Count);
      return;
    }
  }
  Append(Line, "unknown command");
  Emit(Line);
}
} // namespace

bool TextEquals(const CHAR8 *First, const CHAR8 *Second) {
  while (*First != 0 && *First == *Second) {
    First++;
    Second++;
  }
  return *First == *Second;
}

bool ParseSigned(const CHAR8 *Text, INT64 *Value) {
  bool Negative = false;
  if (*Text == '-') {
    Negative = true;
    Text++;
  }
  UINT64 Radix = 10;
  if (Text[0] == '0' && Text[1] == 'x') {
    Radix = 16;
    Text += 2;
  }
  if (*Text == 0) {
    return false;
  }
  UINT64 Result = 0;
  for (; *Text != 0; Text++) {
    UINT64 Digit;
    if (*Text >= '0' && *Text <= '9') {
      Digit = (UINT64)(*Text - '0');
    } else if (Radix == 16 && *Text >= 'A' && *Text <= 'F') {
      Digit = (UINT64)(*Text - 'A' + 10);
    } else if (Radix == 16 && *Text >= 'a' && *Text <= 'f') {
      Digit = (UINT64)(*Text - 'a' + 10);
    } else {
      return false;
    }
    Result = Result * Radix + Digit;
  }
  *Value = Negative ? (INT64)(0 - Result) : (INT64)Result;
  return true;
}

bool ParseAddress(const CHAR8 *Text, EFI_IP_ADDRESS *Address) {
  FillBytes(Address, sizeof(*Address), 0);
  for (UINTN Part = 0; Part < 4; Part++) {
    UINTN Value = 0;
    UINTN Digits = 0;
    while (*Text >= '0' && *Text <= '9' && Digits < 3) {
      Value = Value * 10 + (UINTN)(*Text++ - '0');
      Digits++;
    }
    if (Digits == 0 || Value > 255) {
      return false;
    }
    Address->v4.Addr[Part] = (UINT8)Value;
    if (Part < 3 && *Text++ != '.') {
      return false;
    }
  }
  return *Text == 0;
}

VOID EmitUsageError(TRANSCRIPT_LINE &Line, const CHAR8 *Usage) {
  Append(Line, "usage error (");
  Append(Line, Usage);
  Append(Line, ")");
  Emit(Line);
}

VOID RunScript(CHAR8 *Text, UINTN Size) {
  UINTN Start = 0;
  for (UINTN Index = 0; Index <= Size; Index++) {
    if (Index == Size || Text[Index] == '\n') {
      Text[Index] = 0;
      RunLine(Text + Start);
      Start = Index + 1;
    }
  }
}

} // namespace Runner
