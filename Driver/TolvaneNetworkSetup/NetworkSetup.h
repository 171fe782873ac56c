/*
 * The network companion's parts. At start, and again whenever the boot
 * manager is about to start a boot option, it connects the network cards,
 * and a Driver Binding publishes each PXE Base Code instance's interface
 * under the variant GUID on the instance's own handle, where the service
 * looks for it. The binding opens the standard interface BY_DRIVER, so the
 * firmware asks it to stop (and it takes the variant away) before the PXE
 * driver can uninstall the interface: the variant never outlives it.
 */
#ifndef TOLVANE_NETWORK_SETUP_H
#define TOLVANE_NETWORK_SETUP_H

#include "Protocol/DriverBinding.h"
#include "Protocol/PxeBaseCode.h"
#include "Protocol/SimpleNetwork.h"

/* The binding, installed on the companion's image handle. */
extern EFI_DRIVER_BINDING_PROTOCOL PxeVariantBinding;

/* Connects the cards, offers their PXE instances to the binding, puts the service's card first. */
VOID SetUpCards();

/* Runs SetUpCards each time the boot manager is about to start a boot option; the status of the registration. */
EFI_STATUS SetUpCardsAtReadyToBoot();

/* Connects, recursively, every PCI controller of class network. */
VOID ConnectNetworkControllers();

/* Offers every PXE Base Code handle present now to the binding. */
VOID BindPresentPxeInstances();

/* Offers every PXE Base Code handle installed from now on to the binding; the status of the registration. */
EFI_STATUS WatchPxeArrivals();

/*
 * Moves the variant interfaces on other cards behind those on the card of
 * the first Simple Network, so that LocateProtocol on the variant GUID
 * finds the card whose link the service checks.
 */
VOID PutServiceCardFirst();

#endif
