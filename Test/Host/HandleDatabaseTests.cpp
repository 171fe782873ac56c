/*
 * The double's own rules where the UEFI specification is subtle: the open
 * attributes, an uninstall while an agent holds an interface BY_DRIVER,
 * notifications one handle at a time, all-or-nothing multiple installs,
 * and notify functions that do not run inside each other.
 */
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Double/FirmwareDouble.h"
#include "Protocol/DriverBinding.h"

namespace {
constexpr EFI_GUID WidgetGuid = {0x1D5E0B8A, 0x2C3F, 0x4A71, {0x9E, 0x10, 0x44, 0x5A, 0x6B, 0x7C, 0x8D, 0x9E}};
constexpr EFI_GUID GadgetGuid = {0x2E6F1C9B, 0x3D40, 0x4B82, {0xAF, 0x21, 0x55, 0x6B, 0x7C, 0x8D, 0x9E, 0xAF}};
constexpr EFI_GUID BindingGuid = EFI_DRIVER_BINDING_PROTOCOL_GUID;

/* A driver whose Stop can be told to refuse; it counts its calls. */
struct AgentRecord {
  EFI_DRIVER_BINDING_PROTOCOL Binding;
  EFI_HANDLE Controller = nullptr;
  bool RefuseStop = false;
  int Stops = 0;
  int Starts = 0;
};

AgentRecord &AgentOf(EFI_DRIVER_BINDING_PROTOCOL *This) { return *reinterpret_cast<AgentRecord *>(This); }

EFI_STATUS EFIAPI AgentSupported(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller, EFI_DEVICE_PATH_PROTOCOL *) {
  VOID *Interface;
  EFI_STATUS Status = FirmwareDouble::Firmware::Current()->Services()->OpenProtocol(
      Controller, &WidgetGuid, &Interface, This->DriverBindingHandle, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER);
  if (EFI_ERROR(Status)) {
    return Status;
  }
  FirmwareDouble::Firmware::Current()->Services()->CloseProtocol(Controller, &WidgetGuid, This->DriverBindingHandle,
                                                                 Controller);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI AgentStart(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller, EFI_DEVICE_PATH_PROTOCOL *) {
  VOID *Interface;
  AgentOf(This).Starts++;
  return FirmwareDouble::Firmware::Current()->Services()->OpenProtocol(
      Controller, &WidgetGuid, &Interface, This->DriverBindingHandle, Controller, EFI_OPEN_PROTOCOL_BY_DRIVER);
}

EFI_STATUS EFIAPI AgentStop(EFI_DRIVER_BINDING_PROTOCOL *This, EFI_HANDLE Controller, UINTN, EFI_HANDLE *) {
  AgentOf(This).Stops++;
  if (AgentOf(This).RefuseStop) {
    return EFI_DEVICE_ERROR;
  }
  return FirmwareDouble::Firmware::Current()->Services()->CloseProtocol(Controller, &WidgetGuid,
                                                                        This->DriverBindingHandle, Controller);
}

class HandleDatabaseTest : public ::testing::Test {
protected:
  void SetUp() override {
    Firmware = std::make_unique<FirmwareDouble::Firmware>();
    Services = Firmware->Services();
    // Made by the firmware, not by a test: gone with its last interface.
    ASSERT_EQ(Services->InstallProtocolInterface(&Controller, &WidgetGuid, EFI_NATIVE_INTERFACE, &Widget), EFI_SUCCESS);
  }

  /* A driver with its binding on a handle of its own. */
  AgentRecord &AddAgent() {
    auto &Agent = *Agents.emplace_back(std::make_unique<AgentRecord>());
    Agent.Binding = {AgentSupported, AgentStart, AgentStop, 0x10, nullptr, nullptr};
    EFI_HANDLE Handle = Firmware->NewHandle();
    Agent.Binding.ImageHandle = Agent.Binding.DriverBindingHandle = Handle;
    Firmware->PublishOn(Handle, BindingGuid, &Agent.Binding);
    return Agent;
  }

  EFI_STATUS Open(EFI_HANDLE Agent, UINT32 Attributes) {
    VOID *Interface = nullptr;
    return Services->OpenProtocol(Controller, &WidgetGuid, &Interface, Agent, Controller, Attributes);
  }

  std::unique_ptr<FirmwareDouble::Firmware> Firmware;
  EFI_BOOT_SERVICES *Services = nullptr;
  int Widget = 0;
  int Gadget = 0;
  EFI_HANDLE Controller = nullptr;
  std::vector<std::unique_ptr<AgentRecord>> Agents;
};

/* Two opens of the same interface, the first by agent 1, the second by agent 1 again or by agent 2. */
struct OpenRow {
  const char *Name;
  UINT32 First;
  bool SameAgent;
  UINT32 Second;
  EFI_STATUS Expected;
};

class OpenAttributeTest : public HandleDatabaseTest, public ::testing::WithParamInterface<OpenRow> {};

constexpr UINT32 ByDriver = EFI_OPEN_PROTOCOL_BY_DRIVER;
constexpr UINT32 Exclusive = EFI_OPEN_PROTOCOL_EXCLUSIVE;
constexpr UINT32 GetProtocol = EFI_OPEN_PROTOCOL_GET_PROTOCOL;

const OpenRow OpenRows[] = {
    {"ByDriverAgainBySameAgentIsAlreadyStarted", ByDriver, true, ByDriver, EFI_ALREADY_STARTED},
    {"ByDriverByAnotherAgentIsDenied", ByDriver, false, ByDriver, EFI_ACCESS_DENIED},
    {"GetProtocolBesideByDriverIsGranted", ByDriver, false, GetProtocol, EFI_SUCCESS},
    {"ByDriverAfterExclusiveIsDenied", Exclusive, false, ByDriver, EFI_ACCESS_DENIED},
    {"ExclusiveAfterExclusiveIsDenied", Exclusive, false, Exclusive, EFI_ACCESS_DENIED},
    {"ByDriverExclusiveAgainBySameAgentIsAlreadyStarted", ByDriver | Exclusive, true, ByDriver | Exclusive,
     EFI_ALREADY_STARTED},
    {"AttributesOutsideTheTableAreInvalid", GetProtocol, true, ByDriver | GetProtocol, EFI_INVALID_PARAMETER},
};

TEST_P(OpenAttributeTest, SecondOpenAnswers) {
  EFI_HANDLE First = Firmware->NewHandle();
  EFI_HANDLE Second = GetParam().SameAgent ? First : Firmware->NewHandle();
  ASSERT_EQ(Open(First, GetParam().First), EFI_SUCCESS);
  EXPECT_EQ(Open(Second, GetParam().Second), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Rows, OpenAttributeTest, ::testing::ValuesIn(OpenRows),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(HandleDatabaseTest, ExclusiveOpenStopsTheByDriverHolderFirst) {
  AgentRecord &Holder = AddAgent();
  ASSERT_EQ(Services->ConnectController(Controller, nullptr, nullptr, FALSE), EFI_SUCCESS);
  ASSERT_EQ(Holder.Starts, 1);
  EXPECT_EQ(Open(Firmware->NewHandle(), Exclusive), EFI_SUCCESS);
  EXPECT_EQ(Holder.Stops, 1);
}

TEST_F(HandleDatabaseTest, ExclusiveOpenIsDeniedWhileTheHolderRefusesToStop) {
  AgentRecord &Holder = AddAgent();
  ASSERT_EQ(Services->ConnectController(Controller, nullptr, nullptr, FALSE), EFI_SUCCESS);
  Holder.RefuseStop = true;
  EXPECT_EQ(Open(Firmware->NewHandle(), Exclusive), EFI_ACCESS_DENIED);
}

TEST_F(HandleDatabaseTest, UninstallAsksTheHolderToStopThenTakesTheInterface) {
  AgentRecord &Holder = AddAgent();
  ASSERT_EQ(Services->ConnectController(Controller, nullptr, nullptr, FALSE), EFI_SUCCESS);
  EXPECT_EQ(Services->UninstallProtocolInterface(Controller, &WidgetGuid, &Widget), EFI_SUCCESS);
  EXPECT_EQ(Holder.Stops, 1);
  EXPECT_FALSE(Firmware->IsValidHandle(Controller)) << "a handle with no interface left stays";
}

TEST_F(HandleDatabaseTest, UninstallRefusedByTheHolderLeavesItConnectedAgain) {
  AgentRecord &Holder = AddAgent();
  ASSERT_EQ(Services->ConnectController(Controller, nullptr, nullptr, FALSE), EFI_SUCCESS);
  Holder.RefuseStop = true;
  EXPECT_EQ(Services->UninstallProtocolInterface(Controller, &WidgetGuid, &Widget), EFI_ACCESS_DENIED);
  EXPECT_EQ(Firmware->InterfaceOn(Controller, WidgetGuid), &Widget);
  ASSERT_EQ(Firmware->OpensOf(Controller, WidgetGuid).size(), 1u);
  EXPECT_EQ(Firmware->OpensOf(Controller, WidgetGuid)[0].Attributes, ByDriver);
}

TEST_F(HandleDatabaseTest, UninstallOfAnInterfaceHeldByAnAgentWithoutBindingIsDenied) {
  ASSERT_EQ(Open(Firmware->NewHandle(), ByDriver), EFI_SUCCESS);
  EXPECT_EQ(Services->UninstallProtocolInterface(Controller, &WidgetGuid, &Widget), EFI_ACCESS_DENIED);
}

TEST_F(HandleDatabaseTest, ReinstallStopsAndRestartsTheHolder) {
  AgentRecord &Holder = AddAgent();
  ASSERT_EQ(Services->ConnectController(Controller, nullptr, nullptr, FALSE), EFI_SUCCESS);
  int Other = 0;
  EXPECT_EQ(Services->ReinstallProtocolInterface(Controller, &WidgetGuid, &Widget, &Other), EFI_SUCCESS);
  EXPECT_EQ(Holder.Stops, 1);
  EXPECT_EQ(Holder.Starts, 2);
  EXPECT_EQ(Firmware->InterfaceOn(Controller, WidgetGuid), &Other);
}

TEST_F(HandleDatabaseTest, LocateProtocolFindsTheEarliestInstalled) {
  int Later = 0;
  Firmware->Publish(GadgetGuid, &Gadget);
  Firmware->Publish(GadgetGuid, &Later);
  VOID *Found = nullptr;
  ASSERT_EQ(Services->LocateProtocol(&GadgetGuid, nullptr, &Found), EFI_SUCCESS);
  EXPECT_EQ(Found, &Gadget);
}

/* A notify function that installs an interface itself, and counts how deep it runs. */
struct NotifyProbe {
  int Depth = 0;
  int MaxDepth = 0;
  int Calls = 0;
  VOID *Registration = nullptr;
  std::vector<EFI_HANDLE> Seen;
};

VOID EFIAPI ProbeNotify(EFI_EVENT, VOID *Context) {
  auto &Probe = *static_cast<NotifyProbe *>(Context);
  Probe.Calls++;
  Probe.MaxDepth = std::max(Probe.MaxDepth, ++Probe.Depth);
  EFI_BOOT_SERVICES *Services = FirmwareDouble::Firmware::Current()->Services();
  for (;;) {
    EFI_HANDLE Handle;
    UINTN Size = sizeof(Handle);
    if (EFI_ERROR(Services->LocateHandle(ByRegisterNotify, nullptr, Probe.Registration, &Size, &Handle))) {
      break;
    }
    Probe.Seen.push_back(Handle);
    if (Probe.Seen.size() == 1) {
      // An installation from inside the notify function: its notification waits for this one to return.
      static int Nested = 0;
      EFI_HANDLE New = nullptr;
      Services->InstallProtocolInterface(&New, &GadgetGuid, EFI_NATIVE_INTERFACE, &Nested);
    }
  }
  Probe.Depth--;
}

TEST_F(HandleDatabaseTest, NotifyHandsOutEachNewHandleOnceAndNeverRunsInsideItself) {
  NotifyProbe Probe;
  EFI_EVENT Event;
  ASSERT_EQ(Services->CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, ProbeNotify, &Probe, &Event), EFI_SUCCESS);
  ASSERT_EQ(Services->RegisterProtocolNotify(&GadgetGuid, Event, &Probe.Registration), EFI_SUCCESS);
  EFI_HANDLE Before = Firmware->Publish(GadgetGuid, &Gadget);
  EXPECT_EQ(Probe.MaxDepth, 1);
  ASSERT_EQ(Probe.Seen.size(), 2u);
  EXPECT_EQ(Probe.Seen[0], Before);
  EXPECT_EQ(Probe.Calls, 2) << "the nested installation signals once more, after the first call returned";
  EFI_HANDLE Handle;
  UINTN Size = sizeof(Handle);
  EXPECT_EQ(Services->LocateHandle(ByRegisterNotify, nullptr, Probe.Registration, &Size, &Handle), EFI_NOT_FOUND);
  ASSERT_EQ(Services->CloseEvent(Event), EFI_SUCCESS);
  EXPECT_EQ(Services->LocateHandle(ByRegisterNotify, nullptr, Probe.Registration, &Size, &Handle),
            EFI_INVALID_PARAMETER);
}

TEST_F(HandleDatabaseTest, MultipleInstallIsAllOrNothing) {
  EFI_HANDLE Handle = nullptr;
  // The second interface is already on the handle: the first must not stay either.
  EXPECT_EQ(
      Services->InstallMultipleProtocolInterfaces(&Controller, &GadgetGuid, &Gadget, &WidgetGuid, &Widget, nullptr),
      EFI_INVALID_PARAMETER);
  EXPECT_EQ(Firmware->InterfaceOn(Controller, GadgetGuid), nullptr);
  EXPECT_EQ(Services->InstallMultipleProtocolInterfaces(&Handle, &GadgetGuid, &Gadget, nullptr), EFI_SUCCESS);
  EXPECT_EQ(Firmware->InterfaceOn(Handle, GadgetGuid), &Gadget);
}

TEST_F(HandleDatabaseTest, MultipleUninstallIsAllOrNothing) {
  Firmware->PublishOn(Controller, GadgetGuid, &Gadget);
  int Wrong = 0;
  EXPECT_EQ(
      Services->UninstallMultipleProtocolInterfaces(Controller, &GadgetGuid, &Gadget, &WidgetGuid, &Wrong, nullptr),
      EFI_INVALID_PARAMETER);
  EXPECT_EQ(Firmware->InterfaceOn(Controller, GadgetGuid), &Gadget);
  EXPECT_EQ(Firmware->InterfaceOn(Controller, WidgetGuid), &Widget);
}

TEST_F(HandleDatabaseTest, DriverListIsTriedFirstThenTheOthersByVersion) {
  AgentRecord &Low = AddAgent();
  AgentRecord &High = AddAgent();
  High.Binding.Version = 0x20;
  ASSERT_EQ(Services->ConnectController(Controller, nullptr, nullptr, FALSE), EFI_SUCCESS);
  EXPECT_EQ(High.Starts, 1);
  EXPECT_EQ(Low.Starts, 0) << "the interface is held BY_DRIVER by the first to start";
  ASSERT_EQ(Services->DisconnectController(Controller, nullptr, nullptr), EFI_SUCCESS);
  EFI_HANDLE Listed[] = {Low.Binding.DriverBindingHandle, nullptr};
  ASSERT_EQ(Services->ConnectController(Controller, Listed, nullptr, FALSE), EFI_SUCCESS);
  EXPECT_EQ(Low.Starts, 1);
  EXPECT_EQ(High.Starts, 1);
}

TEST_F(HandleDatabaseTest, InjectedStatusFailsOneCallAndChangesNothing) {
  Firmware->InjectStatus("InstallProtocolInterface", EFI_OUT_OF_RESOURCES);
  EFI_HANDLE Handle = nullptr;
  EXPECT_EQ(Services->InstallProtocolInterface(&Handle, &GadgetGuid, EFI_NATIVE_INTERFACE, &Gadget),
            EFI_OUT_OF_RESOURCES);
  EXPECT_TRUE(Firmware->HandlesWith(GadgetGuid).empty());
  EXPECT_EQ(Services->InstallProtocolInterface(&Handle, &GadgetGuid, EFI_NATIVE_INTERFACE, &Gadget), EFI_SUCCESS);
}

} // namespace
