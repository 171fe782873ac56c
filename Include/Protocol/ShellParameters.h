/*
 * EFI_SHELL_PARAMETERS_PROTOCOL, as published in the UEFI Shell
 * specification: the UEFI Shell installs it on the image handle of each
 * application it starts, with the command line split into arguments.
 */
#ifndef TOLVANE_PROTOCOL_SHELL_PARAMETERS_H
#define TOLVANE_PROTOCOL_SHELL_PARAMETERS_H

#include "Uefi/UefiBaseType.h"

#define EFI_SHELL_PARAMETERS_PROTOCOL_GUID                                                                             \
  {                                                                                                                    \
    0x752F3136, 0x4E16, 0x4FDC, { 0xA2, 0x2A, 0xE5, 0xF4, 0x68, 0x12, 0xF4, 0xCA }                                     \
  }

typedef VOID *SHELL_FILE_HANDLE;

typedef struct {
  CHAR16 **Argv;
  UINTN Argc;
  SHELL_FILE_HANDLE StdIn;
  SHELL_FILE_HANDLE StdOut;
  SHELL_FILE_HANDLE StdErr;
} EFI_SHELL_PARAMETERS_PROTOCOL;

#ifdef __cplusplus
static_assert(__builtin_offsetof(EFI_SHELL_PARAMETERS_PROTOCOL, Argc) == 8, "ShellParameters.Argc");
static_assert(sizeof(EFI_SHELL_PARAMETERS_PROTOCOL) == 40, "EFI_SHELL_PARAMETERS_PROTOCOL size");
#endif

#ifdef __cplusplus
/* The GUID as a constant, for C++ callers. */
inline constexpr EFI_GUID EfiShellParametersProtocolGuid = EFI_SHELL_PARAMETERS_PROTOCOL_GUID;
#endif

#endif
