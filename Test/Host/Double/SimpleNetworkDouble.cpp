/* The scriptable Simple Network interface of the firmware double. */
#include "Double/SimpleNetworkDouble.h"

#include <algorithm>
#include <cstddef>

namespace FirmwareDouble {

std::string SnpOperationName(SnpOperation Operation) {
  switch (Operation) {
  case SnpOperation::Start:
    return "Start";
  case SnpOperation::Stop:
    return "Stop";
  case SnpOperation::Initialize:
    return "Initialize";
  case SnpOperation::Shutdown:
    return "Shutdown";
  case SnpOperation::ReceiveFilters:
    return "ReceiveFilters";
  }
  return "?";
}

SimpleNetworkDouble::SimpleNetworkDouble() : ScriptedInterface("SNP") {
  Record.Protocol.Revision = 0x00010000;
  Record.Protocol.Start = Start;
  Record.Protocol.Stop = Stop;
  Record.Protocol.Initialize = Initialize;
  Record.Protocol.Shutdown = Shutdown;
  Record.Protocol.ReceiveFilters = ReceiveFilters;
  Record.Protocol.Mode = &Mode;
  Mode.State = EfiSimpleNetworkStopped;
  Mode.HwAddressSize = 6;
  Mode.MediaHeaderSize = 14;
  Mode.MaxPacketSize = 1500;
  Mode.ReceiveFilterMask = 0x1F;
  Mode.MaxMCastFilterCount = MAX_MCAST_FILTER_CNT;
  Mode.MediaPresentSupported = TRUE;
}

void SimpleNetworkDouble::SetMulticast(const std::vector<EFI_MAC_ADDRESS> &Entries) {
  Mode.MCastFilterCount = static_cast<UINT32>(std::min<size_t>(Entries.size(), MAX_MCAST_FILTER_CNT));
  std::copy_n(Entries.begin(), Mode.MCastFilterCount, Mode.MCastFilter);
}

std::vector<std::string> SimpleNetworkDouble::OperationNames() const {
  std::vector<std::string> Result;
  for (const auto &Call : Calls) {
    Result.push_back(SnpOperationName(Call.Operation));
  }
  return Result;
}

SnpCall &SimpleNetworkDouble::BeginCall(SnpOperation Operation, EFI_SIMPLE_NETWORK_PROTOCOL *This) {
  SnpCall Call{};
  Call.Operation = Operation;
  Call.This = This;
  Call.StateBefore = Mode.State;
  return LogCall(SnpOperationName(Operation), Call);
}

template <typename TransitionType> EFI_STATUS SimpleNetworkDouble::Answer(SnpCall &Call, TransitionType Transition) {
  const EFI_STATUS Status = ScriptedInterface::Answer(Call, Transition);
  Call.StateAfter = Mode.State;
  return Status;
}

EFI_STATUS EFIAPI SimpleNetworkDouble::Start(EFI_SIMPLE_NETWORK_PROTOCOL *This) {
  SimpleNetworkDouble &Self = Of(This);
  SnpCall &Call = Self.BeginCall(SnpOperation::Start, This);
  return Self.Answer(Call, [&Self]() -> EFI_STATUS {
    if (Self.Mode.State != EfiSimpleNetworkStopped) {
      return EFI_ALREADY_STARTED;
    }
    Self.Mode.State = EfiSimpleNetworkStarted;
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI SimpleNetworkDouble::Stop(EFI_SIMPLE_NETWORK_PROTOCOL *This) {
  SimpleNetworkDouble &Self = Of(This);
  SnpCall &Call = Self.BeginCall(SnpOperation::Stop, This);
  return Self.Answer(Call, [&Self]() -> EFI_STATUS {
    if (Self.Mode.State == EfiSimpleNetworkStopped) {
      return EFI_NOT_STARTED;
    }
    if (Self.Mode.State != EfiSimpleNetworkStarted) {
      return EFI_DEVICE_ERROR;
    }
    Self.Mode.State = EfiSimpleNetworkStopped;
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI SimpleNetworkDouble::Initialize(EFI_SIMPLE_NETWORK_PROTOCOL *This, UINTN ExtraRxBufferSize,
                                                  UINTN ExtraTxBufferSize) {
  SimpleNetworkDouble &Self = Of(This);
  SnpCall &Call = Self.BeginCall(SnpOperation::Initialize, This);
  Call.ExtraRxBufferSize = ExtraRxBufferSize;
  Call.ExtraTxBufferSize = ExtraTxBufferSize;
  return Self.Answer(Call, [&Self]() -> EFI_STATUS {
    if (Self.Mode.State == EfiSimpleNetworkStopped) {
      return EFI_NOT_STARTED;
    }
    if (Self.Mode.State != EfiSimpleNetworkStarted) {
      return EFI_DEVICE_ERROR;
    }
    Self.Mode.State = EfiSimpleNetworkInitialized;
    Self.Mode.MediaPresent = Self.LinkMedia;
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI SimpleNetworkDouble::Shutdown(EFI_SIMPLE_NETWORK_PROTOCOL *This) {
  SimpleNetworkDouble &Self = Of(This);
  SnpCall &Call = Self.BeginCall(SnpOperation::Shutdown, This);
  return Self.Answer(Call, [&Self]() -> EFI_STATUS {
    if (Self.Mode.State == EfiSimpleNetworkStopped) {
      return EFI_NOT_STARTED;
    }
    if (Self.Mode.State != EfiSimpleNetworkInitialized) {
      return EFI_DEVICE_ERROR;
    }
    // The device is reset: it forgets its receive filters and multicast list.
    Self.Mode.State = EfiSimpleNetworkStarted;
    Self.Mode.ReceiveFilterSetting = 0;
    Self.Mode.MCastFilterCount = 0;
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI SimpleNetworkDouble::ReceiveFilters(EFI_SIMPLE_NETWORK_PROTOCOL *This, UINT32 Enable, UINT32 Disable,
                                                      BOOLEAN ResetMCastFilter, UINTN MCastFilterCnt,
                                                      EFI_MAC_ADDRESS *MCastFilter) {
  SimpleNetworkDouble &Self = Of(This);
  SnpCall &Call = Self.BeginCall(SnpOperation::ReceiveFilters, This);
  Call.Enable = Enable;
  Call.Disable = Disable;
  Call.ResetMCastFilter = ResetMCastFilter;
  Call.MCastFilterCnt = MCastFilterCnt;
  Call.MCastFilter = MCastFilter;
  if (MCastFilter != nullptr) {
    Call.MCastEntries.assign(MCastFilter, MCastFilter + std::min<UINTN>(MCastFilterCnt, MAX_MCAST_FILTER_CNT));
    if (Firmware *Active = Firmware::Current()) {
      Call.MCastFilterIsPoolBlock = Active->IsLiveBlock(MCastFilter);
      Call.MCastFilterBlockSize = Active->BlockSize(MCastFilter);
    }
  }
  return Self.Answer(Call, [&]() -> EFI_STATUS {
    if (Self.Mode.State == EfiSimpleNetworkStopped) {
      return EFI_NOT_STARTED;
    }
    if (Self.Mode.State != EfiSimpleNetworkInitialized) {
      return EFI_DEVICE_ERROR;
    }
    if (((Enable | Disable) & ~Self.Mode.ReceiveFilterMask) != 0) {
      return EFI_INVALID_PARAMETER;
    }
    if (!ResetMCastFilter &&
        (MCastFilterCnt > Self.Mode.MaxMCastFilterCount || (MCastFilterCnt != 0 && MCastFilter == nullptr))) {
      return EFI_INVALID_PARAMETER;
    }
    Self.Mode.ReceiveFilterSetting = (Self.Mode.ReceiveFilterSetting | Enable) & ~Disable;
    if (ResetMCastFilter) {
      Self.Mode.MCastFilterCount = 0;
    } else {
      Self.Mode.MCastFilterCount = static_cast<UINT32>(MCastFilterCnt);
      std::copy_n(MCastFilter, MCastFilterCnt, Self.Mode.MCastFilter);
    }
    return EFI_SUCCESS;
  });
}

} // namespace FirmwareDouble
