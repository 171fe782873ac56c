/* The firmware's requests, patience and statuses, and how a transfer's course maps onto them. */
#include "FirmwareModel.h"

#include <cstdio>
#include <cstdlib>

#include "Protocol/TolvaneService.h"
#include "Uefi/Uefi.h"

namespace RivariCheck {

namespace {

/* What OVMF's Mtftp returned for a malformed packet and an unknown opcode: a value the UEFI specification names not. */
constexpr uint64_t OvmfMalformedAnswer = 0x8000000000000067;

/* Captured from OVMF's requests in the firmware scenarios: the size query ends with error 8 after the acknowledgement.
 */
constexpr FirmwareOption SizeQueryOptions[] = {{"tsize", "0"}, {"windowsize", "4"}};
#define TOLVANE_DECIMAL_TEXT(Value) #Value
#define TOLVANE_DECIMAL(Value) TOLVANE_DECIMAL_TEXT(Value)
/* The read asks for no size; the block size is the one the driver passes. */
constexpr FirmwareOption ReadOptions[] = {{"blksize", TOLVANE_DECIMAL(TOLVANE_TFTP_BLOCK_SIZE)}, {"windowsize", "4"}};

/*
 * Several faults may show the same behaviour; the rows of one behaviour agree on the status. Scenario
 * names a run of the firmware stage (server-NAME: a row of Test/Firmware/Scenarios/10-server-faults).
 */
constexpr FirmwareAnswerRow Answers[] = {
    {FirmwareRequest::SizeQuery, ServerBehaviour::Answered, EFI_SUCCESS, "none", "03-example"},
    {FirmwareRequest::SizeQuery, ServerBehaviour::Answered, EFI_SUCCESS, "unasked-option", "server-unasked-option"},
    {FirmwareRequest::SizeQuery, ServerBehaviour::DataAtOnce, EFI_PROTOCOL_ERROR, "ignore-options",
     "server-ignore-options"},
    {FirmwareRequest::SizeQuery, ServerBehaviour::OptionsWithoutSize, EFI_PROTOCOL_ERROR, "no-size", nullptr},
    {FirmwareRequest::SizeQuery, ServerBehaviour::ErrorPacket, EFI_TFTP_ERROR, "size-not-found",
     "server-size-not-found"},
    {FirmwareRequest::SizeQuery, ServerBehaviour::ErrorPacket, EFI_TFTP_ERROR, "refuse-windowsize",
     "server-refuse-windowsize"},
    {FirmwareRequest::SizeQuery, ServerBehaviour::Silent, EFI_TIMEOUT, "silent", nullptr},
    {FirmwareRequest::SizeQuery, ServerBehaviour::MalformedPacket, OvmfMalformedAnswer, "malformed-packet", nullptr},
    {FirmwareRequest::SizeQuery, ServerBehaviour::UnknownOpcode, OvmfMalformedAnswer, "unknown-opcode", nullptr},
    {FirmwareRequest::SizeQuery, ServerBehaviour::UnexpectedPacket, EFI_PROTOCOL_ERROR, "unexpected-packet", nullptr},
    {FirmwareRequest::SizeQuery, ServerBehaviour::OptionOutOfRange, EFI_PROTOCOL_ERROR, "option-out-of-range", nullptr},
    {FirmwareRequest::Read, ServerBehaviour::Answered, EFI_SUCCESS, "none", "03-example"},
    {FirmwareRequest::Read, ServerBehaviour::Answered, EFI_SUCCESS, "double-size", "server-double-size"},
    {FirmwareRequest::Read, ServerBehaviour::Answered, EFI_SUCCESS, "none", "server-lockstep-large"},
    {FirmwareRequest::Read, ServerBehaviour::Answered, EFI_SUCCESS, "windowsize-4", "server-windowsize-4"},
    {FirmwareRequest::Read, ServerBehaviour::Answered, EFI_SUCCESS, "unasked-option", "server-unasked-option"},
    {FirmwareRequest::Read, ServerBehaviour::Answered, EFI_SUCCESS, "stall-10s", "server-stall-10s"},
    {FirmwareRequest::Read, ServerBehaviour::MoreThanAnswered, EFI_BUFFER_TOO_SMALL, "half-size", "server-half-size"},
    {FirmwareRequest::Read, ServerBehaviour::BlockSizeIgnored, EFI_SUCCESS, "ignore-blksize", "server-ignore-blksize"},
    {FirmwareRequest::Read, ServerBehaviour::DataAtOnce, EFI_SUCCESS, "ignore-options", nullptr},
    {FirmwareRequest::Read, ServerBehaviour::ErrorPacket, EFI_TFTP_ERROR, "refuse-blksize", "server-refuse-blksize"},
    {FirmwareRequest::Read, ServerBehaviour::Silent, EFI_TIMEOUT, "silent-after-two", "server-silent-after-two"},
    {FirmwareRequest::Read, ServerBehaviour::Silent, EFI_TIMEOUT, "stall-30s", "server-stall-30s"},
    {FirmwareRequest::Read, ServerBehaviour::MalformedPacket, OvmfMalformedAnswer, "malformed-packet",
     "server-malformed-packet"},
    {FirmwareRequest::Read, ServerBehaviour::UnknownOpcode, OvmfMalformedAnswer, "unknown-opcode",
     "server-unknown-opcode"},
    {FirmwareRequest::Read, ServerBehaviour::UnexpectedPacket, EFI_PROTOCOL_ERROR, "unexpected-packet", nullptr},
    {FirmwareRequest::Read, ServerBehaviour::OptionOutOfRange, EFI_PROTOCOL_ERROR, "option-out-of-range", nullptr},
};

/* The behaviour a transfer that ended on a fault or a silence shows; none for the check's own limits. */
std::optional<ServerBehaviour> FailureBehaviour(const TransferResult &Result) {
  switch (Result.End) {
  case TransferEnd::ServerError:
    return ServerBehaviour::ErrorPacket;
  case TransferEnd::Timeout:
    return Result.SilenceCut ? std::nullopt : std::optional(ServerBehaviour::Silent);
  case TransferEnd::BadPacket:
    return ServerBehaviour::MalformedPacket;
  case TransferEnd::UnknownOpcode:
    return ServerBehaviour::UnknownOpcode;
  case TransferEnd::UnexpectedPacket:
    return ServerBehaviour::UnexpectedPacket;
  case TransferEnd::BadOptions:
    return ServerBehaviour::OptionOutOfRange;
  default:
    return std::nullopt;
  }
}

} // namespace

std::span<const FirmwareOption> FirmwareOptions(FirmwareRequest Request) {
  return Request == FirmwareRequest::SizeQuery ? std::span<const FirmwareOption>(SizeQueryOptions)
                                               : std::span<const FirmwareOption>(ReadOptions);
}

std::vector<TftpOption> FirmwareTftpOptions(FirmwareRequest Request) {
  std::vector<TftpOption> Options;
  for (const FirmwareOption &Option : FirmwareOptions(Request)) {
    Options.emplace_back(Option.Name, Option.Value);
  }
  return Options;
}

std::vector<uint8_t> FirmwareRequestPacket(FirmwareRequest Request, const std::string &FileName) {
  return ReadRequestPacket(FileName, FirmwareTftpOptions(Request));
}

std::span<const FirmwareAnswerRow> FirmwareAnswers() { return Answers; }

const FirmwareAnswerRow &FirmwareAnswerFor(FirmwareRequest Request, ServerBehaviour Behaviour) {
  for (const FirmwareAnswerRow &Row : Answers) {
    if (Row.Request == Request && Row.Behaviour == Behaviour) {
      return Row;
    }
  }
  std::fprintf(stderr, "rivari-check: the firmware model has no row for a behaviour\n");
  std::abort();
}

std::optional<ServerBehaviour> ObservedBehaviour(FirmwareRequest Request, const TransferResult &Result,
                                                 uint64_t Capacity) {
  if (Request == FirmwareRequest::SizeQuery) {
    if (Result.End == TransferEnd::SizeAnswered) {
      return Result.SizeAnswer ? ServerBehaviour::Answered : ServerBehaviour::OptionsWithoutSize;
    }
    if (Result.End == TransferEnd::DataInsteadOfSize) {
      return ServerBehaviour::DataAtOnce;
    }
    return FailureBehaviour(Result);
  }
  if (Result.End != TransferEnd::Complete) {
    return FailureBehaviour(Result);
  }
  if (Result.Received > Capacity) {
    return ServerBehaviour::MoreThanAnswered;
  }
  if (Result.DataAtOnce) {
    return ServerBehaviour::DataAtOnce;
  }
  return Result.BlockSizeAnswer ? ServerBehaviour::Answered : ServerBehaviour::BlockSizeIgnored;
}

TransferRequest FirmwareTransfer(FirmwareRequest Request, const std::string &FileName,
                                 std::optional<std::chrono::milliseconds> MostSilence) {
  TransferRequest Transfer;
  Transfer.FileName = FileName;
  Transfer.Options = FirmwareTftpOptions(Request);
  Transfer.SizeOnly = Request == FirmwareRequest::SizeQuery;
  Transfer.ResendInterval = FirmwareResendInterval;
  Transfer.Sends = FirmwareSends;
  // A limit the firmware's patience never reaches changes nothing.
  if (MostSilence && *MostSilence < FirmwarePatience) {
    Transfer.MostSilence = MostSilence;
  }
  return Transfer;
}

} // namespace RivariCheck
