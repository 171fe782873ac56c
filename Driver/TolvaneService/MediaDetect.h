/* The link check through the firmware's Simple Network interface. */
#ifndef TOLVANE_DRIVER_MEDIA_DETECT_H
#define TOLVANE_DRIVER_MEDIA_DETECT_H

#include "Uefi/Uefi.h"

/*
 * Cycles the Simple Network interface through Initialize to read a fresh
 * MediaPresent into *MediaPresent, and leaves the interface in the state it
 * was found in. Returns the firmware's status (see the state tables).
 */
[[nodiscard]] EFI_STATUS DetectMediaPresent(BOOLEAN *MediaPresent);

#endif
