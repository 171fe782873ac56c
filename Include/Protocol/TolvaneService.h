/*
 * TOLVANE_SERVICE_PROTOCOL: the interface the driver publishes, and the one
 * statement of what its callers may rely on. Callers locate it by
 * TOLVANE_SERVICE_PROTOCOL_GUID and call its five slots in order: fetch the
 * configuration, read entries and numbered files, release. Every slot uses
 * the UEFI calling convention and ignores This. The slots share one state
 * and are not reentrant: callers do not overlap their calls.
 *
 * This header compiles as C99, C11 and later, and as C++11 and later, with
 * GCC, clang and Microsoft-ABI compilers, for x86-64. It names the UEFI base
 * types EFI_STATUS, EFIAPI, UINTN, CHAR8, CHAR16, BOOLEAN, VOID, EFI_GUID
 * and EFI_IP_ADDRESS. A caller built on a firmware kit includes the kit's
 * headers first: they define EFI_SUCCESS, and this header then uses the
 * kit's types, which have the same layout. Otherwise it brings its own,
 * Uefi/UefiBaseType.h.
 */
#ifndef TOLVANE_PROTOCOL_TOLVANE_SERVICE_H
#define TOLVANE_PROTOCOL_TOLVANE_SERVICE_H

#ifndef EFI_SUCCESS
#include "Uefi/UefiBaseType.h"
#endif

#define TOLVANE_SERVICE_PROTOCOL_GUID                                                                                  \
  {                                                                                                                    \
    0x12345678, 0xFC25, 0x4C1C, { 0xB9, 0x7C, 0xB3, 0x11, 0x86, 0x06, 0x49, 0x90 }                                     \
  }

/* The bytes of an identifier; a NUL among them ends it early. */
#define TOLVANE_IDENTIFIER_LENGTH 8
/* Characters of an entry index as looked up: "%d" of its low 32 bits, cut to the first four. */
#define TOLVANE_ENTRY_INDEX_LENGTH 4
/* Characters of a numbered file's name as requested: longer names are cut to their first fifteen. */
#define TOLVANE_FILE_NAME_LENGTH 15
/* The highest entry count: a section holding every entry 0 to 9999 counts 10000. */
#define TOLVANE_ENTRY_COUNT_LIMIT 10000
/* What every fetch asks the TFTP server for: this file, and blocks of this many bytes (TFTP option blksize). */
#define TOLVANE_CONFIGURATION_FILE_NAME "rivari.ini"
#define TOLVANE_TFTP_BLOCK_SIZE 64512

/* The steps of FetchConfiguration: a failed step k is reported as the error status with code k. */
#define TOLVANE_FETCH_STEP_MEDIA 1
#define TOLVANE_FETCH_STEP_PXE_DHCP 2
#define TOLVANE_FETCH_STEP_STATION_ADDRESS 3
#define TOLVANE_FETCH_STEP_SIZE_QUERY 4
#define TOLVANE_FETCH_STEP_SECTION 5
/*
 * The status FetchConfiguration returns when step Step failed: the error status
 * with code Step (TOLVANE_FETCH_STEP_STATUS(TOLVANE_FETCH_STEP_SECTION) is
 * 0x8000000000000005). A constant expression, written out so that it needs no
 * firmware kit's error-encoding macro.
 */
#define TOLVANE_FETCH_STEP_STATUS(Step) ((EFI_STATUS)(0x8000000000000000ULL | (Step)))

typedef struct _TOLVANE_SERVICE_PROTOCOL TOLVANE_SERVICE_PROTOCOL;

/*
 * Slot 1. Records Server (16 bytes) and the 8 bytes at Identifier, widened
 * with their sign (0xE9 becomes 0xFFE9) up to the first NUL among them;
 * both are recorded first, so they hold even when the fetch fails later.
 * Then checks the link, starts PXE and runs DHCP (one retry), downloads
 * "rivari.ini" from Server by TFTP, and keeps the section whose header is
 * the identifier, letters a to z upper-cased, in brackets ("[AB12CD34]").
 *
 * Returns EFI_SUCCESS: the section is held, the one held before released.
 * On failure the section held before stays held, and the status is the
 * error status with the code of the step that failed:
 *   TOLVANE_FETCH_STEP_MEDIA (0x8000000000000001): the link check through
 *     the Simple Network interface failed or found no link (no PXE call is
 *     made);
 *   TOLVANE_FETCH_STEP_PXE_DHCP: PXE start or DHCP failed twice in a row;
 *   TOLVANE_FETCH_STEP_STATION_ADDRESS: no station address;
 *   TOLVANE_FETCH_STEP_SIZE_QUERY: the size query of "rivari.ini" failed;
 *   TOLVANE_FETCH_STEP_SECTION: the file has no section for the identifier
 *     (or it could not be copied for want of pool);
 * or else:
 *   EFI_OUT_OF_RESOURCES: no pool for the download;
 *   the status of the TFTP read, unchanged, when the read failed;
 *   EFI_INVALID_PARAMETER, with nothing recorded, when Server or Identifier
 *     is NULL.
 * The step codes 1 to 5 are the values of EFI_LOAD_ERROR, EFI_INVALID_PARAMETER,
 * EFI_UNSUPPORTED, EFI_BAD_BUFFER_SIZE and EFI_BUFFER_TOO_SMALL: a NULL
 * argument reads as step 2, and a read that fails with EFI_BUFFER_TOO_SMALL
 * as step 5.
 * The PXE Base Code interface stays started after step 2.
 */
typedef EFI_STATUS(EFIAPI *TOLVANE_FETCH_CONFIGURATION)(TOLVANE_SERVICE_PROTOCOL *This, EFI_IP_ADDRESS *Server,
                                                        CHAR8 *Identifier);

/*
 * Slot 2. Downloads file "<identifier>.<FileNumber>" from the server that
 * the last FetchConfiguration recorded (successful or not), into
 * FileBuffer. The number is the low 32 bits of FileNumber as a signed
 * decimal; a name longer than TOLVANE_FILE_NAME_LENGTH characters is cut.
 * *FileBufferSize is in: FileBuffer's capacity in bytes; out: as below.
 * It does not start PXE: before a fetch has, the transfer's own error
 * comes back.
 *
 * Returns EFI_SUCCESS with the bytes received in *FileBufferSize;
 * EFI_OUT_OF_RESOURCES with the file's size in *FileBufferSize when
 * FileBuffer is NULL or too small (nothing is read); the status of a failed
 * transfer, unchanged, with *FileBufferSize untouched;
 * EFI_INVALID_PARAMETER when FileBufferSize is NULL.
 */
typedef EFI_STATUS(EFIAPI *TOLVANE_FETCH_NUMBERED_FILE)(TOLVANE_SERVICE_PROTOCOL *This, UINTN FileNumber,
                                                        VOID *FileBuffer, UINTN *FileBufferSize);

/*
 * Slot 3. TRUE when the held section has a line whose first token is the
 * index text of Index: the low 32 bits as a signed decimal, cut to
 * TOLVANE_ENTRY_INDEX_LENGTH characters (64512 looks for 6451, 0xFFFFFFFF
 * for -1). The first such line answers. Its second token, quotes included,
 * is copied with its terminator into Value when Value is not NULL and it
 * fits ValueSize bytes; otherwise Value is untouched, and the answer is
 * still TRUE. FALSE when no section is held or no line matches.
 */
typedef BOOLEAN(EFIAPI *TOLVANE_GET_ENTRY)(TOLVANE_SERVICE_PROTOCOL *This, UINTN Index, CHAR16 *Value, UINTN ValueSize);

/*
 * Slot 4. The number of consecutive entries 0, 1, 2, ... that GetEntry
 * finds, at most TOLVANE_ENTRY_COUNT_LIMIT; 0 when no section is held.
 */
typedef UINTN(EFIAPI *TOLVANE_GET_ENTRY_COUNT)(TOLVANE_SERVICE_PROTOCOL *This);

/*
 * Slot 5. Releases the held section. Until the next successful fetch no
 * section is held: no entry, a count of 0, and a further release that does
 * nothing. Returns the status of the pool release, or EFI_SUCCESS when no
 * section is held.
 */
typedef EFI_STATUS(EFIAPI *TOLVANE_RELEASE_CONFIGURATION)(TOLVANE_SERVICE_PROTOCOL *This);

struct _TOLVANE_SERVICE_PROTOCOL {
  TOLVANE_FETCH_CONFIGURATION FetchConfiguration;
  TOLVANE_FETCH_NUMBERED_FILE FetchNumberedFile;
  TOLVANE_GET_ENTRY GetEntry;
  TOLVANE_GET_ENTRY_COUNT GetEntryCount;
  TOLVANE_RELEASE_CONFIGURATION ReleaseConfiguration;
};

#endif
