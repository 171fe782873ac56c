/*
 * Which card a network handle belongs to. The service checks the link of the
 * first Simple Network and downloads through the first PXE Base Code under
 * the variant GUID; the companion and the field tool both ask this to keep
 * the two on one card.
 */
#ifndef TOLVANE_LIBRARY_NETWORK_CARD_H
#define TOLVANE_LIBRARY_NETWORK_CARD_H

#include "Uefi/Uefi.h"

/*
 * TRUE when the nearest handle with Simple Network on Handle's device path
 * (the card a PXE Base Code child hangs from) has Network as its interface.
 * FALSE when Handle has no device path or no card is found on it.
 */
bool IsOnCard(EFI_HANDLE Handle, const VOID *Network);

#endif
