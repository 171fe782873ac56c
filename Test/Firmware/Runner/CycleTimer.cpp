/* Elapsed time from the processor's cycle counter, calibrated against Stall. */
#include "Runner.h"

namespace Runner {
namespace {
UINT64 CyclesPerMillisecond = 1;
constexpr UINTN CalibrationMicroseconds = 50000;
} // namespace

UINT64 ReadCycles() {
  UINT32 Low;
  UINT32 High;
  __asm__ __volatile__("rdtsc" : "=a"(Low), "=d"(High));
  return ((UINT64)High << 32) | Low;
}

VOID CalibrateTimer() {
  UINT64 Start = ReadCycles();
  Boot->Stall(CalibrationMicroseconds);
  UINT64 Cycles = ReadCycles() - Start;
  CyclesPerMillisecond = Cycles / (CalibrationMicroseconds / 1000);
  if (CyclesPerMillisecond == 0) {
    CyclesPerMillisecond = 1;
  }
}

UINT64 MicrosecondsSince(UINT64 StartCycles) {
  UINT64 Cycles = ReadCycles() - StartCycles;
  return Cycles * 1000 / CyclesPerMillisecond;
}

} // namespace Runner
