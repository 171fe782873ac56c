/*
 * The entry operations on a held section (GetEntryCount scans the section
 * once, GetEntry for the last entry scans all of it), and the reader and
 * tokenizer alone over a whole configuration file.
 */
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "Library/PoolLib.h"
#include "SectionLookup.h"
#include "Support/ConfigurationText.h"
#include "Support/LeanPool.h"
#include "Tokenizer.h"
#include "TolvaneDriver.h"

namespace {

constexpr long SectionEntries[] = {10, 100, 1000, 10000};
constexpr long LineFileSize = 1 << 20;

/* Makes the section of Entries entries the held section, as a fetch would. */
bool HoldSection(long Entries) {
  LeanPool::Install();
  ReleaseConfiguration(nullptr);
  std::memcpy(ServiceState.MachineId, ConfigurationText::WideMachineId, sizeof ConfigurationText::WideMachineId);
  std::string Text = ConfigurationText::MakeSection(static_cast<std::size_t>(Entries));
  return FindMachineSection(Text.data(), Text.size(), &ServiceState.SectionReader) == EFI_SUCCESS;
}

void GetEntryCountOfSection(benchmark::State &State) {
  UINTN Expected = static_cast<UINTN>(State.range(0));
  if (!HoldSection(State.range(0))) {
    State.SkipWithError("no section");
    return;
  }
  for (auto _ : State) {
    UINTN Count = GetEntryCount(nullptr);
    if (Count != Expected) {
      State.SkipWithError("wrong count");
      break;
    }
  }
  State.counters["entries"] = static_cast<double>(Expected);
  ReleaseConfiguration(nullptr);
}
BENCHMARK(GetEntryCountOfSection)->ArgsProduct({{std::begin(SectionEntries), std::end(SectionEntries)}});

void GetEntryLastOfSection(benchmark::State &State) {
  UINTN Last = static_cast<UINTN>(State.range(0) - 1);
  if (!HoldSection(State.range(0))) {
    State.SkipWithError("no section");
    return;
  }
  std::string Digits = std::to_string(Last);
  std::u16string Expected = u"value-" + std::u16string(Digits.begin(), Digits.end()) + u".bin";
  for (auto _ : State) {
    CHAR16 Value[32] = {};
    if (!GetEntry(nullptr, Last, Value, sizeof Value) || Expected != Value) {
      State.SkipWithError("last entry not found");
      break;
    }
    benchmark::DoNotOptimize(Value);
  }
  ReleaseConfiguration(nullptr);
}
BENCHMARK(GetEntryLastOfSection)->ArgsProduct({{std::begin(SectionEntries), std::end(SectionEntries)}});

/* A reader over the 1 MiB configuration; each iteration rewinds it. */
struct WholeFile {
  std::string Text = ConfigurationText::MakeFile(LineFileSize);
  TextReader Reader{};
  bool Open() {
    LeanPool::Install();
    return OpenTextReader(Text.data(), Text.size(), &Reader) == EFI_SUCCESS;
  }
  ~WholeFile() {
    if (Reader.Buffer != nullptr) {
      PoolRelease(Reader.Buffer);
    }
  }
};

void ReadTextLineOfFile(benchmark::State &State) {
  WholeFile File;
  if (!File.Open()) {
    State.SkipWithError("no reader");
    return;
  }
  std::size_t Lines = 0;
  for (auto _ : State) {
    RewindTextReader(&File.Reader);
    Lines = 0;
    CHAR16 *Line;
    UINTN Length;
    while (ReadTextLine(&File.Reader, &Line, &Length) == EFI_SUCCESS) {
      Lines++;
      PoolRelease(Line);
    }
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * File.Text.size()));
  State.counters["lines"] = static_cast<double>(Lines);
}
BENCHMARK(ReadTextLineOfFile);

void ReadTokenLineOfFile(benchmark::State &State) {
  WholeFile File;
  if (!File.Open()) {
    State.SkipWithError("no reader");
    return;
  }
  std::size_t Tokens = 0;
  for (auto _ : State) {
    RewindTextReader(&File.Reader);
    Tokens = 0;
    CHAR16 **List;
    UINTN Count;
    while (ReadTokenLine(&File.Reader, &List, &Count) == EFI_SUCCESS) {
      Tokens += Count;
      FreeTokenList(&List, &Count);
    }
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * File.Text.size()));
  State.counters["tokens"] = static_cast<double>(Tokens);
}
BENCHMARK(ReadTokenLineOfFile);

} // namespace

BENCHMARK_MAIN();
