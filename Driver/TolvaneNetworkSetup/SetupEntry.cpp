/* The companion's entry point: the binding and the mark, the watches for later PXE instances and boot options, the
 * cards. */
#include "Library/FirmwareTables.h"
#include "NetworkSetup.h"
#include "Protocol/TolvaneNetworkSetup.h"

namespace {
constexpr EFI_GUID DriverBindingGuid = EFI_DRIVER_BINDING_PROTOCOL_GUID;
constexpr EFI_GUID NetworkSetupGuid = TOLVANE_NETWORK_SETUP_PROTOCOL_GUID;
TOLVANE_NETWORK_SETUP_PROTOCOL NetworkSetupMark = {TOLVANE_NETWORK_SETUP_REVISION};
} // namespace

/*
 * Returns EFI_ALREADY_STARTED when a copy is resident (the firmware then
 * unloads this one), the installation's error when the binding could not be
 * installed, else EFI_SUCCESS: from then on the image must stay, since the
 * firmware holds its binding.
 */
extern "C" EFI_STATUS EFIAPI NetworkSetupEntry(EFI_HANDLE Image, EFI_SYSTEM_TABLE *Table) {
  ImageHandle = Image;
  SystemTable = Table;
  BootServices = Table->BootServices;

  VOID *Resident;
  if (!EFI_ERROR(BootServices->LocateProtocol(&NetworkSetupGuid, NULL, &Resident))) {
    return EFI_ALREADY_STARTED;
  }
  PxeVariantBinding.ImageHandle = Image;
  PxeVariantBinding.DriverBindingHandle = Image;
  EFI_HANDLE Handle = Image;
  EFI_STATUS Status = BootServices->InstallMultipleProtocolInterfaces(&Handle, &DriverBindingGuid, &PxeVariantBinding,
                                                                      &NetworkSetupGuid, &NetworkSetupMark, NULL);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  // Without the watch, instances present now are still published; only later ones would be missed.
  (VOID) WatchPxeArrivals();
  // Without it, a companion dispatched before PCI enumeration never finds a card; from Driver#### or the
  // Shell's load the cards are there now.
  (VOID) SetUpCardsAtReadyToBoot();
  SetUpCards();
  return EFI_SUCCESS;
}

/*
 * The PXE instances are offered here and not left to the arrival watch: at
 * ReadyToBoot this runs at the watch's own TPL, so the watch would run only
 * after the service's card had been put first.
 */
VOID SetUpCards() {
  ConnectNetworkControllers();
  BindPresentPxeInstances();
  PutServiceCardFirst();
}
