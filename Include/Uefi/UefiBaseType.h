/*
 * Base types, status values and GUIDs of the UEFI specification, as the
 * driver and its callers use them. The public protocol header builds on this
 * file when no firmware kit's base types came before it, so it compiles as
 * C99 and later, as C++11 and later, with GCC, clang and Microsoft-ABI
 * compilers (x86-64 only).
 */
#ifndef TOLVANE_UEFI_BASE_TYPE_H
#define TOLVANE_UEFI_BASE_TYPE_H

/*
 * Firmware calls use the Microsoft x64 ABI. On the firmware target that is the
 * compiler's default; a Linux host build has to ask for it.
 */
#ifndef EFIAPI
#if defined(__x86_64__) && !defined(_WIN32)
#define EFIAPI __attribute__((ms_abi))
#else
#define EFIAPI
#endif
#endif

typedef unsigned char UINT8;
typedef signed char INT8;
typedef unsigned short UINT16;
typedef short INT16;
typedef unsigned int UINT32;
typedef int INT32;
typedef unsigned long long UINT64;
typedef long long INT64;
#ifdef __UINTPTR_TYPE__
typedef __UINTPTR_TYPE__ UINTN;
typedef __INTPTR_TYPE__ INTN;
#else
/* Microsoft's compiler names no pointer-sized type without a library header. */
typedef unsigned __int64 UINTN;
typedef __int64 INTN;
#endif
typedef char CHAR8;
#ifdef __cplusplus
typedef char16_t CHAR16;
#else
typedef unsigned short CHAR16;
#endif
typedef unsigned char BOOLEAN;
typedef void VOID;

#ifndef TRUE
#define TRUE ((BOOLEAN)1)
#define FALSE ((BOOLEAN)0)
#endif
#ifndef NULL
#ifdef __cplusplus
#define NULL nullptr
#else
#define NULL ((void *)0)
#endif
#endif

typedef UINTN EFI_STATUS;
typedef VOID *EFI_HANDLE;
typedef VOID *EFI_EVENT;
typedef UINTN EFI_TPL;
typedef UINT64 EFI_PHYSICAL_ADDRESS;
typedef UINT64 EFI_VIRTUAL_ADDRESS;

typedef struct {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8 Data4[8];
} EFI_GUID;

typedef struct {
  UINT8 Addr[4];
} EFI_IPv4_ADDRESS;

typedef struct {
  UINT8 Addr[16];
} EFI_IPv6_ADDRESS;

typedef union {
  UINT32 Addr[4];
  EFI_IPv4_ADDRESS v4;
  EFI_IPv6_ADDRESS v6;
} EFI_IP_ADDRESS;

typedef struct {
  UINT8 Addr[32];
} EFI_MAC_ADDRESS;

typedef struct {
  UINT16 Year;
  UINT8 Month;
  UINT8 Day;
  UINT8 Hour;
  UINT8 Minute;
  UINT8 Second;
  UINT8 Pad1;
  UINT32 Nanosecond;
  INT16 TimeZone;
  UINT8 Daylight;
  UINT8 Pad2;
} EFI_TIME;

#define EFI_ERROR_BIT 0x8000000000000000ULL
#define ENCODE_ERROR(Code) ((EFI_STATUS)(EFI_ERROR_BIT | (Code)))
#define ENCODE_WARNING(Code) ((EFI_STATUS)(Code))
/* An error has the top bit set; a warning counts as success. */
#define EFI_ERROR(Status) (((INTN)(EFI_STATUS)(Status)) < 0)

#define EFI_SUCCESS ((EFI_STATUS)0)
#define EFI_WARN_UNKNOWN_GLYPH ENCODE_WARNING(1)
#define EFI_WARN_DELETE_FAILURE ENCODE_WARNING(2)
#define EFI_WARN_WRITE_FAILURE ENCODE_WARNING(3)
#define EFI_WARN_BUFFER_TOO_SMALL ENCODE_WARNING(4)
#define EFI_LOAD_ERROR ENCODE_ERROR(1)
#define EFI_INVALID_PARAMETER ENCODE_ERROR(2)
#define EFI_UNSUPPORTED ENCODE_ERROR(3)
#define EFI_BAD_BUFFER_SIZE ENCODE_ERROR(4)
#define EFI_BUFFER_TOO_SMALL ENCODE_ERROR(5)
#define EFI_NOT_READY ENCODE_ERROR(6)
#define EFI_DEVICE_ERROR ENCODE_ERROR(7)
#define EFI_WRITE_PROTECTED ENCODE_ERROR(8)
#define EFI_OUT_OF_RESOURCES ENCODE_ERROR(9)
#define EFI_VOLUME_CORRUPTED ENCODE_ERROR(10)
#define EFI_VOLUME_FULL ENCODE_ERROR(11)
#define EFI_NO_MEDIA ENCODE_ERROR(12)
#define EFI_MEDIA_CHANGED ENCODE_ERROR(13)
#define EFI_NOT_FOUND ENCODE_ERROR(14)
#define EFI_ACCESS_DENIED ENCODE_ERROR(15)
#define EFI_NO_RESPONSE ENCODE_ERROR(16)
#define EFI_NO_MAPPING ENCODE_ERROR(17)
#define EFI_TIMEOUT ENCODE_ERROR(18)
#define EFI_NOT_STARTED ENCODE_ERROR(19)
#define EFI_ALREADY_STARTED ENCODE_ERROR(20)
#define EFI_ABORTED ENCODE_ERROR(21)
#define EFI_ICMP_ERROR ENCODE_ERROR(22)
#define EFI_TFTP_ERROR ENCODE_ERROR(23)
#define EFI_PROTOCOL_ERROR ENCODE_ERROR(24)
#define EFI_SECURITY_VIOLATION ENCODE_ERROR(26)

#ifdef __cplusplus
static_assert(sizeof(UINT64) == 8 && sizeof(UINTN) == 8 && sizeof(CHAR16) == 2, "x86-64 widths");
static_assert(sizeof(EFI_GUID) == 16, "EFI_GUID size");
static_assert(sizeof(EFI_IP_ADDRESS) == 16, "EFI_IP_ADDRESS size");
static_assert(sizeof(EFI_MAC_ADDRESS) == 32, "EFI_MAC_ADDRESS size");
static_assert(sizeof(EFI_TIME) == 16, "EFI_TIME size");
static_assert(__builtin_offsetof(EFI_TIME, Year) == 0, "EFI_TIME.Year");
static_assert(__builtin_offsetof(EFI_TIME, Month) == 2, "EFI_TIME.Month");
static_assert(__builtin_offsetof(EFI_TIME, Day) == 3, "EFI_TIME.Day");
static_assert(__builtin_offsetof(EFI_TIME, Hour) == 4, "EFI_TIME.Hour");
static_assert(__builtin_offsetof(EFI_TIME, Minute) == 5, "EFI_TIME.Minute");
static_assert(__builtin_offsetof(EFI_TIME, Second) == 6, "EFI_TIME.Second");

/* Data4 of two GUIDs is equal from byte Index on (one return statement each, as C++11 wants of constexpr). */
constexpr bool GuidTailEquals(const EFI_GUID &First, const EFI_GUID &Second, int Index) {
  return Index == 8 || (First.Data4[Index] == Second.Data4[Index] && GuidTailEquals(First, Second, Index + 1));
}

/* Two GUIDs are equal when all 16 bytes are. */
constexpr bool GuidEquals(const EFI_GUID &First, const EFI_GUID &Second) {
  return First.Data1 == Second.Data1 && First.Data2 == Second.Data2 && First.Data3 == Second.Data3 &&
         GuidTailEquals(First, Second, 0);
}
#endif

#endif
