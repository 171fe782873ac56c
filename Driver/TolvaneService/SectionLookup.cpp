/* Finding the machine's section in the configuration file and copying it out. */
#include "SectionLookup.h"

#include "Library/PoolLib.h"
#include "Library/TextLib.h"
#include "Tokenizer.h"
#include "TolvaneService.h"

CHAR16 SectionTemplate[11] = u"[8a123456]";

static constexpr UINTN MachineIdLength = 8;

VOID UpperCaseAsciiLetters(CHAR16 *String) {
  for (CHAR16 *Position = String; *Position != 0; Position++) {
    if (*Position >= u'a' && *Position <= u'z') {
      *Position = static_cast<CHAR16>(*Position & ~0x20);
    }
  }
}

/*
 * Reads token lines from Reader up to, not including, the next line whose
 * first token begins with an opening bracket, or to the end of the text.
 * Reader's cursor as it stood before that header line (or before the
 * blank and comment lines that end the text) goes to *End. EFI_SUCCESS, or
 * EFI_OUT_OF_RESOURCES when a line could not be read.
 */
static EFI_STATUS SkipToNextHeader(TextReader *Reader, VOID **End) {
  BOOLEAN Wide = Reader->Encoding == TextEncodingUtf16;
  for (;;) {
    *End = Wide ? static_cast<VOID *>(Reader->WideCursor) : static_cast<VOID *>(Reader->ByteCursor);
    CHAR16 **Tokens;
    UINTN Count;
    EFI_STATUS Status = ReadTokenLineStatus(Reader, &Tokens, &Count);
    if (Status == EFI_NOT_FOUND) {
      return EFI_SUCCESS;
    }
    if (EFI_ERROR(Status)) {
      return Status;
    }
    BOOLEAN Header = CompareWideStringsCounted(Tokens[0], u"[", 1) == 0;
    FreeTokenList(&Tokens, &Count);
    if (Header) {
      return EFI_SUCCESS;
    }
  }
}

EFI_STATUS ExtractSection(TextReader *Reader, TextReader *Section) {
  BOOLEAN Wide = Reader->Encoding == TextEncodingUtf16;
  UINT8 *Start = Wide ? reinterpret_cast<UINT8 *>(Reader->WideCursor) : Reader->ByteCursor;
  VOID *End;
  EFI_STATUS Status = SkipToNextHeader(Reader, &End);
  if (EFI_ERROR(Status) || Section == NULL) {
    return Status;
  }

  // Both cursors move only forward, so End is never below Start.
  UINTN Size = static_cast<UINTN>(static_cast<UINT8 *>(End) - Start);
  UINTN TerminatorSize = Wide ? sizeof(CHAR16) : 1;
  UINT8 *Copy = static_cast<UINT8 *>(PoolAlloc(Size + TerminatorSize));
  if (Copy == NULL) {
    return EFI_OUT_OF_RESOURCES;
  }
  MoveBytes(Copy, Start, Size);
  ClearBytes(Copy + Size, TerminatorSize);

  // The previous contents of Section are overwritten, not released: its holder owns them.
  Section->Buffer = Copy;
  Section->Size = Size;
  Section->Encoding = Wide ? TextEncodingUtf16 : TextEncodingBytes;
  Section->ByteCursor = Copy;
  Section->ByteEnd = Copy + Size;
  Section->WideCursor = reinterpret_cast<CHAR16 *>(Copy);
  Section->WideEnd = reinterpret_cast<CHAR16 *>(Copy + (Size & ~static_cast<UINTN>(1)));
  return EFI_SUCCESS;
}

EFI_STATUS FindMachineSection(const VOID *Text, UINTN TextSize, TextReader *Section) {
  CopyWideStringCounted(&SectionTemplate[1], ServiceState.MachineId, MachineIdLength);
  UpperCaseAsciiLetters(SectionTemplate);

  TextReader Whole;
  EFI_STATUS Status = OpenTextReader(Text, TextSize, &Whole);
  if (EFI_ERROR(Status)) {
    return Status;
  }

  // Only the first section under the machine's header counts.
  for (;;) {
    CHAR16 **Tokens;
    UINTN Count;
    Status = ReadTokenLineStatus(&Whole, &Tokens, &Count);
    if (EFI_ERROR(Status)) {
      break;
    }
    BOOLEAN Found = CompareWideStrings(Tokens[0], SectionTemplate) == 0;
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
