/*
 * Finding the machine's section in a whole configuration file, beside inih
 * (ini_parse_string) and iniparser (iniparser_load) reading the same bytes.
 * At the end a table gives each parser's time per file and its ratio to inih.
 */
#include <benchmark/benchmark.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <ini.h>
#include <iniparser/iniparser.h>
}

#include "Library/PoolLib.h"
#include "SectionLookup.h"
#include "Support/ConfigurationText.h"
#include "Support/LeanPool.h"
#include "TolvaneDriver.h"

namespace {

constexpr long FileSizes[] = {64 << 10, 1 << 20, 8 << 20};

/* Generated texts by size, made once. */
const std::string &FileOfSize(long Size) {
  static std::map<long, std::string> Files;
  auto Found = Files.find(Size);
  if (Found == Files.end()) {
    Found = Files.emplace(Size, ConfigurationText::MakeFile(static_cast<std::size_t>(Size))).first;
  }
  return Found->second;
}

/* Bytes of the machine's section as the driver copies it: up to the next header. */
std::size_t ExpectedSectionSize(const std::string &Text) {
  std::string Header = std::string("[") + ConfigurationText::MachineHeader + "]\n";
  std::size_t Start = Text.find(Header) + Header.size();
  return Text.find("\n[", Start) + 1 - Start;
}

void SetMachineId() {
  std::memcpy(ServiceState.MachineId, ConfigurationText::WideMachineId, sizeof ConfigurationText::WideMachineId);
}

void FindMachineSectionInFile(benchmark::State &State) {
  LeanPool::Install();
  SetMachineId();
  const std::string &Text = FileOfSize(State.range(0));
  std::size_t Expected = ExpectedSectionSize(Text);
  std::size_t AllocationsBefore = LeanPool::AllocationCount();
  for (auto _ : State) {
    TextReader Section{};
    EFI_STATUS Status = FindMachineSection(Text.data(), Text.size(), &Section);
    if (Status != EFI_SUCCESS || Section.Size != Expected) {
      State.SkipWithError("section not found or of the wrong size");
      break;
    }
    PoolRelease(Section.Buffer);
  }
  double Allocations = static_cast<double>(LeanPool::AllocationCount() - AllocationsBefore);
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * Text.size()));
  State.counters["allocs/KiB"] =
      Allocations / static_cast<double>(State.iterations()) / (static_cast<double>(Text.size()) / 1024.0);
}
BENCHMARK(FindMachineSectionInFile)->ArgsProduct({{std::begin(FileSizes), std::end(FileSizes)}});

struct InihFinding {
  std::size_t Entries = 0;
  std::size_t ValueBytes = 0;
};

/* Takes the entries of the machine's section, as a program would. */
int CollectMachineEntry(void *User, const char *Section, const char *, const char *Value) {
  if (std::strcmp(Section, ConfigurationText::MachineHeader) == 0) {
    auto *Finding = static_cast<InihFinding *>(User);
    Finding->Entries++;
    Finding->ValueBytes += std::strlen(Value);
  }
  return 1;
}

void InihParseString(benchmark::State &State) {
  const std::string &Text = FileOfSize(State.range(0));
  for (auto _ : State) {
    InihFinding Finding;
    int Result = ini_parse_string(Text.c_str(), CollectMachineEntry, &Finding);
    if (Result != 0 || Finding.Entries != ConfigurationText::MachineEntries) {
      State.SkipWithError("inih did not read the machine's section");
      break;
    }
    benchmark::DoNotOptimize(Finding);
  }
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * Text.size()));
}
BENCHMARK(InihParseString)->ArgsProduct({{std::begin(FileSizes), std::end(FileSizes)}});

int Silent(const char *, ...) { return 0; }

/*
 * iniparser 4.1 loads only from a path: the bytes sit in a memory file
 * (memfd_create) and are opened through /proc/self/fd, so no disk is read.
 */
void IniparserLoad(benchmark::State &State) {
  const std::string &Text = FileOfSize(State.range(0));
  int Descriptor = memfd_create("rivari.ini", 0);
  if (Descriptor < 0 || write(Descriptor, Text.data(), Text.size()) != static_cast<ssize_t>(Text.size())) {
    State.SkipWithError("no memory file");
    return;
  }
  std::string Path = "/proc/self/fd/" + std::to_string(Descriptor);
  iniparser_set_error_callback(Silent);
  std::string Key = std::string(ConfigurationText::MachineId) + ":0";
  for (auto _ : State) {
    dictionary *Dictionary = iniparser_load(Path.c_str());
    const char *Value = Dictionary == nullptr ? nullptr : iniparser_getstring(Dictionary, Key.c_str(), nullptr);
    if (Value == nullptr) {
      State.SkipWithError("iniparser did not read the machine's section");
      break;
    }
    benchmark::DoNotOptimize(Value);
    iniparser_freedict(Dictionary);
  }
  close(Descriptor);
  State.SetBytesProcessed(static_cast<int64_t>(State.iterations() * Text.size()));
}
BENCHMARK(IniparserLoad)->ArgsProduct({{std::begin(FileSizes), std::end(FileSizes)}});

/* The console report, followed by a table of times per file and ratios to inih. */
class RatioReporter : public benchmark::ConsoleReporter {
public:
  using ConsoleReporter::ConsoleReporter;

  void ReportRuns(const std::vector<Run> &Runs) override {
    ConsoleReporter::ReportRuns(Runs);
    for (const Run &Item : Runs) {
      // The median of repetitions when there are some, otherwise the best single run.
      bool Median = Item.run_type == Run::RT_Aggregate && Item.aggregate_name == "median";
      if (Item.error_occurred || !(Median || Item.run_type == Run::RT_Iteration)) {
        continue;
      }
      // CPU time: the machine may be shared, and waiting for a core is no parser's cost.
      double Nanoseconds = Item.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(Item.time_unit) * 1e9;
      double &Best = Times[std::stol(Item.run_name.args)][Item.run_name.function_name];
      if (Median) {
        Medians.insert(Item.run_name.function_name + "/" + Item.run_name.args);
        Best = Nanoseconds;
      } else if (Medians.count(Item.run_name.function_name + "/" + Item.run_name.args) == 0 &&
                 (Best == 0 || Nanoseconds < Best)) {
        Best = Nanoseconds;
      }
    }
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\nCPU time per file\n%-10s %16s %12s %16s %12s %14s\n", "bytes", "FindMachine ms", "inih ms",
                "iniparser ms", "ours/inih", "iniparser/inih");
    for (const auto &[Size, ByName] : Times) {
      double Ours = Lookup(ByName, "FindMachineSectionInFile");
      double Inih = Lookup(ByName, "InihParseString");
      double Iniparser = Lookup(ByName, "IniparserLoad");
      std::printf("%-10ld %16.3f %12.3f %16.3f %12.2f %14.2f\n", Size, Ours / 1e6, Inih / 1e6, Iniparser / 1e6,
                  Inih > 0 ? Ours / Inih : 0.0, Inih > 0 ? Iniparser / Inih : 0.0);
    }
  }

private:
  static double Lookup(const std::map<std::string, double> &ByName, const char *Name) {
    auto Found = ByName.find(Name);
    return Found == ByName.end() ? 0.0 : Found->second;
  }

  std::map<long, std::map<std::string, double>> Times;
  std::set<std::string> Medians;
};

} // namespace

int main(int Argc, char **Argv) {
  // The ratio table goes with the console report; other formats get the library's own reporter.
  bool Console = true;
  for (int Index = 1; Index < Argc; Index++) {
    if (std::strncmp(Argv[Index], "--benchmark_format=", 19) == 0) {
      Console = std::strcmp(Argv[Index] + 19, "console") == 0;
    }
  }
  benchmark::Initialize(&Argc, Argv);
  if (benchmark::ReportUnrecognizedArguments(Argc, Argv)) {
    return 1;
  }
  // Colours only on a terminal, so that a saved report stays plain text.
  RatioReporter Reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults
                                               : benchmark::ConsoleReporter::OO_Tabular);
  if (Console) {
    benchmark::RunSpecifiedBenchmarks(&Reporter);
  } else {
    benchmark::RunSpecifiedBenchmarks();
  }
  benchmark::Shutdown();
  return 0;
}
