/* What the firmware's TFTP returns for what a server did, and what the driver's operations make of it. */
#include "DriverVerdict.h"

#include <cstdio>

#include "Library/StatusNames.h"
#include "Protocol/TolvaneService.h"
#include "TransferWording.h"
#include "Uefi/Uefi.h"

namespace RivariCheck {

namespace {

constexpr int SizeQueryStep = TOLVANE_FETCH_STEP_SIZE_QUERY;
constexpr int SectionStep = TOLVANE_FETCH_STEP_SECTION;

/* Why the check cannot tell what the firmware would get from Result. */
std::string CannotTellReason(const TransferResult &Result) {
  if (Result.End == TransferEnd::Timeout) {
    return "the server was silent longer than --timeout allowed, and the firmware waits up to " +
           std::to_string(FirmwarePatience.count() / 1000) + " s (" + DescribeTransferEnd(Result) + ")";
  }
  return "the check could not finish: " + DescribeTransferEnd(Result);
}

/* The model's answer for Request as Result went; Size on success. */
MtftpAnswer ModelAnswer(FirmwareRequest Request, const TransferResult &Result, uint64_t Capacity, uint64_t Size) {
  const std::optional<ServerBehaviour> Behaviour = ObservedBehaviour(Request, Result, Capacity);
  if (!Behaviour) {
    return {std::nullopt, 0, CannotTellReason(Result), true};
  }
  const FirmwareAnswerRow &Row = FirmwareAnswerFor(Request, *Behaviour);
  const bool Success = Row.Status == EFI_SUCCESS;
  return {Row.Status, Success ? Size : 0, Success ? "" : DescribeBehaviour(*Behaviour, Result, Capacity),
          Row.Scenario != nullptr};
}

/* The verdict of an operation whose transfer What failed, or whose outcome the check cannot tell. */
DriverVerdict Failed(const MtftpAnswer &Answer, std::optional<uint64_t> Status, std::optional<int> Step,
                     const std::string &What) {
  DriverVerdict Verdict;
  Verdict.Kind = Answer.Status ? VerdictKind::Fails : VerdictKind::CannotTell;
  Verdict.Status = Answer.Status ? Status : std::nullopt;
  Verdict.Step = Answer.Status ? Step : std::nullopt;
  Verdict.Reason = What + (Answer.Status ? " fails: " : ": ") + Answer.Reason;
  Verdict.Measured = Answer.Measured;
  return Verdict;
}

std::string Bytes(uint64_t Count) { return std::to_string(Count) + " bytes"; }

} // namespace

MtftpAnswer SizeQueryAnswer(const TransferResult &Result) {
  return ModelAnswer(FirmwareRequest::SizeQuery, Result, 0, Result.SizeAnswer.value_or(0));
}

MtftpAnswer ReadAnswer(const TransferResult &Result, uint64_t Capacity) {
  return ModelAnswer(FirmwareRequest::Read, Result, Capacity, Result.Received);
}

DriverVerdict FetchVerdict(const MtftpAnswer &SizeQuery, const std::optional<MtftpAnswer> &Read,
                           std::optional<bool> SectionFound, uint64_t PoolLimit) {
  if (SizeQuery.Status != EFI_SUCCESS) {
    return Failed(SizeQuery, ENCODE_ERROR(SizeQueryStep), SizeQueryStep, "the size query of rivari.ini");
  }
  const uint64_t Buffer = SizeQuery.Size;
  if (Buffer > PoolLimit) {
    DriverVerdict Verdict;
    Verdict.Kind = VerdictKind::Fails;
    Verdict.Status = EFI_OUT_OF_RESOURCES;
    Verdict.Reason = "the download buffer of " + Bytes(Buffer) + " (the size answered) is more than the " +
                     Bytes(PoolLimit) + " of pool the check assumes a machine has";
    Verdict.Measured = SizeQuery.Measured;
    Verdict.PoolBytes = Buffer;
    return Verdict;
  }
  if (!Read || Read->Status != EFI_SUCCESS) {
    DriverVerdict Verdict = Read ? Failed(*Read, Read->Status, std::nullopt, "the read of rivari.ini")
                                 : Failed({std::nullopt, 0, "not read", true}, std::nullopt, std::nullopt, "the read");
    Verdict.Measured = Verdict.Measured && SizeQuery.Measured;
    Verdict.PoolBytes = Buffer;
    return Verdict;
  }
  DriverVerdict Verdict;
  Verdict.PoolBytes = Buffer + Read->Size;
  Verdict.Measured = SizeQuery.Measured && Read->Measured;
  if (Verdict.PoolBytes > PoolLimit) {
    Verdict.Kind = VerdictKind::Fails;
    Verdict.Status = ENCODE_ERROR(SectionStep);
    Verdict.Step = SectionStep;
    Verdict.Reason = "the lookup's copy of the " + Bytes(Read->Size) +
                     " received does not fit beside the download "
                     "buffer in the " +
                     Bytes(PoolLimit) + " of pool the check assumes a machine has";
    return Verdict;
  }
  if (SectionFound == false) {
    Verdict.Kind = VerdictKind::Fails;
    Verdict.Status = ENCODE_ERROR(SectionStep);
    Verdict.Step = SectionStep;
    Verdict.Reason = "the machine's section is not in the file";
    return Verdict;
  }
  Verdict.Kind = VerdictKind::Succeeds;
  Verdict.Status = EFI_SUCCESS;
  return Verdict;
}

DriverVerdict NumberedFileVerdict(const MtftpAnswer &SizeQuery, const std::optional<MtftpAnswer> &Read) {
  if (SizeQuery.Status != EFI_SUCCESS) {
    return Failed(SizeQuery, SizeQuery.Status, std::nullopt, "the size query");
  }
  if (Read && Read->Status != EFI_SUCCESS) {
    DriverVerdict Verdict = Failed(*Read, Read->Status, std::nullopt, "the read");
    Verdict.Measured = Verdict.Measured && SizeQuery.Measured;
    return Verdict;
  }
  DriverVerdict Verdict;
  Verdict.Kind = VerdictKind::Succeeds;
  Verdict.Status = EFI_SUCCESS;
  Verdict.Measured = SizeQuery.Measured && (!Read || Read->Measured);
  return Verdict;
}

std::string StatusValue(uint64_t Status) {
  char Value[24];
  std::snprintf(Value, sizeof(Value), "0x%016llX", static_cast<unsigned long long>(Status));
  return Value;
}

std::string StatusName(uint64_t Status) {
  const CHAR8 *Name = EfiStatusName(Status);
  return Name != nullptr ? std::string(reinterpret_cast<const char *>(Name)) : StatusValue(Status);
}

std::string VerdictStatusText(const DriverVerdict &Verdict) {
  if (!Verdict.Status) {
    return "";
  }
  return Verdict.Step ? StatusValue(*Verdict.Status) : StatusName(*Verdict.Status);
}

} // namespace RivariCheck
