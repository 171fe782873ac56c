/*
 * Formats arbitrary 8-bit and wide formats with arbitrary argument slots into
 * guarded buffers of every size from 0 to 64 characters, and checks that
 * nothing is written outside the given size, that a terminator is stored
 * whenever the size leaves room for one, that the result is exactly the
 * number of characters stored before it, and that a smaller buffer holds a
 * prefix of what a larger one holds.
 *
 * Slots are either all valid pointers (or NULL) into NUL-terminated copies
 * of the input, so that any conversion may take them, or all arbitrary
 * integers, in which case the format is stripped of the conversion letters
 * that take pointers.
 */
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "Library/FormatLib.h"

namespace {

constexpr size_t MaxSize = 64;
constexpr size_t ReferenceSize = MaxSize + 1;
constexpr size_t GuardBytes = 16;
constexpr uint8_t Guard = 0xCC;

void Check(bool Condition) {
  if (!Condition) {
    std::abort();
  }
}

bool TakesPointer(uint16_t Character) {
  return Character == 'a' || Character == 's' || Character == 'S' || Character == 'g' || Character == 't';
}

/* One call: format into Characters characters (wide sizes are passed in Bytes), return the whole guarded memory. */
struct Result {
  std::vector<uint8_t> Memory;
  UINTN Count;
};

Result FormatInto(UINTN Mode, const void *Format, const FORMAT_ARGUMENTS *Arguments, size_t Characters,
                  size_t OddByte) {
  const size_t Step = (Mode & FMT_OUT_WIDE) != 0 ? 2 : 1;
  Result Out;
  Out.Memory.assign(GuardBytes + Characters * Step + OddByte + GuardBytes, Guard);
  uint8_t *Buffer = Out.Memory.data() + GuardBytes;
  if (Mode == 0) {
    Out.Count = FormatToAsciiV((CHAR8 *)Buffer, Characters, (const CHAR8 *)Format, Arguments);
  } else if (Mode == (FMT_IN_WIDE | FMT_OUT_WIDE)) {
    Out.Count = FormatToWideV((CHAR16 *)Buffer, Characters * 2 + OddByte, (const CHAR16 *)Format, Arguments);
  } else {
    Out.Count = FormatWithModeV(Buffer, Characters, Mode, Format, Arguments);
  }
  return Out;
}

void CheckAllSizes(UINTN Mode, const void *Format, const FORMAT_ARGUMENTS *Arguments) {
  const size_t Step = (Mode & FMT_OUT_WIDE) != 0 ? 2 : 1;
  const Result Reference = FormatInto(Mode, Format, Arguments, ReferenceSize, 0);
  Check(Reference.Count < ReferenceSize);
  const uint8_t *ReferenceText = Reference.Memory.data() + GuardBytes;

  for (size_t Characters = 0; Characters <= MaxSize; Characters++) {
    const size_t OddByte = Step == 2 ? Characters % 2 : 0;
    const Result Out = FormatInto(Mode, Format, Arguments, Characters, OddByte);
    const uint8_t *Memory = Out.Memory.data();
    if (Characters == 0) {
      Check(Out.Count == 0);
      for (uint8_t Byte : Out.Memory) {
        Check(Byte == Guard);
      }
      continue;
    }
    const size_t Expected = Reference.Count < Characters - 1 ? Reference.Count : Characters - 1;
    Check(Out.Count == Expected);
    const size_t Stored = (Out.Count + 1) * Step;
    // The text is a prefix of the reference, then the terminator, then nothing touched up to the end of the memory.
    Check(std::memcmp(Memory + GuardBytes, ReferenceText, Out.Count * Step) == 0);
    for (size_t Index = 0; Index < Step; Index++) {
      Check(Memory[GuardBytes + Out.Count * Step + Index] == 0);
    }
    for (size_t Index = 0; Index < GuardBytes; Index++) {
      Check(Memory[Index] == Guard);
    }
    for (size_t Index = GuardBytes + Stored; Index < Out.Memory.size(); Index++) {
      Check(Memory[Index] == Guard);
    }
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  FuzzedDataProvider Provider(Data, Size);
  static const UINTN Modes[] = {0, FMT_IN_WIDE | FMT_OUT_WIDE, FMT_IN_WIDE, FMT_OUT_WIDE};
  const UINTN Mode = Modes[Provider.ConsumeIntegralInRange<size_t>(0, 3)];
  const bool PointerSlots = Provider.ConsumeBool();
  const size_t SlotCount = Provider.ConsumeIntegralInRange<size_t>(0, 8);

  // Each pointer target is valid as an 8-bit string, a wide string (an aligned zero unit at its end), a GUID and
  // an EFI_TIME (at least 16 bytes behind the pointer).
  std::vector<std::vector<uint8_t>> Targets;
  std::vector<UINT64> Slots;
  for (size_t Index = 0; Index < SlotCount; Index++) {
    if (!PointerSlots) {
      Slots.push_back(Provider.ConsumeIntegral<UINT64>());
      continue;
    }
    const size_t Offset = Provider.ConsumeIntegralInRange<size_t>(0, 1);
    if (Provider.ConsumeIntegralInRange<int>(0, 7) == 0) {
      Slots.push_back(0);
      continue;
    }
    std::vector<uint8_t> Text = Provider.ConsumeBytes<uint8_t>(Provider.ConsumeIntegralInRange<size_t>(0, 40));
    std::vector<uint8_t> Target(Offset + Text.size() + 2 + 16, 0);
    if (!Text.empty()) {
      std::memcpy(Target.data() + Offset, Text.data(), Text.size());
    }
    if (Target.size() % 2 != 0) {
      Target.push_back(0);
    }
    Targets.push_back(std::move(Target));
    Slots.push_back((UINT64)(uintptr_t)(Targets.back().data() + Offset));
  }

  const std::vector<uint8_t> Rest = Provider.ConsumeRemainingBytes<uint8_t>();
  std::vector<uint8_t> Format;
  if ((Mode & FMT_IN_WIDE) != 0) {
    for (size_t Index = 0; Index + 1 < Rest.size(); Index += 2) {
      uint16_t Unit = (uint16_t)(Rest[Index] | (Rest[Index + 1] << 8));
      if (!PointerSlots && TakesPointer(Unit)) {
        Unit = 'd';
      }
      Format.push_back((uint8_t)Unit);
      Format.push_back((uint8_t)(Unit >> 8));
    }
    Format.push_back(0);
    Format.push_back(0);
  } else {
    for (uint8_t Byte : Rest) {
      Format.push_back(!PointerSlots && TakesPointer(Byte) ? 'd' : Byte);
    }
    Format.push_back(0);
  }

  const FORMAT_ARGUMENTS Arguments = {Slots.data(), Slots.size()};
  CheckAllSizes(Mode, Format.data(), &Arguments);
  return 0;
}
