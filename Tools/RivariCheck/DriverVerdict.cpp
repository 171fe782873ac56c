/*
 * What the firmware's TFTP returns for what a server did, and what the
 * driver's fetch and numbered-file download make of it. The firmware's
 * answers are those measured with OVMF against servers with each fault.
 */
#include <cstdio>

#include "Protocol/TolvaneService.h"
#include "ServerReport.h"
#include "Uefi/Uefi.h"

namespace RivariCheck {

namespace {

constexpr int SizeQueryStep = TOLVANE_FETCH_STEP_SIZE_QUERY;
constexpr int SectionStep = TOLVANE_FETCH_STEP_SECTION;

std::string StatusValue(uint64_t Status) {
  char Value[24];
  std::snprintf(Value, sizeof(Value), "0x%016llX", static_cast<unsigned long long>(Status));
  return Value;
}

/* The answer for a transfer that ended on the server's fault or silence; none of these is a success. */
MtftpAnswer FailedTransfer(const TransferResult &Result) {
  switch (Result.End) {
  case TransferEnd::ServerError:
    return {EFI_TFTP_ERROR, 0, "the server answered " + DescribeTransferEnd(Result)};
  case TransferEnd::Timeout:
    return {EFI_TIMEOUT, 0, "the server went silent (" + DescribeTransferEnd(Result) + ")"};
  case TransferEnd::SendFailed:
  case TransferEnd::TooLarge:
    return {std::nullopt, 0, "the check could not finish: " + DescribeTransferEnd(Result)};
  default:
    return {EFI_PROTOCOL_ERROR, 0, DescribeTransferEnd(Result)};
  }
}

} // namespace

MtftpAnswer SizeQueryAnswer(const TransferResult &Result) {
  if (Result.End == TransferEnd::SizeAnswered && Result.SizeAnswer) {
    return {EFI_SUCCESS, *Result.SizeAnswer, ""};
  }
  if (Result.End == TransferEnd::SizeAnswered) {
    return {EFI_PROTOCOL_ERROR, 0, "the server acknowledged the options without a size"};
  }
  if (Result.End == TransferEnd::DataInsteadOfSize) {
    return {EFI_PROTOCOL_ERROR, 0, "the server ignored the size option and sent data at once"};
  }
  return FailedTransfer(Result);
}

MtftpAnswer ReadAnswer(const TransferResult &Result, uint64_t Capacity) {
  if (Result.End != TransferEnd::Complete) {
    return FailedTransfer(Result);
  }
  if (Result.Received > Capacity) {
    return {EFI_BUFFER_TOO_SMALL, 0,
            "the server sent " + std::to_string(Result.Received) + " bytes, more than the " + std::to_string(Capacity) +
                " its size answer promised"};
  }
  return {EFI_SUCCESS, Result.Received, ""};
}

DriverVerdict FetchVerdict(const MtftpAnswer &SizeQuery, const std::optional<MtftpAnswer> &Read,
                           std::optional<bool> SectionFound) {
  if (SizeQuery.Status != EFI_SUCCESS) {
    return {false, ENCODE_ERROR(SizeQueryStep), SizeQueryStep,
            "the size query of rivari.ini fails: " + SizeQuery.Reason};
  }
  if (!Read || Read->Status != EFI_SUCCESS) {
    const std::string Reason = Read ? Read->Reason : "no read";
    return {false, Read ? Read->Status : std::nullopt, std::nullopt, "the read of rivari.ini fails: " + Reason};
  }
  if (SectionFound == false) {
    return {false, ENCODE_ERROR(SectionStep), SectionStep, "the machine's section is not in the file"};
  }
  return {true, EFI_SUCCESS, std::nullopt, ""};
}

DriverVerdict NumberedFileVerdict(const MtftpAnswer &SizeQuery, const std::optional<MtftpAnswer> &Read) {
  if (SizeQuery.Status != EFI_SUCCESS) {
    return {false, SizeQuery.Status, std::nullopt, "the size query fails: " + SizeQuery.Reason};
  }
  if (Read && Read->Status != EFI_SUCCESS) {
    return {false, Read->Status, std::nullopt, "the read fails: " + Read->Reason};
  }
  return {true, EFI_SUCCESS, std::nullopt, ""};
}

std::string StatusName(uint64_t Status) {
  struct NamedStatus {
    uint64_t Status;
    const char *Name;
  };
  static constexpr NamedStatus Names[] = {
      {EFI_SUCCESS, "EFI_SUCCESS"},
      {EFI_BUFFER_TOO_SMALL, "EFI_BUFFER_TOO_SMALL"},
      {EFI_OUT_OF_RESOURCES, "EFI_OUT_OF_RESOURCES"},
      {EFI_TIMEOUT, "EFI_TIMEOUT"},
      {EFI_TFTP_ERROR, "EFI_TFTP_ERROR"},
      {EFI_PROTOCOL_ERROR, "EFI_PROTOCOL_ERROR"},
  };
  for (const NamedStatus &Entry : Names) {
    if (Entry.Status == Status) {
      return Entry.Name;
    }
  }
  return StatusValue(Status);
}

std::string VerdictStatusText(const DriverVerdict &Verdict) {
  if (!Verdict.Status) {
    return "";
  }
  return Verdict.Step ? StatusValue(*Verdict.Status) : StatusName(*Verdict.Status);
}

} // namespace RivariCheck
