/*
 * A scriptable EFI_SIMPLE_NETWORK_PROTOCOL for host tests. Its Mode is live:
 * tests set the state, filters, multicast list and media flags before a
 * call and read them afterwards. The state machine answers calls made in
 * the wrong state as firmware does; Shutdown resets the device, so it
 * forgets its receive filters and multicast list. Every call is logged with all of its
 * arguments, here and (by name, "SNP.Start") in the firmware's event log.
 */
#ifndef TOLVANE_TEST_SIMPLE_NETWORK_DOUBLE_H
#define TOLVANE_TEST_SIMPLE_NETWORK_DOUBLE_H

#include <string>
#include <vector>

#include "Double/ScriptedInterface.h"
#include "Protocol/SimpleNetwork.h"

namespace FirmwareDouble {

enum class SnpOperation { Start, Stop, Initialize, Shutdown, ReceiveFilters };

std::string SnpOperationName(SnpOperation Operation);

struct SnpCall {
  SnpOperation Operation;
  EFI_SIMPLE_NETWORK_PROTOCOL *This;
  UINT32 StateBefore;
  UINT32 StateAfter;
  EFI_STATUS Status;
  // Initialize
  UINTN ExtraRxBufferSize = 0;
  UINTN ExtraTxBufferSize = 0;
  // ReceiveFilters
  UINT32 Enable = 0;
  UINT32 Disable = 0;
  BOOLEAN ResetMCastFilter = FALSE;
  UINTN MCastFilterCnt = 0;
  const EFI_MAC_ADDRESS *MCastFilter = nullptr;
  std::vector<EFI_MAC_ADDRESS> MCastEntries; // the entries the list held at the call (at most 16 read)
  bool MCastFilterIsPoolBlock = false;       // the list was a live pool block at the call
  size_t MCastFilterBlockSize = 0;           // its size when it was
};

class SimpleNetworkDouble
    : public ScriptedInterface<SimpleNetworkDouble, EFI_SIMPLE_NETWORK_PROTOCOL, SnpOperation, SnpCall> {
public:
  SimpleNetworkDouble();

  /* Publishes the interface under the published GUID, or under Guid. */
  EFI_HANDLE Publish(Firmware &Target, const EFI_GUID &Guid = EFI_SIMPLE_NETWORK_PROTOCOL_GUID) {
    return ScriptedInterface::Publish(Target, Guid);
  }

  // Live mode: State, ReceiveFilterMask, ReceiveFilterSetting, MCastFilter..., MediaPresentSupported, MediaPresent.
  EFI_SIMPLE_NETWORK_MODE Mode{};
  // The byte that Initialize reads from the link into Mode.MediaPresent.
  BOOLEAN LinkMedia = TRUE;

  void SetState(EFI_SIMPLE_NETWORK_STATE State) { Mode.State = State; }
  void SetMulticast(const std::vector<EFI_MAC_ADDRESS> &Entries);

  std::vector<std::string> OperationNames() const;

private:
  static EFI_STATUS EFIAPI Start(EFI_SIMPLE_NETWORK_PROTOCOL *This);
  static EFI_STATUS EFIAPI Stop(EFI_SIMPLE_NETWORK_PROTOCOL *This);
  static EFI_STATUS EFIAPI Initialize(EFI_SIMPLE_NETWORK_PROTOCOL *This, UINTN ExtraRxBufferSize,
                                      UINTN ExtraTxBufferSize);
  static EFI_STATUS EFIAPI Shutdown(EFI_SIMPLE_NETWORK_PROTOCOL *This);
  static EFI_STATUS EFIAPI ReceiveFilters(EFI_SIMPLE_NETWORK_PROTOCOL *This, UINT32 Enable, UINT32 Disable,
                                          BOOLEAN ResetMCastFilter, UINTN MCastFilterCnt, EFI_MAC_ADDRESS *MCastFilter);

  SnpCall &BeginCall(SnpOperation Operation, EFI_SIMPLE_NETWORK_PROTOCOL *This);
  /* The shared answer, then the state the call left behind. */
  template <typename TransitionType> EFI_STATUS Answer(SnpCall &Call, TransitionType Transition);
};

} // namespace FirmwareDouble

#endif
