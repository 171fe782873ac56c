/* Media detection: the three checks, the three state paths, their failures, and the filters restored. */
#include <gtest/gtest.h>

#include <cstring>

#include "Double/DriverFixture.h"
#include "Double/SimpleNetworkDouble.h"
#include "MediaDetect.h"

namespace {

using FirmwareDouble::GuidText;
using FirmwareDouble::SimpleNetworkDouble;
using FirmwareDouble::SnpOperation;
using Op = SnpOperation;

// The out byte before a call; any other value afterwards means it was written.
constexpr BOOLEAN Untouched = 0x5A;
constexpr UINT32 Stopped = EfiSimpleNetworkStopped;
constexpr UINT32 Started = EfiSimpleNetworkStarted;
constexpr UINT32 Initialized = EfiSimpleNetworkInitialized;

EFI_MAC_ADDRESS MacOf(UINT8 Seed) {
  EFI_MAC_ADDRESS Mac{};
  for (UINT8 Index = 0; Index < 6; Index++) {
    Mac.Addr[Index] = static_cast<UINT8>(Seed + Index);
  }
  return Mac;
}

const std::vector<EFI_MAC_ADDRESS> ThreeMulticast = {MacOf(0x10), MacOf(0x20), MacOf(0x30)};

bool SameMacs(const std::vector<EFI_MAC_ADDRESS> &First, const EFI_MAC_ADDRESS *Second, size_t Count) {
  return First.size() == Count && std::memcmp(First.data(), Second, Count * sizeof(EFI_MAC_ADDRESS)) == 0;
}

class MediaDetectTest : public DriverTest {
protected:
  void SetUp() override {
    DriverTest::SetUp();
    CaptureTablesOnly();
  }

  /* The interface found in State with a live link, filters 0x03 of 0x1F and three multicast entries, published. */
  void Arrange(UINT32 State) {
    Snp.Mode.State = State;
    Snp.Mode.ReceiveFilterMask = 0x1F;
    Snp.Mode.ReceiveFilterSetting = 0x03;
    Snp.SetMulticast(ThreeMulticast);
    Snp.Mode.MediaPresent = FALSE; // stale: only Initialize brings a reading
    Snp.LinkMedia = TRUE;
    Snp.Publish(*Firmware);
  }

  SimpleNetworkDouble Snp;
};

// ---------------------------------------------------------------------------------------------------------------------
// Paths on which every call succeeds.

struct SuccessCase {
  const char *Name;
  UINT32 State;
  std::vector<SnpOperation> Calls;
};

const SuccessCase SuccessCases[] = {
    {"Stopped", Stopped, {Op::Start, Op::Initialize, Op::Shutdown, Op::Stop}},
    {"Started", Started, {Op::Initialize, Op::Shutdown}},
    {"Initialized", Initialized, {Op::Shutdown, Op::Stop, Op::Start, Op::Initialize, Op::ReceiveFilters}},
};

void PrintTo(const SuccessCase &Case, std::ostream *Stream) { *Stream << Case.Name; }

class MediaDetectSuccessTest : public MediaDetectTest, public ::testing::WithParamInterface<SuccessCase> {};

TEST_P(MediaDetectSuccessTest, CyclesThroughInitializeReadsTheLinkAndLeavesTheStateAsFound) {
  const SuccessCase &Case = GetParam();
  Arrange(Case.State);
  BOOLEAN MediaPresent = Untouched;
  ASSERT_EQ(DetectMediaPresent(&MediaPresent), EFI_SUCCESS);
  EXPECT_EQ(MediaPresent, TRUE);
  EXPECT_EQ(Snp.Operations(), Case.Calls);
  EXPECT_EQ(Snp.Mode.State, Case.State);
  for (const auto &Call : Snp.Calls) {
    EXPECT_EQ(Call.This, Snp.Interface());
    EXPECT_EQ(Call.Status, EFI_SUCCESS) << FirmwareDouble::SnpOperationName(Call.Operation);
    if (Call.Operation == Op::Initialize) {
      EXPECT_EQ(Call.ExtraRxBufferSize, 0u);
      EXPECT_EQ(Call.ExtraTxBufferSize, 0u);
    }
  }
  ASSERT_EQ(Firmware->LocateCalls.size(), 1u);
  EXPECT_EQ(GuidText(Firmware->LocateCalls[0]), "A19832B9-AC25-11D3-9A2D-0090273FC14D");
  EXPECT_LT(Firmware->FirstEvent("LocateProtocol"), Firmware->FirstEvent("SNP."));
}

INSTANTIATE_TEST_SUITE_P(States, MediaDetectSuccessTest, ::testing::ValuesIn(SuccessCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// ---------------------------------------------------------------------------------------------------------------------
// Every row of the failure table, and a multicast copy that cannot be taken failing the detection.

struct FailureCase {
  const char *Name;
  UINT32 State;
  void (*Disturb)(SimpleNetworkDouble &Snp, FirmwareDouble::Firmware &Firmware);
  bool Publish;
  EFI_STATUS Expected;
  std::vector<SnpOperation> Calls;
  bool OutWritten;
  UINT32 StateAfter;
  bool FiltersRestored; // the Mode holds the filters and multicast list found
};

void NoDisturbance(SimpleNetworkDouble &, FirmwareDouble::Firmware &) {}

const FailureCase FailureCases[] = {
    {"LocateProtocolFails", Initialized, NoDisturbance, false, EFI_NOT_FOUND, {}, false, Initialized, true},
    {"MediaPresentNotSupported",
     Initialized,
     [](SimpleNetworkDouble &Snp, FirmwareDouble::Firmware &) { Snp.Mode.MediaPresentSupported = FALSE; },
     true,
     EFI_UNSUPPORTED,
     {},
     false,
     Initialized,
     true},
    {"StateThree", 3, NoDisturbance, true, EFI_DEVICE_ERROR, {}, false, 3, true},
    {"StateWithTopBitSet", 0x80000000u, NoDisturbance, true, EFI_DEVICE_ERROR, {}, false, 0x80000000u, true},
    {"StoppedStartFails",
     Stopped,
     [](SimpleNetworkDouble &Snp, FirmwareDouble::Firmware &) { Snp.InjectStatus(Op::Start, EFI_TIMEOUT); },
     true,
     EFI_TIMEOUT,
     {Op::Start, Op::Stop},
     false,
     Stopped,
     true},
    {"StoppedInitializeFails",
     Stopped,
     [](SimpleNetworkDouble &Snp, FirmwareDouble::Firmware &) { Snp.InjectStatus(Op::Initialize, EFI_TIMEOUT); },
     true,
     EFI_DEVICE_ERROR,
     {Op::Start, Op::Initialize, Op::Stop},
     false,
     Stopped,
     true},
    {"StartedInitializeFails",
     Started,
     [](SimpleNetworkDouble &Snp, FirmwareDouble::Firmware &) { Snp.InjectStatus(Op::Initialize, EFI_TIMEOUT); },
     true,
     EFI_DEVICE_ERROR,
     {Op::Initialize},
     false,
     Started,
     true},
    {"InitializedShutdownFails",
     Initialized,
     [](SimpleNetworkDouble &Snp, FirmwareDouble::Firmware &) { Snp.InjectStatus(Op::Shutdown, EFI_NO_RESPONSE); },
     true,
     EFI_NO_RESPONSE,
     {Op::Shutdown},
     false,
     Initialized,
     true},
    {"InitializedStopFails",
     Initialized,
     [](SimpleNetworkDouble &Snp, FirmwareDouble::Firmware &) { Snp.InjectStatus(Op::Stop, EFI_NO_RESPONSE); },
     true,
     EFI_NO_RESPONSE,
     {Op::Shutdown, Op::Stop},
     false,
     Started,
     false},
    {"InitializedStartFails",
     Initialized,
     [](SimpleNetworkDouble &Snp, FirmwareDouble::Firmware &) { Snp.InjectStatus(Op::Start, EFI_NO_RESPONSE); },
     true,
     EFI_NO_RESPONSE,
     {Op::Shutdown, Op::Stop, Op::Start},
     false,
     Stopped,
     false},
    {"InitializedInitializeFailsWithItsOwnStatus",
     Initialized,
     [](SimpleNetworkDouble &Snp, FirmwareDouble::Firmware &) { Snp.InjectStatus(Op::Initialize, EFI_TIMEOUT); },
     true,
     EFI_TIMEOUT,
     {Op::Shutdown, Op::Stop, Op::Start, Op::Initialize},
     false,
     Started,
     false},
    {"InitializedReceiveFiltersFails",
     Initialized,
     [](SimpleNetworkDouble &Snp, FirmwareDouble::Firmware &) {
       Snp.InjectStatus(Op::ReceiveFilters, EFI_DEVICE_ERROR);
     },
     true,
     EFI_DEVICE_ERROR,
     {Op::Shutdown, Op::Stop, Op::Start, Op::Initialize, Op::ReceiveFilters},
     true,
     Initialized,
     false},
    {"InitializedMulticastCopyNotAllocated",
     Initialized,
     [](SimpleNetworkDouble &, FirmwareDouble::Firmware &Firmware) { Firmware.FailAllAllocations(true); },
     true,
     EFI_OUT_OF_RESOURCES,
     {},
     false,
     Initialized,
     true},
};

void PrintTo(const FailureCase &Case, std::ostream *Stream) { *Stream << Case.Name; }

class MediaDetectFailureTest : public MediaDetectTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(MediaDetectFailureTest, ReturnsTheRowStatusAndLeavesTheInterfaceAsTheRowSays) {
  const FailureCase &Case = GetParam();
  Snp.Mode.State = Case.State;
  Snp.Mode.ReceiveFilterSetting = 0x03;
  Snp.SetMulticast(ThreeMulticast);
  Snp.LinkMedia = TRUE;
  if (Case.Publish) {
    Snp.Publish(*Firmware);
  }
  Case.Disturb(Snp, *Firmware);
  BOOLEAN MediaPresent = Untouched;
  EXPECT_EQ(DetectMediaPresent(&MediaPresent), Case.Expected);
  EXPECT_EQ(Snp.Operations(), Case.Calls);
  EXPECT_EQ(MediaPresent, Case.OutWritten ? TRUE : Untouched);
  EXPECT_EQ(Snp.Mode.State, Case.StateAfter);
  bool FiltersAsFound = Snp.Mode.ReceiveFilterSetting == 0x03 && Snp.Mode.MCastFilterCount == 3 &&
                        SameMacs(ThreeMulticast, Snp.Mode.MCastFilter, 3);
  EXPECT_EQ(FiltersAsFound, Case.FiltersRestored);
  EXPECT_EQ(Firmware->LiveBlockCount(), 0u); // the multicast copy, if taken, is released
}

INSTANTIATE_TEST_SUITE_P(Rows, MediaDetectFailureTest, ::testing::ValuesIn(FailureCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// ---------------------------------------------------------------------------------------------------------------------
// Warnings count as success.

struct WarningCase {
  const char *Name;
  UINT32 State;
  SnpOperation Warned;
  EFI_STATUS Expected;
  size_t CallCount;
};

constexpr EFI_STATUS Warning = EFI_WARN_BUFFER_TOO_SMALL;

const WarningCase WarningCases[] = {
    {"StoppedStart", Stopped, Op::Start, EFI_SUCCESS, 4},
    {"StoppedInitializeIsTheResult", Stopped, Op::Initialize, Warning, 4},
    {"StoppedShutdownIgnored", Stopped, Op::Shutdown, EFI_SUCCESS, 4},
    {"StartedInitializeIsTheResult", Started, Op::Initialize, Warning, 2},
    {"InitializedShutdown", Initialized, Op::Shutdown, EFI_SUCCESS, 5},
    {"InitializedStop", Initialized, Op::Stop, EFI_SUCCESS, 5},
    {"InitializedStart", Initialized, Op::Start, EFI_SUCCESS, 5},
    {"InitializedInitialize", Initialized, Op::Initialize, EFI_SUCCESS, 5},
    {"InitializedReceiveFiltersIsTheResult", Initialized, Op::ReceiveFilters, Warning, 5},
};

void PrintTo(const WarningCase &Case, std::ostream *Stream) { *Stream << Case.Name; }

class MediaDetectWarningTest : public MediaDetectTest, public ::testing::WithParamInterface<WarningCase> {};

TEST_P(MediaDetectWarningTest, WarningCountsAsSuccessAndThePathRunsToTheEnd) {
  const WarningCase &Case = GetParam();
  Arrange(Case.State);
  Snp.InjectStatus(Case.Warned, Warning);
  BOOLEAN MediaPresent = Untouched;
  EXPECT_EQ(DetectMediaPresent(&MediaPresent), Case.Expected);
  EXPECT_EQ(Snp.Calls.size(), Case.CallCount);
  EXPECT_EQ(MediaPresent, TRUE);
  EXPECT_EQ(Snp.Mode.State, Case.State);
}

INSTANTIATE_TEST_SUITE_P(Calls, MediaDetectWarningTest, ::testing::ValuesIn(WarningCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(MediaDetectTest, ShutdownAndFinalStopFailuresAreNotLookedAt) {
  const struct {
    const char *Name;
    UINT32 State;
    SnpOperation Failing;
    UINT32 StateAfter; // where the failed call leaves the interface
  } Rows[] = {
      // A failed Shutdown leaves the interface Initialized, so the firmware refuses the Stop after it too.
      {"StoppedShutdown", Stopped, Op::Shutdown, Initialized},
      {"StoppedStop", Stopped, Op::Stop, Started},
      {"StartedShutdown", Started, Op::Shutdown, Initialized},
  };
  Arrange(Stopped);
  for (const auto &Row : Rows) {
    SCOPED_TRACE(Row.Name);
    Snp.Mode.State = Row.State;
    Snp.Calls.clear();
    Snp.InjectStatus(Row.Failing, EFI_DEVICE_ERROR);
    BOOLEAN MediaPresent = Untouched;
    EXPECT_EQ(DetectMediaPresent(&MediaPresent), EFI_SUCCESS);
    EXPECT_EQ(MediaPresent, TRUE);
    EXPECT_EQ(Snp.Calls.size(), Row.State == Stopped ? 4u : 2u);
    EXPECT_EQ(Snp.Mode.State, Row.StateAfter);
  }
}

// ---------------------------------------------------------------------------------------------------------------------
// Filters, multicast list, the out byte, several interfaces.

TEST_F(MediaDetectTest, InitializedFiltersAreSavedAndHandedBackToReceiveFilters) {
  Arrange(Initialized);
  BOOLEAN MediaPresent = Untouched;
  ASSERT_EQ(DetectMediaPresent(&MediaPresent), EFI_SUCCESS);
  const auto &Restore = Snp.Calls.back();
  ASSERT_EQ(Restore.Operation, Op::ReceiveFilters);
  EXPECT_EQ(Restore.Enable, 0x03u);
  EXPECT_EQ(Restore.Disable, 0x1Cu);
  EXPECT_EQ(Restore.ResetMCastFilter, FALSE);
  EXPECT_EQ(Restore.MCastFilterCnt, 3u);
  EXPECT_TRUE(Restore.MCastFilterIsPoolBlock);
  EXPECT_EQ(Restore.MCastFilterBlockSize, 96u);
  EXPECT_TRUE(SameMacs(Restore.MCastEntries, ThreeMulticast.data(), 3));
  EXPECT_NE(Restore.MCastFilter, Snp.Mode.MCastFilter); // a copy, not the Mode's own list
  // The copy is taken before the interface goes down and released after the filters are back.
  long Copy = Firmware->FirstEvent("AllocatePool 96");
  ASSERT_GE(Copy, 0);
  EXPECT_LT(Copy, Firmware->FirstEvent("SNP.Shutdown"));
  EXPECT_EQ(Firmware->Events.back(), "FreePool");
  EXPECT_FALSE(Firmware->IsLiveBlock(Restore.MCastFilter));
  // The interface holds what it held before.
  EXPECT_EQ(Snp.Mode.ReceiveFilterSetting, 0x03u);
  EXPECT_EQ(Snp.Mode.MCastFilterCount, 3u);
  EXPECT_TRUE(SameMacs(ThreeMulticast, Snp.Mode.MCastFilter, 3));
}

TEST_F(MediaDetectTest, InitializedWithoutMulticastTakesNoPoolAndResetsTheList) {
  Arrange(Initialized);
  Snp.SetMulticast({});
  Snp.Mode.ReceiveFilterMask = 0x07;
  Snp.Mode.ReceiveFilterSetting = 0x05;
  BOOLEAN MediaPresent = Untouched;
  ASSERT_EQ(DetectMediaPresent(&MediaPresent), EFI_SUCCESS);
  EXPECT_EQ(Firmware->AllocationCount(), 0u);
  const auto &Restore = Snp.Calls.back();
  ASSERT_EQ(Restore.Operation, Op::ReceiveFilters);
  EXPECT_EQ(Restore.Enable, 0x05u);
  EXPECT_EQ(Restore.Disable, 0x02u);
  EXPECT_EQ(Restore.ResetMCastFilter, TRUE);
  EXPECT_EQ(Restore.MCastFilterCnt, 0u);
  EXPECT_EQ(Restore.MCastFilter, nullptr);
  EXPECT_EQ(Snp.Mode.ReceiveFilterSetting, 0x05u);
}

TEST_F(MediaDetectTest, FullMulticastListOfSixteenIsCopiedWhole) {
  Arrange(Initialized);
  std::vector<EFI_MAC_ADDRESS> Sixteen;
  for (UINT8 Index = 0; Index < 16; Index++) {
    Sixteen.push_back(MacOf(static_cast<UINT8>(Index * 8)));
  }
  Snp.SetMulticast(Sixteen);
  BOOLEAN MediaPresent = Untouched;
  ASSERT_EQ(DetectMediaPresent(&MediaPresent), EFI_SUCCESS);
  EXPECT_EQ(Snp.Calls.back().MCastFilterBlockSize, 512u);
  EXPECT_TRUE(SameMacs(Sixteen, Snp.Mode.MCastFilter, 16));
}

TEST_F(MediaDetectTest, OutByteIsCopiedAsTheFirmwareHoldsIt) {
  Arrange(Stopped);
  const BOOLEAN Readings[] = {0, 1, 2, 0xFF};
  for (UINT32 State : {Stopped, Started, Initialized}) {
    for (BOOLEAN Reading : Readings) {
      SCOPED_TRACE(testing::Message() << "state " << State << " reading " << int(Reading));
      Snp.Mode.State = State;
      Snp.LinkMedia = Reading;
      BOOLEAN MediaPresent = Untouched;
      EXPECT_EQ(DetectMediaPresent(&MediaPresent), EFI_SUCCESS);
      EXPECT_EQ(MediaPresent, Reading);
      EXPECT_EQ(Snp.Mode.State, State);
    }
  }
}

TEST_F(MediaDetectTest, OnlyTheFirstInterfaceTheFirmwareReturnsIsExamined) {
  Arrange(Stopped);
  SimpleNetworkDouble Second;
  Second.LinkMedia = FALSE;
  Second.Publish(*Firmware);
  BOOLEAN MediaPresent = Untouched;
  ASSERT_EQ(DetectMediaPresent(&MediaPresent), EFI_SUCCESS);
  EXPECT_EQ(MediaPresent, TRUE);
  EXPECT_EQ(Snp.Calls.size(), 4u);
  EXPECT_TRUE(Second.Calls.empty());
}

TEST_F(MediaDetectTest, NothingIsKeptBetweenCalls) {
  Arrange(Started);
  BOOLEAN MediaPresent = Untouched;
  ASSERT_EQ(DetectMediaPresent(&MediaPresent), EFI_SUCCESS);
  Snp.LinkMedia = FALSE;
  Snp.Mode.State = Stopped;
  ASSERT_EQ(DetectMediaPresent(&MediaPresent), EFI_SUCCESS);
  EXPECT_EQ(MediaPresent, FALSE);
  EXPECT_EQ(Firmware->LocateCalls.size(), 2u);
  EXPECT_EQ(Snp.Calls.size(), 2u + 4u);
}

} // namespace
