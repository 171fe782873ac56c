/*
 * The network companion on the firmware double: which cards it connects,
 * where it publishes each PXE Base Code instance, that the variant goes
 * before the standard interface can, the service's card first, a second
 * copy, and failures at every allocation and every boot-service call.
 */
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "Double/NetworkStackDouble.h"
#include "Library/FirmwareTables.h"
#include "Protocol/TolvaneNetworkSetup.h"

extern "C" EFI_STATUS EFIAPI NetworkSetupEntry(EFI_HANDLE Image, EFI_SYSTEM_TABLE *Table);

namespace {
using FirmwareDouble::CardDouble;
using FirmwareDouble::GuidText;

constexpr EFI_GUID PxeGuid = EFI_PXE_BASE_CODE_PROTOCOL_GUID;
constexpr EFI_GUID VariantGuid = PXE_BASE_CODE_VARIANT_GUID;
constexpr EFI_GUID MarkGuid = TOLVANE_NETWORK_SETUP_PROTOCOL_GUID;
constexpr EFI_GUID BindingGuid = EFI_DRIVER_BINDING_PROTOCOL_GUID;
constexpr EFI_GUID SimpleNetworkGuid = EFI_SIMPLE_NETWORK_PROTOCOL_GUID;

/* What happens, in order: the companion starts, or a card's drivers come up. */
enum class Step {
  PlugCards,
  Companion,
  ConnectFirst,
  ConnectSecond,
  CardFirst,
  CardSecond,
  PxeFirst,
  PxeSecond,
  ReadyToBoot
};

struct ArrivalRow {
  const char *Name;
  std::vector<Step> Steps;
  bool SecondIsServiceCard; // its card driver started first, so its Simple Network is the one the service checks
};

class NetworkSetupTest : public ::testing::Test {
protected:
  void SetUp() override { Begin(); }

  void TearDown() override {
    EXPECT_TRUE(Firmware->PoolErrors().empty()) << ::testing::PrintToString(Firmware->PoolErrors());
    EXPECT_TRUE(Firmware->Leaks().empty()) << ::testing::PrintToString(Firmware->Leaks());
    End();
  }

  /* A fresh machine: two network cards, nothing connected (no card at all unless WithCards). */
  void Begin(bool WithCards = true) {
    ImageHandle = nullptr;
    SystemTable = nullptr;
    BootServices = nullptr;
    Firmware = std::make_unique<FirmwareDouble::Firmware>();
    Stack = std::make_unique<FirmwareDouble::NetworkStackDouble>(*Firmware);
    if (WithCards) {
      PlugCards();
    }
  }

  void PlugCards() {
    First = &Stack->AddCard(3);
    Second = &Stack->AddCard(4);
  }

  void End() {
    Stack.reset();
    Firmware.reset();
  }

  EFI_STATUS StartCompanion() { return NetworkSetupEntry(Firmware->Image(), Firmware->Table()); }

  void Run(Step Action) {
    EFI_BOOT_SERVICES &Services = *Firmware->Services();
    switch (Action) {
    case Step::PlugCards:
      PlugCards();
      break;
    case Step::Companion:
      ASSERT_EQ(StartCompanion(), EFI_SUCCESS);
      break;
    case Step::ConnectFirst:
      Services.ConnectController(First->PciHandle, nullptr, nullptr, TRUE);
      break;
    case Step::ConnectSecond:
      Services.ConnectController(Second->PciHandle, nullptr, nullptr, TRUE);
      break;
    case Step::CardFirst:
      Stack->StartCardDriver(*First);
      break;
    case Step::CardSecond:
      Stack->StartCardDriver(*Second);
      break;
    case Step::PxeFirst:
      Stack->StartPxeDriver(*First);
      break;
    case Step::PxeSecond:
      Stack->StartPxeDriver(*Second);
      break;
    case Step::ReadyToBoot:
      SignalReadyToBoot(Services);
      break;
    }
  }

  /* What the boot manager does before it starts a boot option: signal the ReadyToBoot group through an event of its
   * own. */
  static void SignalReadyToBoot(EFI_BOOT_SERVICES &Services) {
    constexpr EFI_GUID Group = EFI_EVENT_GROUP_READY_TO_BOOT;
    EFI_EVENT Event;
    ASSERT_EQ(Services.CreateEventEx(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, Ignore, nullptr, &Group, &Event), EFI_SUCCESS);
    Services.SignalEvent(Event);
    Services.CloseEvent(Event);
  }
  static VOID EFIAPI Ignore(EFI_EVENT, VOID *) {}

  /* The interface LocateProtocol finds under the variant GUID, as the service asks; nullptr when none. */
  VOID *FoundVariant() {
    VOID *Interface = nullptr;
    Firmware->Services()->LocateProtocol(&VariantGuid, nullptr, &Interface);
    return Interface;
  }

  /* Every variant is the standard interface of its own handle, held BY_DRIVER by the companion. */
  void ExpectEveryVariantBacked() {
    for (EFI_HANDLE Handle : Firmware->HandlesWith(VariantGuid)) {
      VOID *Variant = Firmware->InterfaceOn(Handle, VariantGuid);
      EXPECT_EQ(Firmware->InterfaceOn(Handle, PxeGuid), Variant) << "a variant without its standard interface";
      bool Held = false;
      for (const auto &Open : Firmware->OpensOf(Handle, PxeGuid)) {
        Held = Held || (Open.Agent == Firmware->Image() && Open.Attributes == EFI_OPEN_PROTOCOL_BY_DRIVER);
      }
      EXPECT_TRUE(Held) << "a variant whose standard interface the companion does not hold";
    }
  }

  /* Both PXE drivers let go of their cards: nothing of PXE Base Code, standard or variant, may remain. */
  void ExpectPxeDriversLeaveNothing() {
    for (CardDouble *Card : {First, Second}) {
      if (Card->PxeHandle != nullptr) {
        EXPECT_EQ(Stack->StopPxeDriver(*Card), EFI_SUCCESS);
        EXPECT_EQ(Card->PxeHandle, nullptr);
      }
    }
    EXPECT_TRUE(Firmware->HandlesWith(VariantGuid).empty()) << "a variant outlived its PXE Base Code";
    EXPECT_TRUE(Firmware->HandlesWith(PxeGuid).empty());
  }

  std::unique_ptr<FirmwareDouble::Firmware> Firmware;
  std::unique_ptr<FirmwareDouble::NetworkStackDouble> Stack;
  CardDouble *First = nullptr;
  CardDouble *Second = nullptr;
};

class NetworkSetupArrivalTest : public NetworkSetupTest, public ::testing::WithParamInterface<ArrivalRow> {};

const ArrivalRow ArrivalRows[] = {
    {"CardsPresentAtEntryAreConnectedAndPublished", {Step::Companion}, false},
    {"CardsConnectedAfterEntryArePublishedThroughTheBinding",
     {Step::Companion, Step::PlugCards, Step::ConnectFirst, Step::ConnectSecond},
     false},
    {"OtherCardConnectedAfterEntryStaysBehindTheServiceCard",
     {Step::ConnectFirst, Step::Companion, Step::ConnectSecond},
     false},
    {"ServiceCardLaterOnTheBusComesFirstAfterEntry", {Step::CardSecond, Step::Companion}, true},
    {"ServiceCardPxeArrivingAfterEntryBehindTheOtherComesFirst",
     {Step::CardSecond, Step::CardFirst, Step::PxeFirst, Step::Companion},
     true},
    {"PxeInstancesArrivingAfterEntryArePublishedThroughTheNotifyServiceCardFirst",
     {Step::Companion, Step::PlugCards, Step::CardSecond, Step::CardFirst, Step::PxeFirst, Step::PxeSecond},
     true},
    // Dispatched from the firmware volume: the cards are enumerated after the entry and nothing connects them.
    {"CardsEnumeratedAfterEntryAreSetUpAtReadyToBoot", {Step::Companion, Step::PlugCards, Step::ReadyToBoot}, false},
    {"ReadyToBootAgainChangesNothing", {Step::Companion, Step::PlugCards, Step::ReadyToBoot, Step::ReadyToBoot}, false},
    {"PxeOfTheOtherCardArrivingFirstAfterEntryStillLeavesTheServiceCardFirst",
     {Step::Companion, Step::PlugCards, Step::CardFirst, Step::CardSecond, Step::PxeSecond, Step::PxeFirst},
     false},
};

TEST_P(NetworkSetupArrivalTest, EachPxeInstanceIsPublishedWithTheServiceCardFirst) {
  const auto &Steps = GetParam().Steps;
  if (std::find(Steps.begin(), Steps.end(), Step::PlugCards) != Steps.end()) {
    End();
    Begin(false);
  }
  for (Step Action : GetParam().Steps) {
    Run(Action);
  }
  ASSERT_NE(First->PxeHandle, nullptr);
  ASSERT_NE(Second->PxeHandle, nullptr);
  EXPECT_EQ(Firmware->InterfaceOn(First->PxeHandle, VariantGuid), First->Pxe.Interface());
  EXPECT_EQ(Firmware->InterfaceOn(Second->PxeHandle, VariantGuid), Second->Pxe.Interface());
  // The service checks the link of the first Simple Network and downloads through the first variant.
  CardDouble &ServiceCard = GetParam().SecondIsServiceCard ? *Second : *First;
  VOID *ServiceNetwork = nullptr;
  Firmware->Services()->LocateProtocol(&SimpleNetworkGuid, nullptr, &ServiceNetwork);
  ASSERT_EQ(ServiceNetwork, ServiceCard.Snp.Interface());
  EXPECT_EQ(FoundVariant(), ServiceCard.Pxe.Interface()) << "the service would download through the other card";
  ExpectEveryVariantBacked();
  ExpectPxeDriversLeaveNothing();
}

INSTANTIATE_TEST_SUITE_P(Rows, NetworkSetupArrivalTest, ::testing::ValuesIn(ArrivalRows),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(NetworkSetupTest, PxeDriverStoppingAsksTheCompanionToTakeTheVariantAwayFirst) {
  ASSERT_EQ(StartCompanion(), EFI_SUCCESS);
  ASSERT_EQ(Firmware->HandlesWith(VariantGuid).size(), 2u);
  EFI_HANDLE Handle = First->PxeHandle;
  EXPECT_EQ(Stack->StopPxeDriver(*First), EFI_SUCCESS);
  EXPECT_FALSE(Firmware->IsValidHandle(Handle)) << "the PXE child kept an interface: the variant dangles";
  EXPECT_EQ(FoundVariant(), Second->Pxe.Interface());
  ExpectEveryVariantBacked();
}

TEST_F(NetworkSetupTest, UninstallOfTheStandardInterfaceTakesTheVariantWithIt) {
  ASSERT_EQ(StartCompanion(), EFI_SUCCESS);
  EFI_HANDLE Handle = Second->PxeHandle;
  EXPECT_EQ(Firmware->Services()->UninstallProtocolInterface(Handle, &PxeGuid, Second->Pxe.Interface()), EFI_SUCCESS);
  EXPECT_EQ(Firmware->InterfaceOn(Handle, VariantGuid), nullptr);
  EXPECT_TRUE(Firmware->OpensOf(Handle, PxeGuid).empty());
}

TEST_F(NetworkSetupTest, VariantThatCannotGoKeepsTheStandardInterfaceInPlace) {
  ASSERT_EQ(StartCompanion(), EFI_SUCCESS);
  // The PXE driver's uninstall answers as usual; the companion's, in its Stop, fails.
  Firmware->InjectStatus("UninstallMultipleProtocolInterfaces", EFI_SUCCESS);
  Firmware->InjectStatus("UninstallMultipleProtocolInterfaces", EFI_DEVICE_ERROR);
  EXPECT_EQ(Stack->StopPxeDriver(*First), EFI_DEVICE_ERROR);
  EXPECT_EQ(Firmware->InterfaceOn(First->PxeHandle, VariantGuid), First->Pxe.Interface());
  ExpectEveryVariantBacked();
  ExpectPxeDriversLeaveNothing();
}

TEST_F(NetworkSetupTest, CardReconnectedIsPublishedAgain) {
  ASSERT_EQ(StartCompanion(), EFI_SUCCESS);
  ASSERT_EQ(Stack->StopPxeDriver(*First), EFI_SUCCESS);
  Stack->StartPxeDriver(*First);
  EXPECT_EQ(Firmware->InterfaceOn(First->PxeHandle, VariantGuid), First->Pxe.Interface());
  EXPECT_EQ(FoundVariant(), First->Pxe.Interface());
  ExpectEveryVariantBacked();
}

TEST_F(NetworkSetupTest, SecondCopyInstallsNothingAndLeaves) {
  ASSERT_EQ(StartCompanion(), EFI_SUCCESS);
  size_t Installs = Firmware->Installs.size();
  size_t Events = Firmware->OpenEventCount();
  EFI_HANDLE SecondImage = Firmware->NewHandle();
  EXPECT_EQ(NetworkSetupEntry(SecondImage, Firmware->Table()), EFI_ALREADY_STARTED);
  EXPECT_EQ(Firmware->Installs.size(), Installs);
  EXPECT_EQ(Firmware->HandlesWith(MarkGuid).size(), 1u);
  EXPECT_EQ(Firmware->InterfaceOn(SecondImage, BindingGuid), nullptr);
  EXPECT_EQ(Firmware->OpenEventCount(), Events);
  EXPECT_EQ(Firmware->HandlesWith(VariantGuid).size(), 2u);
  ImageHandle = Firmware->Image(); // both copies share the library's tables on the host
}

TEST_F(NetworkSetupTest, BindingThatCannotBeInstalledFailsTheEntryAndPublishesNothing) {
  Firmware->InjectStatus("InstallMultipleProtocolInterfaces", EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(StartCompanion(), EFI_OUT_OF_RESOURCES);
  EXPECT_TRUE(Firmware->HandlesWith(MarkGuid).empty());
  EXPECT_TRUE(Firmware->HandlesWith(VariantGuid).empty());
}

TEST_F(NetworkSetupTest, WithoutTheWatchCardsPresentAtEntryAreStillPublished) {
  Firmware->InjectStatus("RegisterProtocolNotify", EFI_OUT_OF_RESOURCES);
  ASSERT_EQ(StartCompanion(), EFI_SUCCESS);
  EXPECT_EQ(Firmware->HandlesWith(VariantGuid).size(), 2u);
  // The ReadyToBoot event stays; the event of the failed registration does not.
  EXPECT_EQ(Firmware->OpenEventCount(), 1u) << "the event of a failed registration stays open";
}

/*
 * The sweeps: both cards' PXE Base Code present before entry, the other
 * card's first (so that the entry also has to re-order). Failing each
 * allocation, then each boot-service call of the entry in turn, leaves
 * every variant backed, nothing leaked, and the PXE drivers still able to
 * go without leaving anything behind.
 */
void PrepareForSweep(FirmwareDouble::NetworkStackDouble &Stack, CardDouble &First, CardDouble &Second) {
  Stack.StartCardDriver(First);
  Stack.StartCardDriver(Second);
  Stack.StartPxeDriver(Second);
  Stack.StartPxeDriver(First);
}

TEST_F(NetworkSetupTest, AllocationFailureSweepLeavesNoHalfPublishedState) {
  size_t Failing = 1;
  for (;; Failing++) {
    SCOPED_TRACE("failing allocation " + std::to_string(Failing));
    PrepareForSweep(*Stack, *First, *Second);
    size_t Before = Firmware->AllocationCount();
    Firmware->FailAllocationNumber(Before + Failing);
    EXPECT_EQ(StartCompanion(), EFI_SUCCESS);
    bool Reached = Firmware->AllocationCount() >= Before + Failing;
    Firmware->FailAllocationNumber(0);
    ExpectEveryVariantBacked();
    ExpectPxeDriversLeaveNothing();
    EXPECT_TRUE(Firmware->Leaks().empty()) << ::testing::PrintToString(Firmware->Leaks());
    End();
    Begin();
    if (!Reached) {
      break;
    }
  }
  EXPECT_GT(Failing, 2u);
}

TEST_F(NetworkSetupTest, BootServiceFailureSweepLeavesNoHalfPublishedState) {
  size_t Failing = 1;
  for (;; Failing++) {
    SCOPED_TRACE("failing boot-service call " + std::to_string(Failing));
    PrepareForSweep(*Stack, *First, *Second);
    size_t Before = Firmware->ServiceCallCount();
    Firmware->FailServiceCallNumber(Before + Failing);
    EFI_STATUS Status = StartCompanion();
    bool Reached = Firmware->ServiceCallCount() >= Before + Failing;
    Firmware->FailServiceCallNumber(0);
    if (EFI_ERROR(Status)) {
      // Only a binding that could not be installed fails the entry: then nothing of the companion stays.
      EXPECT_TRUE(Firmware->HandlesWith(MarkGuid).empty());
      EXPECT_TRUE(Firmware->HandlesWith(VariantGuid).empty());
    }
    ExpectEveryVariantBacked();
    ExpectPxeDriversLeaveNothing();
    EXPECT_TRUE(Firmware->Leaks().empty()) << ::testing::PrintToString(Firmware->Leaks());
    End();
    Begin();
    if (!Reached) {
      break;
    }
  }
  EXPECT_GT(Failing, 20u);
}

} // namespace
