/*
 * The soak caller: CYCLES fetch-and-release cycles in one boot, with the
 * firmware's boot-services pages counted from its memory map before and
 * after. Run from the UEFI Shell once the companion and the service are
 * loaded: "SoakCaller.efi CYCLES" (default 40). One warm-up cycle comes
 * first, so that the one-time cost of starting PXE is reported apart.
 * Prints one "soak:" line per figure; Benchmarks/Soak/soak_benchmark.py
 * reads them.
 */
#include "Protocol/LoadedImage.h"
#include "Protocol/TolvaneService.h"
#include "Uefi/Uefi.h"

#define DEFAULT_CYCLES 40
/* Room for the map and the descriptors the firmware may add while this program runs. */
#define MAP_SLACK 4096

static EFI_IP_ADDRESS ServerAddress = {.v4 = {{10, 0, 2, 2}}};
static CHAR8 MachineId[TOLVANE_IDENTIFIER_LENGTH] = {'A', 'B', 'C', 'D', '1', '2', '3', '4'};
static EFI_GUID ServiceGuid = TOLVANE_SERVICE_PROTOCOL_GUID;
static EFI_GUID LoadedImageGuid = EFI_LOADED_IMAGE_PROTOCOL_GUID;
static EFI_SIMPLE_TEXT_OUTPUT_PROTOCOL *Console;

/* The pages of the memory map by kind: what boot services hold, and what is still free. */
typedef struct {
  UINT64 BootServicesCode;
  UINT64 BootServicesData;
  UINT64 Free;
} PAGE_COUNTS;

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

/* Prints a status in hexadecimal. */
static VOID PrintStatus(EFI_STATUS Status) {
  char Digits[19] = {'0', 'x'};
  for (int Index = 0; Index < 16; Index++) {
    Digits[2 + Index] = "0123456789ABCDEF"[(Status >> (60 - 4 * Index)) & 0xF];
  }
  Digits[18] = 0;
  Print(Digits);
}

/* The cycle count of the command line ("SoakCaller.efi 40"): its first number, or the default. */
static UINTN CyclesAsked(EFI_BOOT_SERVICES *Boot, EFI_HANDLE ImageHandle) {
  EFI_LOADED_IMAGE_PROTOCOL *Image = NULL;
  if (EFI_ERROR(Boot->HandleProtocol(ImageHandle, &LoadedImageGuid, (VOID **)&Image)) || Image->LoadOptions == NULL) {
    return DEFAULT_CYCLES;
  }
  const CHAR16 *Text = (const CHAR16 *)Image->LoadOptions;
  UINTN Length = Image->LoadOptionsSize / sizeof(CHAR16);
  UINTN At = 0;
  while (At < Length && Text[At] != ' ' && Text[At] != 0) { /* the program's own name */
    At++;
  }
  while (At < Length && Text[At] == ' ') {
    At++;
  }
  UINTN Cycles = 0;
  while (At < Length && Text[At] >= '0' && Text[At] <= '9' && Cycles < 100000) {
    Cycles = Cycles * 10 + (UINTN)(Text[At++] - '0');
  }
  return Cycles == 0 ? DEFAULT_CYCLES : Cycles;
}

/* Counts the pages of MAP (CAPACITY bytes) by kind; FALSE when the firmware could not give the map. */
static BOOLEAN CountPages(EFI_BOOT_SERVICES *Boot, UINT8 *Map, UINTN Capacity, PAGE_COUNTS *Counts) {
  UINTN Size = Capacity;
  UINTN Key = 0;
  UINTN DescriptorSize = 0;
  UINT32 Version = 0;
  if (EFI_ERROR(Boot->GetMemoryMap(&Size, (EFI_MEMORY_DESCRIPTOR *)Map, &Key, &DescriptorSize, &Version)) ||
      DescriptorSize < sizeof(EFI_MEMORY_DESCRIPTOR)) {
    return FALSE;
  }
  Counts->BootServicesCode = 0;
  Counts->BootServicesData = 0;
  Counts->Free = 0;
  for (UINTN Offset = 0; Offset + DescriptorSize <= Size; Offset += DescriptorSize) {
    const EFI_MEMORY_DESCRIPTOR *Descriptor = (const EFI_MEMORY_DESCRIPTOR *)(Map + Offset);
    if (Descriptor->Type == EfiBootServicesCode) {
      Counts->BootServicesCode += Descriptor->NumberOfPages;
    } else if (Descriptor->Type == EfiBootServicesData) {
      Counts->BootServicesData += Descriptor->NumberOfPages;
    } else if (Descriptor->Type == EfiConventionalMemory) {
      Counts->Free += Descriptor->NumberOfPages;
    }
  }
  return TRUE;
}

/* Prints "soak: NAME code C data D boot-services B free F". */
static VOID PrintCounts(const char *Name, const PAGE_COUNTS *Counts) {
  Print("soak: ");
  Print(Name);
  Print(" code ");
  PrintNumber(Counts->BootServicesCode);
  Print(" data ");
  PrintNumber(Counts->BootServicesData);
  Print(" boot-services ");
  PrintNumber(Counts->BootServicesCode + Counts->BootServicesData);
  Print(" free ");
  PrintNumber(Counts->Free);
  Print("\r\n");
}

/* One fetch and release; TRUE when the fetch succeeded (a failure is printed). */
static BOOLEAN Cycle(TOLVANE_SERVICE_PROTOCOL *Service, UINTN Number) {
  EFI_STATUS Status = Service->FetchConfiguration(Service, &ServerAddress, MachineId);
  Service->ReleaseConfiguration(Service);
  if (EFI_ERROR(Status)) {
    Print("soak: cycle ");
    PrintNumber(Number);
    Print(" fetch ");
    PrintStatus(Status);
    Print("\r\n");
    return FALSE;
  }
  return TRUE;
}

EFI_STATUS EFIAPI SoakMain(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  EFI_BOOT_SERVICES *Boot = SystemTable->BootServices;
  TOLVANE_SERVICE_PROTOCOL *Service = NULL;
  Console = SystemTable->ConOut;
  UINTN Cycles = CyclesAsked(Boot, ImageHandle);

  EFI_STATUS Status = Boot->LocateProtocol(&ServiceGuid, NULL, (VOID **)&Service);
  if (EFI_ERROR(Status)) {
    Print("soak: TolvaneService is not loaded\r\n");
    return Status;
  }
  /* One map buffer, taken before the first count, so that its own pool is in every count alike. */
  UINTN Capacity = 0;
  UINTN Key = 0;
  UINTN DescriptorSize = 0;
  UINT32 Version = 0;
  Boot->GetMemoryMap(&Capacity, NULL, &Key, &DescriptorSize, &Version);
  Capacity += MAP_SLACK;
  UINT8 *Map = NULL;
  if (EFI_ERROR(Boot->AllocatePool(EfiBootServicesData, Capacity, (VOID **)&Map))) {
    Print("soak: no pool for the memory map\r\n");
    return EFI_OUT_OF_RESOURCES;
  }
  PAGE_COUNTS Start;
  PAGE_COUNTS WarmedUp;
  PAGE_COUNTS End;
  UINTN Succeeded = 0;
  if (CountPages(Boot, Map, Capacity, &Start)) {
    BOOLEAN WarmUp = Cycle(Service, 0);
    if (CountPages(Boot, Map, Capacity, &WarmedUp)) {
      for (UINTN Number = 1; Number <= Cycles; Number++) {
        Succeeded += Cycle(Service, Number) ? 1 : 0;
      }
      if (CountPages(Boot, Map, Capacity, &End)) {
        PrintCounts("start", &Start);
        PrintCounts("after-warm-up", &WarmedUp);
        PrintCounts("end", &End);
        Print("soak: warm-up ");
        Print(WarmUp ? "ok" : "failed");
        Print(", cycles ");
        PrintNumber(Cycles);
        Print(", fetches ok ");
        PrintNumber(Succeeded);
        Print("\r\n");
        Boot->FreePool(Map);
        return Succeeded == Cycles && WarmUp ? EFI_SUCCESS : EFI_DEVICE_ERROR;
      }
    }
  }
  Print("soak: the memory map could not be read\r\n");
  Boot->FreePool(Map);
  return EFI_DEVICE_ERROR;
}
