/*
 * The smallest caller of TOLVANE_SERVICE_PROTOCOL: a UEFI application that
 * locates the protocol, fetches the configuration of one machine, prints
 * every entry and downloads numbered file 0. It includes the public header
 * and nothing else of ours; the few firmware table members it calls are
 * declared below, as any UEFI development kit declares them.
 *
 * Build it with CallerMemory.c (memset and memcpy, which the compiler may
 * call), as docs/Calling.md prints the lines.
 *
 * Set ServerAddress and MachineId for your platform. The driver must be
 * loaded already (from a Driver#### load option, the firmware volume or the
 * UEFI Shell's "load"), and the platform must publish PXE Base Code where
 * the driver looks for it.
 */
#include "Protocol/TolvaneService.h"

/* --- Firmware tables: only the members this program calls are typed. --- */
typedef struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL;
struct EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL {
  VOID *Reset;
  EFI_STATUS(EFIAPI *OutputString)(EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *This, CHAR16 *String);
};

typedef struct {
  UINT8 Header[24];
  VOID *Members1[5]; /* RaiseTPL ... GetMemoryMap */
  EFI_STATUS(EFIAPI *AllocatePool)(UINT32 PoolType, UINTN Size, VOID **Buffer);
  EFI_STATUS(EFIAPI *FreePool)(VOID *Buffer);
  VOID *Members2[30]; /* CreateEvent ... LocateHandleBuffer */
  EFI_STATUS(EFIAPI *LocateProtocol)(EFI_GUID *Protocol, VOID *Registration, VOID **Interface);
} EFI_BOOT_SERVICES;

typedef struct {
  UINT8 Header[24];
  VOID *Members[5]; /* FirmwareVendor ... ConsoleOutHandle */
  EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *ConOut;
  VOID *Members2[3]; /* StandardErrorHandle, StdErr, RuntimeServices */
  EFI_BOOT_SERVICES *BootServices;
} EFI_SYSTEM_TABLE;

_Static_assert(__builtin_offsetof(EFI_SYSTEM_TABLE, ConOut) == 64, "EFI_SYSTEM_TABLE.ConOut");
_Static_assert(__builtin_offsetof(EFI_SYSTEM_TABLE, BootServices) == 96, "EFI_SYSTEM_TABLE.BootServices");
_Static_assert(__builtin_offsetof(EFI_BOOT_SERVICES, AllocatePool) == 64, "EFI_BOOT_SERVICES.AllocatePool");
_Static_assert(__builtin_offsetof(EFI_BOOT_SERVICES, FreePool) == 72, "EFI_BOOT_SERVICES.FreePool");
_Static_assert(__builtin_offsetof(EFI_BOOT_SERVICES, LocateProtocol) == 320, "EFI_BOOT_SERVICES.LocateProtocol");

#define EFI_BOOT_SERVICES_DATA 4

/* --- The caller's settings. --- */
static EFI_IP_ADDRESS ServerAddress = {.v4 = {{10, 0, 2, 2}}}; /* the TFTP server */
static CHAR8 MachineId[TOLVANE_IDENTIFIER_LENGTH] = {'A', 'B', 'C', 'D', '1', '2', '3', '4'};

static EFI_GUID ServiceGuid = TOLVANE_SERVICE_PROTOCOL_GUID;
static EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console;

/* Prints 8-bit text. */
static VOID Print(const char *Text) {
  CHAR16 Wide[128];
  UINTN Length = 0;
  while (*Text != 0 && Length + 1 < sizeof(Wide) / sizeof(Wide[0])) {
    Wide[Length++] = (CHAR16)(UINT8)*Text++;
  }
  Wide[Length] = 0;
  Console->OutputString(Console, Wide);
}

/* Prints a number in decimal. */
static VOID PrintNumber(UINT64 Value) {
  char Digits[21];
  UINTN Index = sizeof(Digits) - 1;
  Digits[Index] = 0;
  do {
    Digits[--Index] = (char)('0' + Value % 10);
    Value /= 10;
  } while (Value != 0);
  Print(Digits + Index);
}

/* Prints a status as hexadecimal, the form firmware documentation lists them in. */
static VOID PrintStatus(EFI_STATUS Status) {
  char Digits[19];
  Digits[0] = '0';
  Digits[1] = 'x';
  for (int Index = 0; Index < 16; Index++) {
    Digits[2 + Index] = "0123456789ABCDEF"[(Status >> (60 - 4 * Index)) & 0xF];
  }
  Digits[18] = 0;
  Print(Digits);
}

/* Prints every entry 0, 1, ... the count names, each with its value. */
static VOID PrintEntries(TOLVANE_SERVICE_PROTOCOL *Service) {
  UINTN Count = Service->GetEntryCount(Service);
  Print("entries: ");
  PrintNumber(Count);
  Print("\r\n");
  for (UINTN Index = 0; Index < Count; Index++) {
    CHAR16 Value[256];
    Value[0] = 0;
    /* TRUE with Value untouched means the value needs more than sizeof(Value) bytes. */
    BOOLEAN Found = Service->GetEntry(Service, Index, Value, sizeof(Value));
    Print("entry ");
    PrintNumber(Index);
    Print(Found ? " = " : " missing");
    Console->OutputString(Console, Value);
    Print("\r\n");
  }
}

/* Asks for file 0's size with no buffer, then reads it into a pool buffer of that size. */
static VOID DownloadFileZero(EFI_BOOT_SERVICES *Boot, TOLVANE_SERVICE_PROTOCOL *Service) {
  UINTN Size = 0;
  EFI_STATUS Status = Service->FetchNumberedFile(Service, 0, NULL, &Size);
  if (Status != EFI_OUT_OF_RESOURCES) {
    /* EFI_OUT_OF_RESOURCES is the answer that carries the size; anything else is the transfer's failure. */
    Print("file 0: size query failed ");
    PrintStatus(Status);
    Print("\r\n");
    return;
  }
  VOID *Buffer = NULL;
  if (Size == 0 || EFI_ERROR(Boot->AllocatePool(EFI_BOOT_SERVICES_DATA, Size, &Buffer))) {
    Print("file 0: no buffer\r\n");
    return;
  }
  Status = Service->FetchNumberedFile(Service, 0, Buffer, &Size);
  Print("file 0: ");
  PrintStatus(Status);
  Print(", ");
  PrintNumber(Size);
  Print(" bytes\r\n");
  Boot->FreePool(Buffer);
}

EFI_STATUS EFIAPI CallerMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  (void)ImageHandle;
  EFI_BOOT_SERVICES *Boot = SystemTable->BootServices;
  TOLVANE_SERVICE_PROTOCOL *Service = NULL;
  Console = SystemTable->ConOut;

  EFI_STATUS Status = Boot->LocateProtocol(&ServiceGuid, NULL, (VOID **)&Service);
  if (EFI_ERROR(Status)) {
    Print("TolvaneService is not loaded\r\n");
    return Status;
  }
  Status = Service->FetchConfiguration(Service, &ServerAddress, MachineId);
  Print("fetch: ");
  PrintStatus(Status);
  Print("\r\n");
  if (EFI_ERROR(Status)) {
    /* TOLVANE_FETCH_STEP_STATUS(TOLVANE_FETCH_STEP_MEDIA) to ...(TOLVANE_FETCH_STEP_SECTION), 0x8000000000000001
       to ...05, name the step that failed: link, DHCP, address, size query, section. */
    return Status;
  }
  PrintEntries(Service);
  DownloadFileZero(Boot, Service);
  /* The section stays held until released (a later successful fetch releases it too): release it when done. */
  return Service->ReleaseConfiguration(Service);
}
