/*
 * A companion dispatched from the platform's firmware volume starts before
 * the platform enumerates PCI, so no card exists for its entry to connect.
 * The boot manager signals the ReadyToBoot event group each time it is about
 * to start a boot option (a caller on disk, the Shell): by then the cards are
 * enumerated, and the companion sets them up again there. Setting them up
 * twice is harmless: a connected card stays as it is.
 */
#include "Library/FirmwareTables.h"
#include "NetworkSetup.h"

namespace {
constexpr EFI_GUID ReadyToBootGroup = EFI_EVENT_GROUP_READY_TO_BOOT;

VOID EFIAPI OnReadyToBoot(EFI_EVENT, VOID *) { SetUpCards(); }
} // namespace

EFI_STATUS SetUpCardsAtReadyToBoot() {
  EFI_EVENT Event;
  return BootServices->CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, OnReadyToBoot, NULL, &ReadyToBootGroup, &Event);
}
