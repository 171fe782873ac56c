/*
 * The two formatting calls the driver makes, beside the C library producing
 * the same text: the numbered file name ("%s.%d" into 16 characters) and the
 * entry index (wide "%d" into 10 bytes, which cuts 64512 to 6451).
 */
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <cwchar>

#include "Library/FormatLib.h"

namespace {

const CHAR16 WideIdentifier[] = u"ABCD1234";
const char NarrowIdentifier[] = "ABCD1234";
const wchar_t LibraryWideIdentifier[] = L"ABCD1234";

void FileNameFormatToAscii(benchmark::State &State) {
  CHAR8 Buffer[16];
  for (auto _ : State) {
    benchmark::DoNotOptimize(Buffer);
    UINTN Count = FormatToAscii(Buffer, 16, "%s.%d", WideIdentifier, 12);
    benchmark::DoNotOptimize(Count);
    benchmark::ClobberMemory();
  }
  if (std::strcmp(Buffer, "ABCD1234.12") != 0) {
    State.SkipWithError("unexpected text");
  }
}
BENCHMARK(FileNameFormatToAscii);

void FileNameSnprintf(benchmark::State &State) {
  char Buffer[16];
  for (auto _ : State) {
    benchmark::DoNotOptimize(Buffer);
    int Count = std::snprintf(Buffer, 16, "%s.%d", NarrowIdentifier, 12);
    benchmark::DoNotOptimize(Count);
    benchmark::ClobberMemory();
  }
  if (std::strcmp(Buffer, "ABCD1234.12") != 0) {
    State.SkipWithError("unexpected text");
  }
}
BENCHMARK(FileNameSnprintf);

/* The C library's closest match to a wide identifier in an 8-bit name: "%ls". */
void FileNameSnprintfWideString(benchmark::State &State) {
  char Buffer[16];
  for (auto _ : State) {
    benchmark::DoNotOptimize(Buffer);
    int Count = std::snprintf(Buffer, 16, "%ls.%d", LibraryWideIdentifier, 12);
    benchmark::DoNotOptimize(Count);
    benchmark::ClobberMemory();
  }
  if (std::strcmp(Buffer, "ABCD1234.12") != 0) {
    State.SkipWithError("unexpected text");
  }
}
BENCHMARK(FileNameSnprintfWideString);

void IndexFormatToWide(benchmark::State &State) {
  CHAR16 Buffer[5];
  for (auto _ : State) {
    benchmark::DoNotOptimize(Buffer);
    UINTN Count = FormatToWide(Buffer, 10, u"%d", 64512);
    benchmark::DoNotOptimize(Count);
    benchmark::ClobberMemory();
  }
  if (std::memcmp(Buffer, u"6451", 10) != 0) {
    State.SkipWithError("unexpected text");
  }
}
BENCHMARK(IndexFormatToWide);

/* glibc cuts to the same four characters but reports -1 and stores no terminator. */
void IndexSwprintf(benchmark::State &State) {
  wchar_t Buffer[5];
  for (auto _ : State) {
    benchmark::DoNotOptimize(Buffer);
    int Count = std::swprintf(Buffer, 5, L"%d", 64512);
    benchmark::DoNotOptimize(Count);
    benchmark::ClobberMemory();
  }
  if (std::wmemcmp(Buffer, L"6451", 4) != 0) {
    State.SkipWithError("unexpected text");
  }
}
BENCHMARK(IndexSwprintf);

} // namespace

BENCHMARK_MAIN();
