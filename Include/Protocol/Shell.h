/*
 * EFI_SHELL_PROTOCOL, as published in the UEFI Shell specification: only
 * the file members the field tool calls are typed; the others keep their
 * places.
 */
#ifndef TOLVANE_PROTOCOL_SHELL_H
#define TOLVANE_PROTOCOL_SHELL_H

#include "Protocol/ShellParameters.h"
#include "Protocol/SimpleFileSystem.h"

#define EFI_SHELL_PROTOCOL_GUID                                                                                        \
  {                                                                                                                    \
    0x6302D008, 0x7F9B, 0x4F30, { 0x87, 0xAC, 0x60, 0xC9, 0xFE, 0xF5, 0xDA, 0x4E }                                     \
  }

typedef struct {
  VOID *Members1[24]; /* Execute ... SetFileInfo */
  EFI_STATUS(EFIAPI *OpenFileByName)(const CHAR16 *FileName, SHELL_FILE_HANDLE *FileHandle, UINT64 OpenMode);
  EFI_STATUS(EFIAPI *CloseFile)(SHELL_FILE_HANDLE FileHandle);
  VOID *CreateFile;
  VOID *ReadFile;
  EFI_STATUS(EFIAPI *WriteFile)(SHELL_FILE_HANDLE FileHandle, UINTN *BufferSize, VOID *Buffer);
  EFI_STATUS(EFIAPI *DeleteFile)(SHELL_FILE_HANDLE FileHandle);
} EFI_SHELL_PROTOCOL;

#ifdef __cplusplus
static_assert(__builtin_offsetof(EFI_SHELL_PROTOCOL, OpenFileByName) == 192, "Shell.OpenFileByName");
static_assert(__builtin_offsetof(EFI_SHELL_PROTOCOL, CloseFile) == 200, "Shell.CloseFile");
static_assert(__builtin_offsetof(EFI_SHELL_PROTOCOL, WriteFile) == 224, "Shell.WriteFile");
static_assert(__builtin_offsetof(EFI_SHELL_PROTOCOL, DeleteFile) == 232, "Shell.DeleteFile");
#endif

#ifdef __cplusplus
/* The GUID as a constant, for C++ callers. */
inline constexpr EFI_GUID EfiShellProtocolGuid = EFI_SHELL_PROTOCOL_GUID;
#endif

#endif
