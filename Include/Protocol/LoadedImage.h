/*
 * EFI_LOADED_IMAGE_PROTOCOL, as published in the UEFI specification. The
 * firmware test runner reads DeviceHandle to find the volume it was loaded
 * from.
 */
#ifndef TOLVANE_PROTOCOL_LOADED_IMAGE_H
#define TOLVANE_PROTOCOL_LOADED_IMAGE_H

#include "Uefi/UefiTables.h"

#define EFI_LOADED_IMAGE_PROTOCOL_GUID                                                                                 \
  {                                                                                                                    \
    0x5B1B31A1, 0x9562, 0x11D2, { 0x8E, 0x3F, 0x00, 0xA0, 0xC9, 0x69, 0x72, 0x3B }                                     \
  }

typedef struct {
  UINT32 Revision;
  EFI_HANDLE ParentHandle;
  EFI_SYSTEM_TABLE *SystemTable;
  EFI_HANDLE DeviceHandle;
  EFI_DEVICE_PATH_PROTOCOL *FilePath;
  VOID *Reserved;
  UINT32 LoadOptionsSize;
  VOID *LoadOptions;
  VOID *ImageBase;
  UINT64 ImageSize;
  EFI_MEMORY_TYPE ImageCodeType;
  EFI_MEMORY_TYPE ImageDataType;
  EFI_STATUS(EFIAPI *Unload)(EFI_HANDLE ImageHandle);
} EFI_LOADED_IMAGE_PROTOCOL;

#ifdef __cplusplus
static_assert(__builtin_offsetof(EFI_LOADED_IMAGE_PROTOCOL, ParentHandle) == 8, "LoadedImage.ParentHandle");
static_assert(__builtin_offsetof(EFI_LOADED_IMAGE_PROTOCOL, DeviceHandle) == 24, "LoadedImage.DeviceHandle");
static_assert(__builtin_offsetof(EFI_LOADED_IMAGE_PROTOCOL, FilePath) == 32, "LoadedImage.FilePath");
static_assert(__builtin_offsetof(EFI_LOADED_IMAGE_PROTOCOL, LoadOptionsSize) == 48, "LoadedImage.LoadOptionsSize");
static_assert(__builtin_offsetof(EFI_LOADED_IMAGE_PROTOCOL, ImageBase) == 64, "LoadedImage.ImageBase");
static_assert(__builtin_offsetof(EFI_LOADED_IMAGE_PROTOCOL, ImageCodeType) == 80, "LoadedImage.ImageCodeType");
static_assert(__builtin_offsetof(EFI_LOADED_IMAGE_PROTOCOL, Unload) == 88, "LoadedImage.Unload");
#endif

#ifdef __cplusplus
/* The GUID as a constant, for C++ callers. */
inline constexpr EFI_GUID EfiLoadedImageProtocolGuid = EFI_LOADED_IMAGE_PROTOCOL_GUID;
#endif

#endif
