/*
 * The formatting engine: one pass over the format, element by element (a
 * plain character, a line end or a '%' directive), each element printed
 * through FillOutput into the caller's buffer. No allocation, no state: a
 * call uses its arguments and its own stack only.
 */
#include "FormatInternal.h"
#include "Library/TextLib.h"

namespace {

constexpr UINTN ModeBits = FMT_OUT_WIDE | FMT_IN_WIDE;

const CHAR8 NullStringText[] = "<null string>";
const CHAR8 NullGuidText[] = "<null guid>";
const CHAR8 NullTimeText[] = "<null time>";
const CHAR8 LineEndPairText[] = "\r\n";
const CHAR8 LineEndAloneText[] = "\r";
const CHAR8 GuidFormat[] = "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x";
const CHAR8 TimeFormat[] = "%02d/%02d/%04d  %02d:%02d";
const CHAR8 StatusFallbackFormat[] = "%08X";

/* The caller's arguments in format order; past the last slot every argument reads as 0. */
struct ARGUMENT_CURSOR {
  const UINT64 *Slots;
  UINTN Count;
  UINTN Next;
};

/* Takes the next argument slot; 0 once the slots have run out. */
UINT64 TakeArgument(ARGUMENT_CURSOR *Arguments) {
  if (Arguments->Next >= Arguments->Count) {
    return 0;
  }
  return Arguments->Slots[Arguments->Next++];
}

/* Reads one 8-bit or 16-bit (little-endian, any alignment) character. */
UINTN ReadUnit(const UINT8 *Position, UINTN Step) {
  if (Step == 2) {
    return (UINTN)Position[0] | ((UINTN)Position[1] << 8);
  }
  return Position[0];
}

/* What one format element prints, set afresh for every element. */
struct ELEMENT {
  UINTN Flags;
  UINTN Width;
  UINTN Precision;
  CHAR8 SignCharacter;
  BOOLEAN Grouping;
  BOOLEAN NumericLayout;
  const UINT8 *Text;
  UINTN Length;
  UINTN Phase;
  CHAR16 Character[2];
};

/* The output: where the next character goes, the reserved terminator place, and the character width. */
struct OUTPUT {
  UINT8 *Position;
  const UINT8 *End;
  UINTN Step;
};

/*
 * Reads a directive's flags, width and precision after its '%'. Returns the
 * conversion character, with Format left on it; a NUL ends the directive
 * with the precision 0 and stays unread.
 */
UINTN ParseDirective(ELEMENT *Element, const UINT8 **Format, UINTN FormatStep, ARGUMENT_CURSOR *Arguments) {
  const UINT8 *Position = *Format;
  for (;;) {
    Position += FormatStep;
    UINTN Character = ReadUnit(Position, FormatStep);
    switch (Character) {
    case '.':
      Element->Flags |= FMT_HAS_PRECISION;
      continue;
    case '-':
      Element->Flags |= FMT_ALIGN_LEFT;
      continue;
    case '+':
      Element->Flags |= FMT_SIGN_PLUS;
      continue;
    case ' ':
      Element->Flags |= FMT_SIGN_SPACE;
      continue;
    case ',':
      Element->Flags |= FMT_GROUP_DIGITS;
      continue;
    case 'l':
    case 'L':
      Element->Flags |= FMT_VALUE_64;
      continue;
    case '*': {
      UINTN Value = (UINTN)TakeArgument(Arguments);
      if ((Element->Flags & FMT_HAS_PRECISION) != 0) {
        Element->Precision = Value;
      } else {
        Element->Width = Value;
        Element->Flags |= FMT_HAS_WIDTH;
      }
      continue;
    }
    case '0':
      if ((Element->Flags & FMT_HAS_PRECISION) == 0) {
        Element->Flags |= FMT_FILL_ZERO;
      }
      [[fallthrough]];
    case '1':
    case '2':
    case '3':
    case '4':
    case '5':
    case '6':
    case '7':
    case '8':
    case '9': {
      UINTN Value = 0;
      while (Character >= '0' && Character <= '9') {
        Value = Value * 10 + (Character - '0');
        Position += FormatStep;
        Character = ReadUnit(Position, FormatStep);
      }
      // Step back onto the last digit so that the loop reads the character behind the run.
      Position -= FormatStep;
      if ((Element->Flags & FMT_HAS_PRECISION) != 0) {
        Element->Precision = Value;
      } else {
        Element->Width = Value;
        Element->Flags |= FMT_HAS_WIDTH;
      }
      continue;
    }
    case 0:
      Element->Precision = 0;
      *Format = Position;
      return 0;
    default:
      *Format = Position;
      return Character;
    }
  }
}

/* Lays out a number ('d', 'x', 'X', 'p'): sign, digits in the scratch area, length, grouping phase, zero fill. */
void PrepareNumber(ELEMENT *Element, UINT64 Argument, CHAR8 *Scratch) {
  INT64 Value = (Element->Flags & FMT_VALUE_64) != 0 ? (INT64)Argument : (INT64)(INT32)(UINT32)Argument;
  if ((Element->Flags & FMT_SIGN_SPACE) != 0) {
    Element->SignCharacter = ' ';
  }
  if ((Element->Flags & FMT_SIGN_PLUS) != 0) {
    Element->SignCharacter = '+';
  }

  UINT64 Magnitude = (UINT64)Value;
  UINTN Radix = 16;
  if ((Element->Flags & FMT_RADIX_16) == 0) {
    Radix = 10;
    if ((Element->Flags & FMT_GROUP_DIGITS) != 0) {
      Element->Grouping = TRUE;
      Element->Flags &= ~FMT_FILL_ZERO;
      Element->Precision = 1;
    }
    if (Value < 0) {
      Element->SignCharacter = '-';
      Magnitude = 0 - (UINT64)Value;
    }
  } else if ((Element->Flags & FMT_VALUE_64) == 0) {
    Magnitude = (UINT32)Magnitude;
  }

  const CHAR8 *MostSignificant = ValueToDigits(Scratch, Magnitude, Radix);
  UINTN DigitCount = (UINTN)(MostSignificant - Scratch);
  if (Magnitude == 0 && Element->Precision == 0) {
    DigitCount = 0;
  }
  Element->Phase = DigitCount % 3 == 0 ? 0 : 3 - DigitCount % 3;
  Element->Length = DigitCount;
  if (Element->Grouping && DigitCount != 0) {
    Element->Length = DigitCount + (DigitCount - 1) / 3;
  }
  if (Element->SignCharacter != 0) {
    Element->Length++;
    Element->Precision++;
  }
  Element->Text = (const UINT8 *)MostSignificant;
  Element->Flags |= FMT_ARG_BACKWARD;
  Element->NumericLayout = TRUE;
  if ((Element->Flags & (FMT_FILL_ZERO | FMT_ALIGN_LEFT | FMT_HAS_WIDTH | FMT_HAS_PRECISION)) ==
      (FMT_FILL_ZERO | FMT_HAS_WIDTH)) {
    Element->Precision = Element->Width;
  }
}

/* Row Row of StatusTexts: the text after its Row-th NUL. */
static const CHAR8 *StatusTextRow(UINTN Row) {
  const CHAR8 *Text = StatusTexts;
  for (; Row != 0; Row--) {
    while (*Text++ != 0) {
    }
  }
  return Text;
}

/* The text of a status: its name from StatusTexts, else its low 32 bits in hexadecimal in the scratch area. */
const CHAR8 *StatusText(EFI_STATUS Status, CHAR8 *Scratch) {
  const EFI_STATUS Code = Status & ~(EFI_STATUS)EFI_ERROR_BIT;
  if (!EFI_ERROR(Status) && Code <= 4) {
    return StatusTextRow(Code);
  }
  if (EFI_ERROR(Status) && Code >= 1 && Code <= 24) {
    return StatusTextRow(Code + 4);
  }
  FormatWithMode(Scratch, FORMAT_SCRATCH_SIZE, 0, StatusFallbackFormat, Status);
  return Scratch;
}

/* The text of an EFI_GUID read byte-wise (it need not be aligned), in the scratch area. */
const CHAR8 *GuidText(const UINT8 *Guid, CHAR8 *Scratch) {
  FormatWithMode(Scratch, FORMAT_SCRATCH_SIZE, 0, GuidFormat, LoadUint32(Guid), LoadUint16(Guid + 4),
                 LoadUint16(Guid + 6), Guid[8], Guid[9], Guid[10], Guid[11], Guid[12], Guid[13], Guid[14], Guid[15]);
  return Scratch;
}

/* The date and time of an EFI_TIME, seconds and later fields left out, in the scratch area; read byte-wise like a GUID.
 */
const CHAR8 *TimeText(const UINT8 *Time, CHAR8 *Scratch) {
  FormatWithMode(Scratch, FORMAT_SCRATCH_SIZE, 0, TimeFormat, Time[__builtin_offsetof(EFI_TIME, Month)],
                 Time[__builtin_offsetof(EFI_TIME, Day)], LoadUint16(Time + __builtin_offsetof(EFI_TIME, Year)),
                 Time[__builtin_offsetof(EFI_TIME, Hour)], Time[__builtin_offsetof(EFI_TIME, Minute)]);
  return Scratch;
}

/* Makes Character the element's text: one CHAR16 and its terminator. */
void UseCharacter(ELEMENT *Element, UINTN Character) {
  Element->Character[0] = (CHAR16)Character;
  Element->Character[1] = 0;
  Element->Text = (const UINT8 *)Element->Character;
  Element->Flags |= FMT_ARG_WIDE;
}

/*
 * Chooses the text of a line end starting at the current format character
 * (a carriage return or a line feed), consuming the partner character of a
 * pair, and leaves Format on the last character consumed.
 */
void UseLineEnd(ELEMENT *Element, UINTN Character, const UINT8 **Format, UINTN FormatStep) {
  const UINTN Next = ReadUnit(*Format + FormatStep, FormatStep);
  if (Character == '\r' && Next != '\n') {
    Element->Text = (const UINT8 *)LineEndAloneText;
    return;
  }
  Element->Text = (const UINT8 *)LineEndPairText;
  if ((Character == '\r' && Next == '\n') || (Character == '\n' && Next == '\r')) {
    *Format += FormatStep;
  }
}

/* Applies a directive's conversion character: takes its argument and chooses its text. */
void ApplyConversion(ELEMENT *Element, UINTN Conversion, const UINT8 **Format, UINTN FormatStep,
                     ARGUMENT_CURSOR *Arguments, CHAR8 *Scratch) {
  switch (Conversion) {
  case 'X':
    Element->Flags |= FMT_FILL_ZERO;
    [[fallthrough]];
  case 'x':
    Element->Flags |= FMT_RADIX_16;
    [[fallthrough]];
  case 'd':
    PrepareNumber(Element, TakeArgument(Arguments), Scratch);
    return;
  case 'p':
    Element->Flags &= ~(FMT_SIGN_PLUS | FMT_SIGN_SPACE);
    Element->Flags |= FMT_VALUE_64 | FMT_FILL_ZERO | FMT_RADIX_16;
    PrepareNumber(Element, TakeArgument(Arguments), Scratch);
    return;
  case 'a':
  case 's':
  case 'S': {
    const UINT8 *String = (const UINT8 *)(UINTN)TakeArgument(Arguments);
    if (String == NULL) {
      Element->Text = (const UINT8 *)NullStringText;
    } else {
      Element->Text = String;
      if (Conversion != 'a') {
        Element->Flags |= FMT_ARG_WIDE;
      }
    }
    if ((Element->Flags & FMT_HAS_PRECISION) == 0) {
      Element->Precision = 0;
    }
    return;
  }
  case 'c':
    UseCharacter(Element, (UINTN)TakeArgument(Arguments) & 0xFFFF);
    return;
  case 'g': {
    const UINT8 *Guid = (const UINT8 *)(UINTN)TakeArgument(Arguments);
    Element->Text = (const UINT8 *)(Guid == NULL ? NullGuidText : GuidText(Guid, Scratch));
    return;
  }
  case 't': {
    const UINT8 *Time = (const UINT8 *)(UINTN)TakeArgument(Arguments);
    Element->Text = (const UINT8 *)(Time == NULL ? NullTimeText : TimeText(Time, Scratch));
    return;
  }
  case 'r':
    Element->Text = (const UINT8 *)StatusText((EFI_STATUS)TakeArgument(Arguments), Scratch);
    return;
  case '\r':
  case '\n':
    UseLineEnd(Element, Conversion, Format, FormatStep);
    return;
  default:
    UseCharacter(Element, Conversion);
    return;
  }
}

/*
 * Stores a NUL-terminated text unchanged up to its NUL or the end of the
 * output: what printing a text without width and precision comes to.
 * Returns the new output position.
 */
[[gnu::always_inline]] inline UINT8 *CopyText(UINT8 *Position, const UINT8 *End, const UINT8 *Text, UINTN TextStep,
                                              UINTN OutputStep) {
  // One loop per pair of character widths, counted in characters of room: the path of every plain "%s" and "%a".
  const UINTN Room = (UINTN)(End - Position) >> (OutputStep - 1);
  UINTN Index = 0;
  if (TextStep == 1) {
    for (; Index < Room && Text[Index] != 0; Index++) {
      if (OutputStep == 1) {
        Position[Index] = Text[Index];
      } else {
        Position[2 * Index] = Text[Index];
        Position[2 * Index + 1] = 0;
      }
    }
  } else {
    for (; Index < Room; Index++) {
      UINT16 Character;
      __builtin_memcpy(&Character, Text + 2 * Index, 2);
      if (Character == 0) {
        break;
      }
      if (OutputStep == 1) {
        Position[Index] = (UINT8)Character;
      } else {
        Position[2 * Index] = (UINT8)Character;
        Position[2 * Index + 1] = (UINT8)(Character >> 8);
      }
    }
  }
  return Position + Index * OutputStep;
}

/* Prints the element's text with its padding, sign, zeros and commas. Returns the new output position. */
UINT8 *PrintElement(ELEMENT *Element, const OUTPUT *Output) {
  UINT8 *Position = Output->Position;
  const UINT8 *End = Output->End;
  const UINTN OutputStep = Output->Step;
  const UINTN TextStep = (Element->Flags & FMT_ARG_WIDE) != 0 ? 2 : 1;
  const UINT8 *Text = Element->Text;

  // A string with neither width nor precision prints as it stands (its precision of 0 becomes its length).
  if ((Element->Flags & (FMT_HAS_WIDTH | FMT_HAS_PRECISION)) == 0 && !Element->NumericLayout &&
      Element->Precision == 0) {
    return CopyText(Position, End, Text, TextStep, OutputStep);
  }
  if (!Element->NumericLayout) {
    const BOOLEAN Bounded = (Element->Flags & FMT_HAS_PRECISION) != 0;
    UINTN Length = 0;
    for (const UINT8 *Scan = Text; !(Bounded && Length >= Element->Precision); Scan += TextStep) {
      if (ReadUnit(Scan, TextStep) == 0) {
        break;
      }
      Length++;
    }
    Element->Length = Length;
  }
  const UINTN Length = Element->Length;
  if (Element->Precision < Length) {
    Element->Precision = Length;
  }
  const UINTN Precision = Element->Precision;
  const BOOLEAN HasWidth = (Element->Flags & FMT_HAS_WIDTH) != 0;
  const BOOLEAN AlignLeft = (Element->Flags & FMT_ALIGN_LEFT) != 0;

  if (HasWidth && !AlignLeft) {
    Position = FillOutput(Position, End, (INTN)(Element->Width - Precision), ' ', OutputStep);
  }
  if (Element->NumericLayout) {
    if (Element->SignCharacter != 0) {
      Position = FillOutput(Position, End, 1, (UINT8)Element->SignCharacter, OutputStep);
    }
    Position = FillOutput(Position, End, (INTN)(Precision - Length), '0', OutputStep);
  } else {
    Position = FillOutput(Position, End, (INTN)(Precision - Length), ' ', OutputStep);
  }

  const INTN TextAdvance = (Element->Flags & FMT_ARG_BACKWARD) != 0 ? -(INTN)TextStep : (INTN)TextStep;
  UINTN Phase = Element->Phase;
  // The sign, when there is one, took the first place of the length.
  for (UINTN Index = Element->SignCharacter != 0 ? 1 : 0; Index < Length && Position < End;) {
    Position = FillOutput(Position, End, 1, ReadUnit(Text, TextStep), OutputStep);
    Text += TextAdvance;
    Index++;
    if (Element->Grouping && ++Phase == 3) {
      Phase = 0;
      Index++;
      if (Index < Length) {
        Position = FillOutput(Position, End, 1, ',', OutputStep);
      }
    }
  }

  if (HasWidth && AlignLeft) {
    Position = FillOutput(Position, End, (INTN)(Element->Width - Precision), ' ', OutputStep);
  }
  return Position;
}

/*
 * Prints a directive that is a bare conversion character 'd', 'a', 's' or
 * 'S' with no flag, width or precision: the forms the driver uses. They come
 * to the number's sign and digits, or the string (or its placeholder) as it
 * stands, which is what the full layout gives for them, without its cost.
 * Returns the new output position.
 */
UINT8 *PrintBareConversion(UINTN Conversion, const OUTPUT *Output, ARGUMENT_CURSOR *Arguments, CHAR8 *Scratch) {
  const UINT64 Argument = TakeArgument(Arguments);
  UINT8 *Position = Output->Position;
  if (Conversion != 'd') {
    if (Argument == 0) {
      return CopyText(Position, Output->End, (const UINT8 *)NullStringText, 1, Output->Step);
    }
    return CopyText(Position, Output->End, (const UINT8 *)(UINTN)Argument, Conversion == 'a' ? 1 : 2, Output->Step);
  }
  const INT64 Value = (INT32)(UINT32)Argument;
  UINT64 Magnitude = (UINT64)Value;
  if (Value < 0) {
    Position = FillOutput(Position, Output->End, 1, '-', Output->Step);
    Magnitude = 0 - Magnitude;
  }
  const CHAR8 *MostSignificant = ValueToDigits(Scratch, Magnitude, 10);
  UINTN Count = (UINTN)(MostSignificant - Scratch);
  const UINTN Room = (UINTN)(Output->End - Position) >> (Output->Step - 1);
  if (Count > Room) {
    Count = Room;
  }
  for (UINTN Index = 0; Index < Count; Index++) {
    Position[0] = (UINT8)MostSignificant[-(INTN)Index];
    if (Output->Step == 2) {
      Position[1] = 0;
    }
    Position += Output->Step;
  }
  return Position;
}

/*
 * Prints one directive or line end with the full layout, starting at the
 * format character Format (a '%', a carriage return or a line feed).
 * Returns the position of the next format element. Kept out of line so that
 * the engine's main loop stays small.
 */
[[gnu::noinline]] const UINT8 *PrintFullElement(UINTN Character, const UINT8 *Format, UINTN Mode, UINTN FormatStep,
                                                OUTPUT *Output, ARGUMENT_CURSOR *Arguments, CHAR8 *Scratch) {
  ELEMENT Element;
  Element.Flags = Mode;
  Element.Width = 0;
  Element.Precision = 1;
  Element.SignCharacter = 0;
  Element.Grouping = FALSE;
  Element.NumericLayout = FALSE;
  Element.Phase = 0;

  if (Character == '%') {
    const UINTN Conversion = ParseDirective(&Element, &Format, FormatStep, Arguments);
    ApplyConversion(&Element, Conversion, &Format, FormatStep, Arguments, Scratch);
  } else {
    UseLineEnd(&Element, Character, &Format, FormatStep);
  }
  Output->Position = PrintElement(&Element, Output);

  // A directive cut short by the end of the format leaves Format on its NUL.
  if (ReadUnit(Format, FormatStep) != 0) {
    Format += FormatStep;
  }
  return Format;
}

} // namespace

UINTN FormatEngine(VOID *Buffer, UINTN Size, UINTN Mode, const VOID *Format, const FORMAT_ARGUMENTS *Arguments) {
  if (Size == 0 || Buffer == NULL) {
    return 0;
  }
  Mode &= ModeBits;
  const UINTN FormatStep = (Mode & FMT_IN_WIDE) != 0 ? 2 : 1;
  OUTPUT Output;
  Output.Step = (Mode & FMT_OUT_WIDE) != 0 ? 2 : 1;
  Output.Position = (UINT8 *)Buffer;
  Output.End = Output.Position + (Size - 1) * Output.Step;

  ARGUMENT_CURSOR Cursor = {NULL, 0, 0};
  if (Arguments != NULL && Arguments->Slots != NULL) {
    Cursor.Slots = Arguments->Slots;
    Cursor.Count = Arguments->Count;
  }
  CHAR8 Scratch[FORMAT_SCRATCH_SIZE];

  // A NULL format prints as an empty one.
  const UINT8 *Position = (const UINT8 *)Format;
  UINTN Character = Position != NULL ? ReadUnit(Position, FormatStep) : 0;
  while (Character != 0 && Output.Position < Output.End) {
    // A plain character is a one-character text without width or precision: it prints as itself, and so does
    // the run of plain characters behind it.
    if (Character != '%' && Character != '\r' && Character != '\n') {
      do {
        Output.Position = FillOutput(Output.Position, Output.End, 1, Character, Output.Step);
        Position += FormatStep;
        Character = ReadUnit(Position, FormatStep);
      } while (Character > '%' && Output.Position < Output.End);
      continue;
    }
    if (Character == '%') {
      const UINTN Conversion = ReadUnit(Position + FormatStep, FormatStep);
      if (Conversion == 'd' || Conversion == 's' || Conversion == 'a' || Conversion == 'S') {
        Output.Position = PrintBareConversion(Conversion, &Output, &Cursor, Scratch);
        Position += 2 * FormatStep;
        Character = ReadUnit(Position, FormatStep);
        continue;
      }
    }
    Position = PrintFullElement(Character, Position, Mode, FormatStep, &Output, &Cursor, Scratch);
    Character = ReadUnit(Position, FormatStep);
  }

  FillOutput(Output.Position, Output.Position + Output.Step, 1, 0, Output.Step);
  return (UINTN)(Output.Position - (UINT8 *)Buffer) >> (Output.Step - 1);
}
