/*
 * The exact sequence of pool calls (sizes, order, which block each release
 * returns) of a section lookup and an entry lookup over a sample file, so
 * that work on the speed of the reader, the tokenizer and the pool front
 * cannot change what the driver asks of the firmware.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Double/DriverFixture.h"
#include "Library/PoolLib.h"
#include "SectionLookup.h"
#include "TolvaneDriver.h"

namespace {

/* One pool call: an allocation of Size bytes numbered Block, or the release of block Block. */
struct PoolCall {
  bool Allocation;
  size_t Size;
  size_t Block;
  bool operator==(const PoolCall &Other) const = default;
};

std::ostream &operator<<(std::ostream &Stream, const PoolCall &Call) {
  if (Call.Allocation) {
    return Stream << "alloc " << Call.Size << " as #" << Call.Block;
  }
  return Stream << "free #" << Call.Block;
}

PoolCall Alloc(size_t Size, size_t Block) { return {true, Size, Block}; }
PoolCall Free(size_t Block) { return {false, 0, Block}; }

/* Forwards to the double's pool and writes down every call. */
class PoolTrace {
public:
  explicit PoolTrace(EFI_BOOT_SERVICES *Traced) : Services(Traced) {
    Active = this;
    AllocateNext = Services->AllocatePool;
    FreeNext = Services->FreePool;
    Services->AllocatePool = Allocate;
    Services->FreePool = Release;
  }
  ~PoolTrace() {
    Services->AllocatePool = AllocateNext;
    Services->FreePool = FreeNext;
    Active = nullptr;
  }
  PoolTrace(const PoolTrace &) = delete;
  PoolTrace &operator=(const PoolTrace &) = delete;

  std::vector<PoolCall> Calls;

private:
  static EFI_STATUS EFIAPI Allocate(EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer) {
    EFI_STATUS Status = Active->AllocateNext(Type, Size, Buffer);
    if (!EFI_ERROR(Status)) {
      size_t Block = ++Active->Allocations;
      Active->Numbers[*Buffer] = Block;
      Active->Calls.push_back(Alloc(Size, Block));
    }
    return Status;
  }
  static EFI_STATUS EFIAPI Release(VOID *Buffer) {
    auto Found = Active->Numbers.find(Buffer);
    Active->Calls.push_back(Free(Found == Active->Numbers.end() ? 0 : Found->second));
    if (Found != Active->Numbers.end()) {
      Active->Numbers.erase(Found);
    }
    return Active->FreeNext(Buffer);
  }

  static inline PoolTrace *Active = nullptr;
  EFI_BOOT_SERVICES *Services;
  EFI_STATUS(EFIAPI *AllocateNext)(EFI_MEMORY_TYPE, UINTN, VOID **) = nullptr;
  EFI_STATUS(EFIAPI *FreeNext)(VOID *) = nullptr;
  std::map<VOID *, size_t> Numbers;
  size_t Allocations = 0;
};

// A comment line, the header, a line of nine tokens (the array grows), an
// entry with a quoted value, a blank line and the next header.
const std::string SampleFile = "; c\r\n"
                               "[AB12CD34]\n"
                               "a b c d e f g h i\n"
                               "0 = \"x y\"\n"
                               "\n"
                               "[EF]\n";
const std::string SampleSection = "a b c d e f g h i\n"
                                  "0 = \"x y\"\n"
                                  "\n";

class AllocationTraceTest : public DriverTest {
protected:
  void SetUp() override {
    DriverTest::SetUp();
    CaptureTablesOnly();
    std::memcpy(ServiceState.MachineId, u"ab12cd34", sizeof(u"ab12cd34"));
  }
};

TEST_F(AllocationTraceTest, SectionLookupMakesTheSamePoolCallsInTheSameOrder) {
  TextReader Section{};
  std::vector<PoolCall> Calls;
  {
    PoolTrace Trace(Firmware->Services());
    ASSERT_EQ(FindMachineSection(SampleFile.data(), SampleFile.size(), &Section), EFI_SUCCESS);
    Calls = Trace.Calls;
  }
  const std::vector<PoolCall> Expected = {
      Alloc(SampleFile.size(), 1), // the reader's copy of the file
      Alloc(8, 2),
      Free(2),      // "; c": no token
      Alloc(22, 3), // "[AB12CD34]"
      Alloc(22, 4),
      Alloc(64, 5), // its token and the array
      Free(3),
      Alloc(36, 6), // "a b c d e f g h i"
      Alloc(4, 7),
      Alloc(64, 8), // a, then the array
      Alloc(4, 9),
      Alloc(4, 10),
      Alloc(4, 11),
      Alloc(4, 12),
      Alloc(4, 13),
      Alloc(4, 14),
      Alloc(4, 15), // b to h
      Alloc(4, 16),
      Alloc(128, 17),
      Free(8), // i: the array grows to 16 entries
      Free(6),
      Free(7),
      Free(9),
      Free(10),
      Free(11),
      Free(12),
      Free(13),
      Free(14),
      Free(15),
      Free(16),
      Free(17),
      Alloc(20, 18), // 0 = "x y"
      Alloc(4, 19),
      Alloc(64, 20),
      Alloc(12, 21), // 0, the array, "x y" with its quotes
      Free(18),
      Free(19),
      Free(21),
      Free(20),
      Alloc(10, 22),
      Alloc(10, 23),
      Alloc(64, 24), // "[EF]", the next header
      Free(22),
      Free(23),
      Free(24),
      Alloc(SampleSection.size() + 1, 25), // the section copy with its 0 byte
      Free(4),
      Free(5), // the header's tokens
      Free(1), // the reader's copy
  };
  EXPECT_EQ(Calls, Expected);
  ASSERT_EQ(Section.Size, SampleSection.size());
  EXPECT_EQ(std::string(reinterpret_cast<char *>(Section.Buffer), Section.Size), SampleSection);
  EXPECT_EQ(PoolRelease(Section.Buffer), EFI_SUCCESS);
}

TEST_F(AllocationTraceTest, EntryLookupMakesTheSamePoolCallsInTheSameOrder) {
  ASSERT_EQ(FindMachineSection(SampleFile.data(), SampleFile.size(), &ServiceState.SectionReader), EFI_SUCCESS);
  CHAR16 Value[8] = {};
  std::vector<PoolCall> Calls;
  {
    PoolTrace Trace(Firmware->Services());
    EXPECT_TRUE(GetEntry(nullptr, 0, Value, sizeof(Value)));
    Calls = Trace.Calls;
  }
  const std::vector<PoolCall> Expected = {
      Alloc(36, 1), // "a b c d e f g h i"
      Alloc(4, 2),  Alloc(64, 3),  Alloc(4, 4),   Alloc(4, 5),    Alloc(4, 6), Alloc(4, 7), Alloc(4, 8),
      Alloc(4, 9),  Alloc(4, 10),  Alloc(4, 11),  Alloc(128, 12), Free(3),     Free(1),     Free(2),
      Free(4),      Free(5),       Free(6),       Free(7),        Free(8),     Free(9),     Free(10),
      Free(11),     Free(12),      Alloc(20, 13), // 0 = "x y": found
      Alloc(4, 14), Alloc(64, 15), Alloc(12, 16), Free(13),       Free(14),    Free(16),    Free(15),
  };
  EXPECT_EQ(Calls, Expected);
  EXPECT_EQ(std::u16string(Value), u"\"x y\"");
  EXPECT_EQ(ReleaseConfiguration(nullptr), EFI_SUCCESS);
}

} // namespace
