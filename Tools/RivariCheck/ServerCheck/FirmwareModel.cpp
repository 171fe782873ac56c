/* The firmware's requests, patience and statuses, and how a transfer's course maps onto them. */
#include "FirmwareModel.h"

#include <cstdio>
#include <cstdlib>

#include "Protocol/TolvaneService.h"
#include "Uefi/Uefi.h"

namespace RivariCheck {

namespace {

#include "FirmwareAnswers.inc"

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
  case TransferEnd::PortUnreachable:
    return ServerBehaviour::PortUnreachable;
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

std::span<const CapturedRequest> CapturedRequests() { return CapturedRequestRows; }

const char *BehaviourName(ServerBehaviour Behaviour) { return ServerBehaviourNames[static_cast<int>(Behaviour)]; }

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
