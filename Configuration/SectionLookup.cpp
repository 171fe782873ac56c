/* Finding a section by its header and copying it out. */
#include "SectionLookup.h"

#include "CharacterClasses.h"
#include "Library/PoolLib.h"
#include "Library/TextLib.h"
#include "Tokenizer.h"

BOOLEAN IsSectionHeader(const CHAR16 *Token) { return Token[0] == CharacterOpenBracket; }

VOID UpperCaseAsciiLetters(CHAR16 *String) {
  for (CHAR16 *Position = String; *Position != 0; Position++) {
    if (*Position >= u'a' && *Position <= u'z') {
      *Position = static_cast<CHAR16>(*Position & ~0x20);
    }
  }
}

/*
 * Reads token lines from Reader up to, not including, the next header line,
 * or to the end of the text. The offset of Reader's cursor as it stood
 * before that header line (or before the blank and comment lines that end
 * the text) goes to *End. EFI_SUCCESS, or EFI_OUT_OF_RESOURCES when a line
 * could not be read.
 */
static EFI_STATUS SkipToNextHeader(TextReader *Reader, UINTN *End) {
  for (;;) {
    *End = TextReaderOffset(Reader);
    CHAR16 **Tokens;
    UINTN Count;
    EFI_STATUS Status = ReadTokenLine(Reader, &Tokens, &Count);
    if (Status == EFI_NOT_FOUND) {
      return EFI_SUCCESS;
    }
    if (EFI_ERROR(Status)) {
      return Status;
    }
    BOOLEAN Header = IsSectionHeader(Tokens[0]);
    FreeTokenList(&Tokens, &Count);
    if (Header) {
      return EFI_SUCCESS;
    }
  }
}

EFI_STATUS ExtractSection(TextReader *Reader, TextReader *Section) {
  UINTN Start = TextReaderOffset(Reader);
  UINTN End;
  EFI_STATUS Status = SkipToNextHeader(Reader, &End);
  if (EFI_ERROR(Status) || Section == NULL) {
    return Status;
  }

  // Cursors move only forward, so End is never below Start.
  UINTN Size = End - Start;
  BOOLEAN Wide = Reader->Encoding == TextEncodingUtf16;
  UINTN TerminatorSize = TextUnitSize(Reader->Encoding);
  UINT8 *Copy = static_cast<UINT8 *>(PoolAlloc(Size + TerminatorSize));
  if (Copy == NULL) {
    return EFI_OUT_OF_RESOURCES;
  }
  MoveBytes(Copy, Reader->Buffer + Start, Size);
  ClearBytes(Copy + Size, TerminatorSize);

  // The previous contents of Section are overwritten, not released: its holder owns them.
  AttachTextReader(Section, Copy, Size, Wide ? TextEncodingUtf16 : TextEncodingBytes);
  return EFI_SUCCESS;
}

EFI_STATUS FindSection(const VOID *Text, UINTN TextSize, const CHAR16 *Header, TextReader *Section) {
  TextReader Whole;
  EFI_STATUS Status = OpenTextReader(Text, TextSize, &Whole);
  if (EFI_ERROR(Status)) {
    return Status;
  }

  // Only the first section under the header counts.
  for (;;) {
    CHAR16 **Tokens;
    UINTN Count;
    Status = ReadTokenLine(&Whole, &Tokens, &Count);
    if (EFI_ERROR(Status)) {
      break;
    }
    BOOLEAN Found = CompareWideStrings(Tokens[0], Header) == 0;
    if (Found) {
      Status = ExtractSection(&Whole, Section);
    }
    FreeTokenList(&Tokens, &Count);
    if (Found) {
      break;
    }
  }

  PoolRelease(Whole.Buffer);
  return Status;
}
