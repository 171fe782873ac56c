/*
 * The split's one pass against the section lookup per machine: the input
 * either is a fleet file itself or (first byte odd) chooses a generated one
 * with quotes, swallowed headers, duplicates and every encoding. For each
 * identifier, the section the pass finds must give the answers the core's
 * lookup over the whole file gives, the client's file must give them too,
 * and the pass must know a header exactly when the lookup finds it. Any difference
 * or leak traps.
 */
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "Double/DriverFixture.h"
#include "Double/FirmwareDouble.h"
#include "MachineSplit.h"
#include "RivariCheckFleetFiles.h"
#include "TolvaneDriver.h"

namespace {

void Require(bool Condition) {
  if (!Condition) {
    __builtin_trap();
  }
}

void CheckFile(const std::vector<uint8_t> &File) {
  RivariCheck::FleetText Fleet = RivariCheck::ReadFleetText(File);
  for (const std::string &Identifier : FleetFiles::Identifiers()) {
    const RivariCheck::MachineSplit Split = RivariCheck::SplitMachine(Fleet, Identifier);
    const RivariCheck::MachineAnswers Whole = RivariCheck::AnswersFor(File, Split.Header);
    Require(Split.Answers.SectionFound == Whole.SectionFound);
    Require(Split.Answers.Count == Whole.Count);
    Require(Split.Answers.Values == Whole.Values);
    Require(Split.Equivalent);
    Require(Whole.SectionFound == (Fleet.Headers.count(Split.Header) != 0));
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  FirmwareDouble::Firmware Firmware;
  ResetDriverState();
  CaptureFirmwareTables(Firmware.Image(), Firmware.Table());
  if (Size != 0 && (Data[0] & 1) != 0) {
    CheckFile(FleetFiles::GenerateFleet(Data + 1, Size - 1));
  } else {
    CheckFile(std::vector<uint8_t>(Data, Data + Size));
  }
  Require(Firmware.LiveBlockCount() == 0);
  return 0;
}
