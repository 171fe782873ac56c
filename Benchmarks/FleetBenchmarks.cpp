/*
 * The driver's own cost of a fleet's file against a client's own file:
 * FindMachineSection over a generated rivari.ini of 10,000 machines with
 * sections of about 480 bytes (4.8 MB, the shape of Benchmarks/Fleet/fleet.py),
 * for the machine in the middle of the file and the last one, against the
 * file rivari-check split writes for that machine (its one section).
 */
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "Library/PoolLib.h"
#include "SectionLookup.h"
#include "Support/LeanPool.h"
#include "TolvaneDriver.h"

namespace {

constexpr unsigned FleetMachines = 10000;
constexpr std::size_t SectionBytes = 480;

std::string Identifier(unsigned Machine) {
  char Text[16];
  std::snprintf(Text, sizeof Text, "%08X", 0xA0000000u + Machine);
  return Text;
}

/* Machine's section of about SectionBytes bytes, blank line included. */
std::string Section(unsigned Machine) {
  char Text[SectionBytes + 64];
  const std::string Id = Identifier(Machine);
  int Length =
      std::snprintf(Text, sizeof Text,
                    "[%s]\n0 = \"Fleet machine %05u\"          ; display name\n1 = boot/kernel-6.1-%u.efi\n"
                    "2 = splash.bmp\n3 = \"console=ttyS0,115200 quiet loglevel=3\"\n4 = 2024-05-%02u\n"
                    "5 = rack-%03u-slot-%02u\n6 = \"http://10.0.2.2/fleet/%s/image\"\n7 = profile-standard\n"
                    "# maintenance window and owner\n",
                    Id.c_str(), Machine, Machine % 7, 1 + Machine % 28, Machine / 40, Machine % 40, Id.c_str());
  std::string Result(Text, static_cast<std::size_t>(Length));
  const std::size_t Padding = SectionBytes - Result.size() - 6;
  return Result + "8 = " + std::string(Padding, 'x') + "\n\n";
}

const std::string &FleetFile() {
  static const std::string Text = [] {
    std::string Whole = "; generated fleet\n\n";
    for (unsigned Machine = 0; Machine < FleetMachines; Machine++) {
      Whole += Section(Machine);
    }
    return Whole;
  }();
  return Text;
}

/* FindMachineSection for Machine over Text; range(0) is the machine, range(1) 1 for its own file. */
void FindMachineSectionFleet(benchmark::State &State) {
  LeanPool::Install();
  const unsigned Machine = static_cast<unsigned>(State.range(0));
  const std::string OwnFile = Section(Machine);
  const std::string &Text = State.range(1) != 0 ? OwnFile : FleetFile();
  const std::string Id = Identifier(Machine);
  for (std::size_t Index = 0; Index < Id.size(); Index++) {
    ServiceState.MachineId[Index] = static_cast<CHAR16>(Id[Index]);
  }
  for (auto _ : State) {
    TextReader Found{};
    // The copy runs to the next header; at the end of a file, the closing blank line stays out.
    if (FindMachineSection(Text.data(), Text.size(), &Found) != EFI_SUCCESS || Found.Size + 13 < OwnFile.size()) {
      State.SkipWithError("section not found or of the wrong size");
      break;
    }
    PoolRelease(Found.Buffer);
  }
  State.SetLabel(State.range(1) != 0 ? "own file" : "fleet file");
  State.counters["file_bytes"] = static_cast<double>(Text.size());
}
BENCHMARK(FindMachineSectionFleet)
    ->ArgNames({"machine", "own"})
    ->Args({FleetMachines / 2, 0})
    ->Args({FleetMachines - 1, 0})
    ->Args({FleetMachines / 2, 1})
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
