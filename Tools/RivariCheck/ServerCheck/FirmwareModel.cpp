/* The firmware's requests, patience and statuses, and how a transfer's course maps onto them. */
#include "FirmwareModel.h"

#include <cstdio>
#include <cstdlib>

#include "Protocol/TolvaneService.h"
#include "Uefi/Uefi.h"

namespace RivariCheck {

namespace {

/* Captured from OVMF's requests in the firmware scenarios: the size query ends with error 8 after the acknowledgement.
 */
constexpr FirmwareOption SizeQueryOptions[] = {{"tsize", "0"}, {"windowsize", "4"}};
#define TOLVANE_DECIMAL_TEXT(Value) #Value
#define TOLVANE_DECIMAL(Value) TOLVANE_DECIMAL_TEXT(Value)
/* The read asks for no size; the block size is the one the driver passes. */
constexpr FirmwareOption ReadOptions[] = {{"blksize", TOLVANE_DECIMAL(TOLVANE_TFTP_BLOCK_SIZE)}, {"windowsize", "4"}};

/* Several faults may show the same behaviour; the rows of one behaviour agree on the status. */
constexpr FirmwareAnswerRow Answers[] = {
    {FirmwareRequest::SizeQuery, ServerBehaviour::Answered, EFI_SUCCESS, "none", "03-example"},
    {FirmwareRequest::SizeQuery, ServerBehaviour::DataAtOnce, EFI_PROTOCOL_ERROR, "ignore-options",
     "10-server-ignore-options"},
    {FirmwareRequest::SizeQuery, ServerBehaviour::OptionsWithoutSize, EFI_PROTOCOL_ERROR, "no-size", nullptr},
    {FirmwareRequest::SizeQuery, ServerBehaviour::ErrorPacket, EFI_TFTP_ERROR, "size-not-found",
     "13-server-size-not-found"},
    {FirmwareRequest::SizeQuery, ServerBehaviour::ErrorPacket, EFI_TFTP_ERROR, "refuse-windowsize", nullptr},
    {FirmwareRequest::SizeQuery, ServerBehaviour::Silent, EFI_TIMEOUT, "stall-30s", nullptr},
    {FirmwareRequest::SizeQuery, ServerBehaviour::MalformedPacket, EFI_PROTOCOL_ERROR, "malformed-packet", nullptr},
    {FirmwareRequest::SizeQuery, ServerBehaviour::UnknownOpcode, EFI_PROTOCOL_ERROR, "unknown-opcode", nullptr},
    {FirmwareRequest::SizeQuery, ServerBehaviour::UnexpectedPacket, EFI_PROTOCOL_ERROR, "unexpected-packet", nullptr},
    {FirmwareRequest::SizeQuery, ServerBehaviour::OptionNotAskedFor, EFI_PROTOCOL_ERROR, "unasked-option", nullptr},
    {FirmwareRequest::Read, ServerBehaviour::Answered, EFI_SUCCESS, "none", "03-example"},
    {FirmwareRequest::Read, ServerBehaviour::Answered, EFI_SUCCESS, "windowsize-4", nullptr},
    {FirmwareRequest::Read, ServerBehaviour::Answered, EFI_SUCCESS, "stall-10s", nullptr},
    {FirmwareRequest::Read, ServerBehaviour::MoreThanAnswered, EFI_BUFFER_TOO_SMALL, "half-size",
     "11-server-half-size"},
    {FirmwareRequest::Read, ServerBehaviour::BlockSizeIgnored, EFI_SUCCESS, "ignore-blksize",
     "15-server-ignore-blksize"},
    {FirmwareRequest::Read, ServerBehaviour::DataAtOnce, EFI_SUCCESS, "ignore-options", nullptr},
    {FirmwareRequest::Read, ServerBehaviour::ErrorPacket, EFI_TFTP_ERROR, "refuse-blksize", "16-server-refuse-blksize"},
    {FirmwareRequest::Read, ServerBehaviour::Silent, EFI_TIMEOUT, "silent-after-two", "14-server-silent-after-two"},
    {FirmwareRequest::Read, ServerBehaviour::MalformedPacket, EFI_PROTOCOL_ERROR, "malformed-packet", nullptr},
    {FirmwareRequest::Read, ServerBehaviour::UnknownOpcode, EFI_PROTOCOL_ERROR, "unknown-opcode", nullptr},
    {FirmwareRequest::Read, ServerBehaviour::UnexpectedPacket, EFI_PROTOCOL_ERROR, "unexpected-packet", nullptr},
    {FirmwareRequest::Read, ServerBehaviour::OptionNotAskedFor, EFI_PROTOCOL_ERROR, "unasked-option", nullptr},
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
    return ServerBehaviour::OptionNotAskedFor;
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
