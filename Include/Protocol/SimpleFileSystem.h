/*
 * EFI_SIMPLE_FILE_SYSTEM_PROTOCOL and EFI_FILE_PROTOCOL, as published in the
 * UEFI specification. The firmware test runner opens its own volume with
 * them; members it does not call are typed loosely but keep their places.
 */
#ifndef TOLVANE_PROTOCOL_SIMPLE_FILE_SYSTEM_H
#define TOLVANE_PROTOCOL_SIMPLE_FILE_SYSTEM_H

#include "Uefi/UefiBaseType.h"

#define EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID                                                                           \
  {                                                                                                                    \
    0x964E5B22, 0x6459, 0x11D2, { 0x8E, 0x39, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B }                                     \
  }

#define EFI_FILE_MODE_READ 0x0000000000000001ULL
#define EFI_FILE_MODE_WRITE 0x0000000000000002ULL
#define EFI_FILE_MODE_CREATE 0x8000000000000000ULL

typedef struct _EFI_FILE_PROTOCOL EFI_FILE_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_FILE_OPEN)(EFI_FILE_PROTOCOL *This, EFI_FILE_PROTOCOL **NewHandle, CHAR16 *FileName,
                                          UINT64 OpenMode, UINT64 Attributes);
typedef EFI_STATUS(EFIAPI *EFI_FILE_CLOSE)(EFI_FILE_PROTOCOL *This);
typedef EFI_STATUS(EFIAPI *EFI_FILE_READ)(EFI_FILE_PROTOCOL *This, UINTN *BufferSize, VOID *Buffer);
typedef EFI_STATUS(EFIAPI *EFI_FILE_GET_POSITION)(EFI_FILE_PROTOCOL *This, UINT64 *Position);
typedef EFI_STATUS(EFIAPI *EFI_FILE_SET_POSITION)(EFI_FILE_PROTOCOL *This, UINT64 Position);

struct _EFI_FILE_PROTOCOL {
  UINT64 Revision;
  EFI_FILE_OPEN Open;
  EFI_FILE_CLOSE Close;
  VOID *Delete;
  EFI_FILE_READ Read;
  VOID *Write;
  EFI_FILE_GET_POSITION GetPosition;
  EFI_FILE_SET_POSITION SetPosition;
  VOID *GetInfo;
  VOID *SetInfo;
  VOID *Flush;
};

typedef struct _EFI_SIMPLE_FILE_SYSTEM_PROTOCOL EFI_SIMPLE_FILE_SYSTEM_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_OPEN_VOLUME)(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL *This,
                                                                        EFI_FILE_PROTOCOL **Root);

struct _EFI_SIMPLE_FILE_SYSTEM_PROTOCOL {
  UINT64 Revision;
  EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_OPEN_VOLUME OpenVolume;
};

#ifdef __cplusplus
static_assert(__builtin_offsetof(EFI_SIMPLE_FILE_SYSTEM_PROTOCOL, OpenVolume) == 8, "SFS.OpenVolume");
static_assert(__builtin_offsetof(EFI_FILE_PROTOCOL, Open) == 8, "File.Open");
static_assert(__builtin_offsetof(EFI_FILE_PROTOCOL, Close) == 16, "File.Close");
static_assert(__builtin_offsetof(EFI_FILE_PROTOCOL, Read) == 32, "File.Read");
static_assert(__builtin_offsetof(EFI_FILE_PROTOCOL, GetPosition) == 48, "File.GetPosition");
static_assert(__builtin_offsetof(EFI_FILE_PROTOCOL, SetPosition) == 56, "File.SetPosition");
static_assert(sizeof(EFI_FILE_PROTOCOL) == 88, "EFI_FILE_PROTOCOL size");
#endif

#ifdef __cplusplus
/* The GUID as a constant, for C++ callers. */
inline constexpr EFI_GUID EfiSimpleFileSystemProtocolGuid = EFI_SIMPLE_FILE_SYSTEM_PROTOCOL_GUID;
#endif

#endif
