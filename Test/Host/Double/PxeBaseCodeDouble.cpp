/* The scriptable PXE Base Code interface of the firmware double. */
#include "Double/PxeBaseCodeDouble.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace FirmwareDouble {

namespace {
// The smallest block size a TFTP client may ask for.
constexpr UINTN MinimumBlockSize = 512;
} // namespace

std::string PxeOperationName(PxeOperation Operation) {
  switch (Operation) {
  case PxeOperation::Start:
    return "Start";
  case PxeOperation::Dhcp:
    return "Dhcp";
  case PxeOperation::Mtftp:
    return "Mtftp";
  case PxeOperation::SetParameters:
    return "SetParameters";
  }
  return "?";
}

PxeBaseCodeDouble::PxeBaseCodeDouble() : ScriptedInterface("PXE") {
  Record.Protocol.Revision = 0x00010000;
  Record.Protocol.Start = Start;
  Record.Protocol.Stop = Stop;
  Record.Protocol.Dhcp = Dhcp;
  Record.Protocol.Mtftp = Mtftp;
  Record.Protocol.SetParameters = SetParameters;
  Record.Protocol.Mode = &Mode;
}

std::vector<const MtftpArguments *> PxeBaseCodeDouble::MtftpCalls() const {
  std::vector<const MtftpArguments *> Result;
  for (const auto &Call : Calls) {
    if (Call.Operation == PxeOperation::Mtftp) {
      Result.push_back(&Call.Mtftp);
    }
  }
  return Result;
}

PxeCall &PxeBaseCodeDouble::BeginCall(PxeOperation Operation, EFI_PXE_BASE_CODE_PROTOCOL *This, BOOLEAN Flag) {
  PxeCall Call{};
  Call.Operation = Operation;
  Call.This = This;
  Call.Flag = Flag;
  Call.StartedBefore = Mode.Started != FALSE;
  return LogCall(PxeOperationName(Operation), Call);
}

EFI_STATUS EFIAPI PxeBaseCodeDouble::Start(EFI_PXE_BASE_CODE_PROTOCOL *This, BOOLEAN UseIpv6) {
  PxeBaseCodeDouble &Self = Of(This);
  PxeCall &Call = Self.BeginCall(PxeOperation::Start, This, UseIpv6);
  return Self.Answer(Call, [&Self, UseIpv6]() -> EFI_STATUS {
    if (Self.Mode.Started) {
      return EFI_ALREADY_STARTED;
    }
    if (UseIpv6 && !Self.Mode.Ipv6Supported) {
      return EFI_UNSUPPORTED;
    }
    Self.Mode.Started = TRUE;
    Self.Mode.UsingIpv6 = UseIpv6;
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI PxeBaseCodeDouble::Stop(EFI_PXE_BASE_CODE_PROTOCOL *This) {
  // Not scripted: the driver never stops the interface; the event lets a test see that it did not.
  PxeBaseCodeDouble &Self = Of(This);
  if (Firmware *Active = Firmware::Current()) {
    Active->Record("PXE.Stop");
  }
  Self.Mode.Started = FALSE;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI PxeBaseCodeDouble::Dhcp(EFI_PXE_BASE_CODE_PROTOCOL *This, BOOLEAN SortOffers) {
  PxeBaseCodeDouble &Self = Of(This);
  PxeCall &Call = Self.BeginCall(PxeOperation::Dhcp, This, SortOffers);
  return Self.Answer(Call, [&Self]() -> EFI_STATUS {
    if (!Self.Mode.Started) {
      return EFI_NOT_STARTED;
    }
    EFI_STATUS Scripted = EFI_SUCCESS;
    if (!Self.DhcpScript.empty()) {
      Scripted = Self.DhcpScript.front();
      Self.DhcpScript.pop_front();
    }
    if (EFI_ERROR(Scripted)) {
      return Scripted;
    }
    Self.Mode.DhcpDiscoverValid = TRUE;
    Self.Mode.DhcpAckReceived = TRUE;
    if (Self.DhcpAddress) {
      Self.Mode.StationIp = *Self.DhcpAddress;
    }
    return Scripted;
  });
}

EFI_STATUS PxeBaseCodeDouble::Transfer(const MtftpArguments &Arguments, VOID *BufferPtr, UINT64 *BufferSize) {
  if (!Mode.Started) {
    return EFI_NOT_STARTED;
  }
  if (BufferSize == nullptr || Arguments.ServerIp == nullptr || Arguments.FilenameIsNull) {
    return EFI_INVALID_PARAMETER;
  }
  if (Arguments.BlockSize != nullptr && *Arguments.BlockSize < MinimumBlockSize) {
    return EFI_INVALID_PARAMETER;
  }
  if (Arguments.Operation != EFI_PXE_BASE_CODE_TFTP_GET_FILE_SIZE &&
      Arguments.Operation != EFI_PXE_BASE_CODE_TFTP_READ_FILE) {
    return EFI_UNSUPPORTED;
  }
  if (Arguments.Operation == EFI_PXE_BASE_CODE_TFTP_READ_FILE && BufferPtr == nullptr && !Arguments.DontUseBuffer) {
    return EFI_INVALID_PARAMETER;
  }
  auto Found = Files.find(Arguments.Filename);
  if (Found == Files.end()) {
    Mode.TftpErrorReceived = TRUE;
    Mode.TftpError.ErrorCode = 1; // file not found
    std::strncpy(Mode.TftpError.ErrorString, "File not found", sizeof(Mode.TftpError.ErrorString) - 1);
    return EFI_TFTP_ERROR;
  }
  const std::vector<UINT8> &Contents = Found->second;
  UINT64 FileSize = Contents.size();
  if (Arguments.Operation == EFI_PXE_BASE_CODE_TFTP_GET_FILE_SIZE || Arguments.DontUseBuffer) {
    *BufferSize = FileSize;
    return EFI_SUCCESS;
  }
  UINT64 Capacity = *BufferSize;
  if (Capacity < FileSize) {
    *BufferSize = FileSize;
    return EFI_BUFFER_TOO_SMALL;
  }
  UINT64 Delivered = FileSize;
  UINT64 Reported = FileSize;
  if (ReadReports) {
    Reported = *ReadReports;
    Delivered = std::min({Reported, Capacity, FileSize});
  }
  UINTN Block = MinimumBlockSize;
  if (GrantedBlockSize) {
    Block = std::min(*GrantedBlockSize, Arguments.BlockSizeIsNull ? MinimumBlockSize : Arguments.BlockSizeValue);
  }
  bool Lost = CardLosesBlocksAbove && Block > *CardLosesBlocksAbove && FileSize > *CardLosesBlocksAbove;
  ShowReadPackets(FileSize, Block, Lost);
  if (Lost) {
    return EFI_TIMEOUT;
  }
  std::copy_n(Contents.begin(), Delivered, static_cast<UINT8 *>(BufferPtr));
  *BufferSize = Reported;
  if (NegotiatedBlockSize && Arguments.BlockSize != nullptr) {
    *Arguments.BlockSize = *NegotiatedBlockSize;
  }
  return EFI_SUCCESS;
}

void PxeBaseCodeDouble::ShowReadPackets(UINT64 FileSize, UINTN Block, bool AcknowledgementOnly) {
  if (!Mode.MakeCallbacks || Callback == nullptr) {
    return;
  }
  // Each packet in a buffer of at least the packet record's size, its own length told.
  auto Show = [this](std::vector<UINT8> Packet) {
    UINT32 Length = static_cast<UINT32>(Packet.size());
    Packet.resize(std::max(Packet.size(), sizeof(EFI_PXE_BASE_CODE_PACKET)));
    Callback->Callback(Callback, EFI_PXE_BASE_CODE_FUNCTION_MTFTP, TRUE, Length,
                       reinterpret_cast<EFI_PXE_BASE_CODE_PACKET *>(Packet.data()));
  };
  if (GrantedBlockSize) {
    std::string Options =
        std::string("tsize") + '\0' + std::to_string(FileSize) + '\0' + "blksize" + '\0' + std::to_string(Block) + '\0';
    std::vector<UINT8> Acknowledgement{0, 6};
    Acknowledgement.insert(Acknowledgement.end(), Options.begin(), Options.end());
    Show(Acknowledgement);
  }
  if (AcknowledgementOnly) {
    return;
  }
  // Every block full but the last, which is shorter (empty when the size is a multiple of the block).
  for (UINT64 Sent = 0, Number = 1;; Number++) {
    UINT64 Length = std::min<UINT64>(Block, FileSize - Sent);
    std::vector<UINT8> Data(4 + Length, 0);
    Data[1] = 3;
    Data[2] = static_cast<UINT8>(Number >> 8);
    Data[3] = static_cast<UINT8>(Number);
    Show(Data);
    Sent += Length;
    if (Length < Block) {
      return;
    }
  }
}

EFI_STATUS EFIAPI PxeBaseCodeDouble::SetParameters(EFI_PXE_BASE_CODE_PROTOCOL *This, BOOLEAN *, BOOLEAN *, UINT8 *,
                                                   UINT8 *, BOOLEAN *NewMakeCallback) {
  PxeBaseCodeDouble &Self = Of(This);
  PxeCall &Call = Self.BeginCall(PxeOperation::SetParameters, This, NewMakeCallback != nullptr && *NewMakeCallback);
  return Self.Answer(Call, [&Self, This, NewMakeCallback]() -> EFI_STATUS {
    if (NewMakeCallback == nullptr) {
      return EFI_SUCCESS;
    }
    EFI_PXE_BASE_CODE_CALLBACK_PROTOCOL *Found = nullptr;
    if (*NewMakeCallback && Self.RefusesCallbacks) {
      return EFI_UNSUPPORTED;
    }
    if (*NewMakeCallback) {
      // As the UEFI specification asks: the callback on the handle of this interface, or no callbacks at all.
      const EFI_GUID PxeGuid = EFI_PXE_BASE_CODE_PROTOCOL_GUID;
      Firmware *Active = Firmware::Current();
      for (EFI_HANDLE Handle : Active != nullptr ? Active->AllHandleList() : std::vector<EFI_HANDLE>{}) {
        if (Active->InterfaceOn(Handle, PxeGuid) == This) {
          Found = static_cast<EFI_PXE_BASE_CODE_CALLBACK_PROTOCOL *>(
              Active->InterfaceOn(Handle, EfiPxeBaseCodeCallbackProtocolGuid));
        }
      }
      if (Found == nullptr) {
        return EFI_INVALID_PARAMETER;
      }
    }
    Self.Callback = Found;
    Self.Mode.MakeCallbacks = *NewMakeCallback;
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI PxeBaseCodeDouble::Mtftp(EFI_PXE_BASE_CODE_PROTOCOL *This, EFI_PXE_BASE_CODE_TFTP_OPCODE Operation,
                                           VOID *BufferPtr, BOOLEAN Overwrite, UINT64 *BufferSize, UINTN *BlockSize,
                                           EFI_IP_ADDRESS *ServerIp, UINT8 *Filename,
                                           EFI_PXE_BASE_CODE_MTFTP_INFO *Info, BOOLEAN DontUseBuffer) {
  PxeBaseCodeDouble &Self = Of(This);
  PxeCall &Call = Self.BeginCall(PxeOperation::Mtftp, This, FALSE);
  MtftpArguments &Arguments = Call.Mtftp;
  Arguments.Operation = Operation;
  Arguments.BufferPtr = BufferPtr;
  Arguments.BufferPtrIsNull = BufferPtr == nullptr;
  Arguments.Overwrite = Overwrite;
  Arguments.BufferSize = BufferSize;
  Arguments.BufferSizeIsNull = BufferSize == nullptr;
  Arguments.BufferSizeIn = BufferSize != nullptr ? *BufferSize : 0;
  Arguments.BlockSize = BlockSize;
  Arguments.BlockSizeIsNull = BlockSize == nullptr;
  Arguments.BlockSizeValue = BlockSize != nullptr ? *BlockSize : 0;
  Arguments.ServerIp = ServerIp;
  Arguments.ServerIpBytes = {};
  if (ServerIp != nullptr) {
    std::memcpy(Arguments.ServerIpBytes.data(), ServerIp, sizeof(EFI_IP_ADDRESS));
  }
  Arguments.FilenameIsNull = Filename == nullptr;
  if (Filename != nullptr) {
    Arguments.Filename = reinterpret_cast<const char *>(Filename);
  }
  Arguments.Info = Info;
  Arguments.DontUseBuffer = DontUseBuffer;
  EFI_STATUS Status = Self.Answer(Call, [&Self, &Arguments, BufferPtr, BufferSize]() -> EFI_STATUS {
    return Self.Transfer(Arguments, BufferPtr, BufferSize);
  });
  Arguments.BufferSizeOut = BufferSize != nullptr ? *BufferSize : 0;
  return Status;
}

} // namespace FirmwareDouble
