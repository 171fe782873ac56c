/*
 * EFI_PCI_IO_PROTOCOL, as published in the UEFI specification: only the
 * configuration-space read is typed; the other members keep their places.
 */
#ifndef TOLVANE_PROTOCOL_PCI_IO_H
#define TOLVANE_PROTOCOL_PCI_IO_H

#include "Uefi/UefiBaseType.h"

#define EFI_PCI_IO_PROTOCOL_GUID                                                                                       \
  {                                                                                                                    \
    0x4CF5B200, 0x68B8, 0x4CA5, { 0x9E, 0xEC, 0xB2, 0x3E, 0x3F, 0x50, 0x02, 0x9A }                                     \
  }

typedef enum { EfiPciIoWidthUint8, EfiPciIoWidthUint16, EfiPciIoWidthUint32, EfiPciIoWidthUint64 } EFI_PCI_IO_WIDTH;

/* Configuration space: the base class byte, and the class of network controllers. */
#define PCI_CLASS_CODE_BASE_OFFSET 0x0B
#define PCI_CLASS_NETWORK 0x02

typedef struct _EFI_PCI_IO_PROTOCOL EFI_PCI_IO_PROTOCOL;

typedef EFI_STATUS(EFIAPI *EFI_PCI_IO_PROTOCOL_CONFIG)(EFI_PCI_IO_PROTOCOL *This, EFI_PCI_IO_WIDTH Width, UINT32 Offset,
                                                       UINTN Count, VOID *Buffer);

typedef struct {
  EFI_PCI_IO_PROTOCOL_CONFIG Read;
  EFI_PCI_IO_PROTOCOL_CONFIG Write;
} EFI_PCI_IO_PROTOCOL_CONFIG_ACCESS;

struct _EFI_PCI_IO_PROTOCOL {
  VOID *PollMem;
  VOID *PollIo;
  VOID *Mem[2];
  VOID *Io[2];
  EFI_PCI_IO_PROTOCOL_CONFIG_ACCESS Pci;
  VOID *CopyMem;
  VOID *Map;
  VOID *Unmap;
  VOID *AllocateBuffer;
  VOID *FreeBuffer;
  VOID *Flush;
  VOID *GetLocation;
  VOID *Attributes;
  VOID *GetBarAttributes;
  VOID *SetBarAttributes;
  UINT64 RomSize;
  VOID *RomImage;
};

#ifdef __cplusplus
static_assert(__builtin_offsetof(EFI_PCI_IO_PROTOCOL, Pci) == 48, "PciIo.Pci.Read");
static_assert(__builtin_offsetof(EFI_PCI_IO_PROTOCOL, RomSize) == 144, "PciIo.RomSize");
static_assert(sizeof(EFI_PCI_IO_PROTOCOL) == 160, "EFI_PCI_IO_PROTOCOL size");
#endif

#endif
