/*
 * tolvane check: what a fetch needs, in the order it needs it, each with
 * what to do when it is missing: the service, a card with Simple Network,
 * PXE Base Code under the standard and the variant GUID, the companion.
 */
#include "Protocol/SimpleNetwork.h"
#include "Protocol/TolvaneNetworkSetup.h"
#include "TolvaneTool.h"
#include "ToolArguments.h"

namespace {
/* Where the service and the companion came from: the advice for what is missing depends on it. */
struct IMAGE_ORIGINS {
  bool ServiceInVolume;
  bool CompanionLoaded;
  bool CompanionInVolume;
};

constexpr EFI_GUID ServiceGuid = TOLVANE_SERVICE_PROTOCOL_GUID;

/*
 * A fresh link reading, as the service takes it: the card passes through
 * Initialize and is left as found. *NoLink is set when the card reports no
 * link, the one reading with which the service's fetch fails at once.
 */
const CHAR16 *ReadMedia(EFI_SIMPLE_NETWORK_PROTOCOL *Network, bool *NoLink) {
  *NoLink = false;
  if (!Network->Mode->MediaPresentSupported) {
    return u"link not reported by the card (the service takes it as present)";
  }
  UINT32 State = Network->Mode->State;
  if (State == EfiSimpleNetworkStopped && EFI_ERROR(Network->Start(Network))) {
    return u"link unknown: the card does not start";
  }
  bool Initialized = State == EfiSimpleNetworkInitialized || !EFI_ERROR(Network->Initialize(Network, 0, 0));
  BOOLEAN Present = Network->Mode->MediaPresent;
  if (State != EfiSimpleNetworkInitialized && Initialized) {
    Network->Shutdown(Network);
  }
  if (State == EfiSimpleNetworkStopped) {
    Network->Stop(Network);
  }
  if (!Initialized) {
    return u"link unknown: the card does not initialise";
  }
  *NoLink = !Present;
  return Present ? u"link up" : u"NO LINK: plug the cable in, or check the switch port";
}

/* 1. The service, and the image it lives in. */
bool CheckService() {
  VOID *Service;
  if (EFI_ERROR(BootServices->LocateProtocol(&ServiceGuid, NULL, &Service))) {
    PrintAscii("Service: MISSING: load TolvaneService.efi from a Driver#### option (see Deploying.md) or with the "
               "Shell's load\n");
    return false;
  }
  Print(u"Service: installed by ");
  PrintImageHolding(Service);
  Print(u"\n");
  return true;
}

/*
 * TRUE when a handle before Index carries the same interface: the network
 * stack republishes a card's Simple Network on the card's PXE children.
 */
bool IsListedBefore(EFI_HANDLE *Handles, UINTN Index, const VOID *Network) {
  for (UINTN Before = 0; Before < Index; Before++) {
    VOID *Earlier;
    if (!EFI_ERROR(BootServices->HandleProtocol(Handles[Before], &EfiSimpleNetworkProtocolGuid, &Earlier)) &&
        Earlier == Network) {
      return true;
    }
  }
  return false;
}

/* 2. Every card with Simple Network, its provider, its link, and the one the service checks, which needs a link. */
bool CheckCards(VOID **ServiceNetwork, const IMAGE_ORIGINS &Origins) {
  EFI_HANDLE *Handles;
  UINTN Count = HandlesWith(EfiSimpleNetworkProtocolGuid, &Handles);
  if (EFI_ERROR(BootServices->LocateProtocol(&EfiSimpleNetworkProtocolGuid, NULL, ServiceNetwork)) || Count == 0) {
    *ServiceNetwork = NULL;
    if (Handles != NULL) {
      BootServices->FreePool(Handles);
    }
    if (Origins.CompanionLoaded) {
      PrintAscii("Cards: NONE with Simple Network: no card connected yet. The companion connects them");
      PrintAscii(Origins.CompanionInVolume ? " once the firmware has found its PCI devices" : " when it starts");
      PrintAscii("; run connect -r here to connect them now; a card whose option ROM has no UEFI driver never gets "
                 "one\n");
    } else if (Origins.ServiceInVolume) {
      PrintAscii(
          "Cards: NONE with Simple Network: no card connected yet: put TolvaneNetworkSetup.efi in the firmware "
          "volume beside the service (it connects the cards), or run connect -r here; a card whose option ROM has "
          "no UEFI driver never gets one\n");
    } else {
      PrintAscii("Cards: NONE with Simple Network: load TolvaneNetworkSetup.efi before the service (it connects the "
                 "cards), or run connect -r here; a card whose option ROM has no UEFI driver never gets one\n");
    }
    return false;
  }
  UINTN Cards = 0;
  bool ServiceCardLinked = true;
  for (UINTN Index = 0; Index < Count; Index++) {
    EFI_SIMPLE_NETWORK_PROTOCOL *Network;
    if (EFI_ERROR(BootServices->HandleProtocol(Handles[Index], &EfiSimpleNetworkProtocolGuid, (VOID **)&Network)) ||
        IsListedBefore(Handles, Index, Network)) {
      continue;
    }
    Print(u"Card %d: ", ++Cards);
    PrintDevicePath(Handles[Index]);
    Print(u"\n  Simple Network from ");
    PrintImageHolding((const VOID *)Network->Start);
    bool NoLink;
    Print(u"\n  %s%s\n", ReadMedia(Network, &NoLink),
          Network == *ServiceNetwork ? u"\n  the service checks the link of this card" : u"");
    if (Network == *ServiceNetwork && NoLink) {
      ServiceCardLinked = false;
    }
  }
  BootServices->FreePool(Handles);
  return ServiceCardLinked;
}

/*
 * Lists the handles holding Guid, marking the one LocateProtocol finds,
 * whether it is on the checked card (*OnCheckedCard) and whether it is
 * stale (*FirstStale: no PXE Base Code behind it); the number of handles.
 */
UINTN ListPxeHandles(const EFI_GUID &Guid, const CHAR16 *Title, const VOID *ServiceNetwork, bool *OnCheckedCard,
                     bool *FirstStale) {
  EFI_HANDLE *Handles;
  UINTN Count = HandlesWith(Guid, &Handles);
  VOID *First = NULL;
  BootServices->LocateProtocol(&Guid, NULL, &First);
  Print(u"%s: %d\n", Title, Count);
  bool Marked = false;
  *OnCheckedCard = false;
  *FirstStale = false;
  for (UINTN Index = 0; Index < Count; Index++) {
    VOID *Interface;
    BootServices->HandleProtocol(Handles[Index], &Guid, &Interface);
    Print(u"  ");
    PrintDevicePath(Handles[Index]);
    VOID *Standard;
    bool Stale = EFI_ERROR(BootServices->HandleProtocol(Handles[Index], &EfiPxeBaseCodeProtocolGuid, &Standard)) ||
                 Standard != Interface;
    if (Stale) {
      PrintAscii("\n  STALE: no PXE Base Code behind this interface any more; reload what published it");
    }
    if (Interface == First && !Marked) {
      Marked = true;
      *FirstStale = Stale;
      *OnCheckedCard = IsOnCard(Handles[Index], ServiceNetwork);
      PrintAscii(*OnCheckedCard ? "\n  found first: on the card whose link is checked"
                                : "\n  found first: ON ANOTHER CARD than the link check");
    }
    Print(u"\n");
  }
  if (Handles != NULL) {
    BootServices->FreePool(Handles);
  }
  return Count;
}

/* 3. PXE Base Code under both GUIDs. */
bool CheckPxe(const VOID *ServiceNetwork, const IMAGE_ORIGINS &Origins) {
  bool Present = true;
  bool OnCheckedCard;
  bool FirstStale;
  if (ListPxeHandles(EfiPxeBaseCodeProtocolGuid, u"PXE Base Code, standard GUID", ServiceNetwork, &OnCheckedCard,
                     &FirstStale) == 0) {
    PrintAscii("  MISSING: the firmware's network stack has not started on any card: load TolvaneNetworkSetup.efi "
               "first, and check that network boot (PXE) is enabled in the firmware setup\n");
    Present = false;
  }
  if (ListPxeHandles(PxeBaseCodeVariantProtocolGuid, u"PXE Base Code, variant GUID (where the service looks)",
                     ServiceNetwork, &OnCheckedCard, &FirstStale) == 0) {
    if (Origins.CompanionLoaded) {
      PrintAscii(
          "  MISSING: the companion has published none: no PXE Base Code yet (see above), or run connect -r here\n");
    } else if (Origins.ServiceInVolume) {
      PrintAscii(
          "  MISSING: nothing publishes it: put TolvaneNetworkSetup.efi in the firmware volume beside the service\n");
    } else {
      PrintAscii("  MISSING: nothing publishes it: load TolvaneNetworkSetup.efi, as the Driver#### option before the "
                 "service's\n");
    }
    Present = false;
  } else if (FirstStale) {
    // The service would call an interface whose owner has gone.
    Present = false;
  } else if (!OnCheckedCard) {
    // The service would check one card's link and download through another: each failure then misleads.
    PrintAscii("  the service would download through another card than it checks: load TolvaneNetworkSetup.efi, "
               "which publishes the checked card's first\n");
    Present = false;
  }
  return Present;
}

/* 4. The companion, and the image it was loaded from. */
bool CheckCompanion(const IMAGE_ORIGINS &Origins) {
  VOID *Mark;
  if (EFI_ERROR(BootServices->LocateProtocol(&TolvaneNetworkSetupProtocolGuid, NULL, &Mark))) {
    Print(
        Origins.ServiceInVolume
            ? u"Network companion: NOT LOADED: put TolvaneNetworkSetup.efi in the firmware volume beside the service\n"
            : u"Network companion: NOT LOADED: add TolvaneNetworkSetup.efi as the first Driver#### option\n");
    return false;
  }
  Print(u"Network companion: loaded from ");
  PrintImageHolding(Mark);
  Print(u"\n");
  return true;
}

/* The server part: the PXE interface the service will use, started, and its reads. */
EFI_STATUS CheckServer(const CHAR16 *ServerText) {
  EFI_IP_ADDRESS Server;
  if (!ParseIpv4Address(ServerText, &Server)) {
    return ReportBadServer(ServerText);
  }
  EFI_PXE_BASE_CODE_PROTOCOL *Pxe;
  if (EFI_ERROR(BootServices->LocateProtocol(&PxeBaseCodeVariantProtocolGuid, NULL, (VOID **)&Pxe)) &&
      EFI_ERROR(BootServices->LocateProtocol(&EfiPxeBaseCodeProtocolGuid, NULL, (VOID **)&Pxe))) {
    Print(u"Server %s: not checked: no PXE Base Code\n", ServerText);
    return ToolOperationFailed;
  }
  return OperationResult(ProbeBlockSizes(Pxe, &Server));
}
} // namespace

EFI_STATUS RunCheck(CHAR16 **Arguments, UINTN Count) {
  EFI_IP_ADDRESS Unused;
  if (Count == 1 && !ParseIpv4Address(Arguments[0], &Unused)) {
    return ReportBadServer(Arguments[0]);
  }
  IMAGE_ORIGINS Origins = {};
  VOID *Found;
  if (!EFI_ERROR(BootServices->LocateProtocol(&ServiceGuid, NULL, &Found))) {
    Origins.ServiceInVolume = IsInFirmwareVolume(Found);
  }
  if (!EFI_ERROR(BootServices->LocateProtocol(&TolvaneNetworkSetupProtocolGuid, NULL, &Found))) {
    Origins.CompanionLoaded = true;
    Origins.CompanionInVolume = IsInFirmwareVolume(Found);
  }
  VOID *ServiceNetwork;
  UINTN Missing = 0;
  Missing += CheckService() ? 0 : 1;
  Missing += CheckCards(&ServiceNetwork, Origins) ? 0 : 1;
  Missing += CheckPxe(ServiceNetwork, Origins) ? 0 : 1;
  Missing += CheckCompanion(Origins) ? 0 : 1;
  if (Missing != 0) {
    Print(u"Check: %d of 4 prerequisites missing: a fetch fails\n", Missing);
    return ToolOperationFailed;
  }
  Print(u"Check: every prerequisite is present\n");
  return Count == 1 ? CheckServer(Arguments[0]) : EFI_SUCCESS;
}
