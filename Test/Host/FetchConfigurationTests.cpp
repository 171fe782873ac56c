/* The configuration fetch, driven through the installed interface as a caller would. */
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "Double/ServiceCaller.h"

namespace {

using FirmwareDouble::GuidText;
using FirmwareDouble::MtftpArguments;
using FirmwareDouble::PxeBaseCodeDouble;
using FirmwareDouble::PxeOperation;
using FirmwareDouble::SimpleNetworkDouble;
using FirmwareDouble::SnpOperation;
using Op = PxeOperation;

const EFI_GUID VariantGuid = PXE_BASE_CODE_VARIANT_GUID;
const EFI_GUID PublishedGuid = EFI_PXE_BASE_CODE_PROTOCOL_GUID;
constexpr EFI_STATUS Warning = EFI_WARN_BUFFER_TOO_SMALL;

constexpr EFI_STATUS Step1 = 0x8000000000000001ULL;
constexpr EFI_STATUS Step2 = 0x8000000000000002ULL;
constexpr EFI_STATUS Step3 = 0x8000000000000003ULL;
constexpr EFI_STATUS Step4 = 0x8000000000000004ULL;
constexpr EFI_STATUS Step5 = 0x8000000000000005ULL;

const std::string TwoMachines = "; configuration for two machines\r\n"
                                "[AB12CD34]\r\n"
                                "0 = \"boot image one\"   #first entry\r\n"
                                "1 logo.bmp\r\n"
                                "[EF56GH78]\r\n"
                                "0 other\r\n";
const std::string SectionAb12cd34 = "0 = \"boot image one\"   #first entry\r\n1 logo.bmp\r\n";
const std::string SectionEf56gh78 = "0 other\r\n";
const std::string OnlyOtherMachine = "[EF56GH78]\r\n0 other\r\n";

std::vector<UINT8> Bytes(const std::string &Text) { return std::vector<UINT8>(Text.begin(), Text.end()); }

/* A.B.C.D, with the twelve bytes after it set: they are copied as the caller holds them. */
EFI_IP_ADDRESS AddressOf(UINT8 A, UINT8 B, UINT8 C, UINT8 D) {
  EFI_IP_ADDRESS Address = Ipv4(A, B, C, D);
  for (UINT8 Index = 4; Index < 16; Index++) {
    Address.v6.Addr[Index] = static_cast<UINT8>(0xE0 + Index);
  }
  return Address;
}

std::u16string MachineId() { return std::u16string(ServiceState.MachineId); }

std::string HeldSection() {
  const TextReader &Section = ServiceState.SectionReader;
  return Section.Buffer == nullptr ? std::string()
                                   : std::string(reinterpret_cast<char *>(Section.Buffer), Section.Size);
}

/* Each test publishes the network as it needs it. */
class FetchConfigurationTest : public ServiceCallerTest {
protected:
  FetchConfigurationTest() { PublishNetworkAtSetUp = false; }

  void SetUp() override {
    ServiceCallerTest::SetUp();
    ServeConfiguration(TwoMachines);
    Pxe.DhcpAddress = AddressOf(192, 168, 1, 77);
    ForgetCalls();
  }

  EFI_STATUS Fetch(const char *Identifier = "ab12cd34", const EFI_IP_ADDRESS &Address = AddressOf(192, 168, 1, 5)) {
    return ServiceCallerTest::Fetch(Identifier, Address);
  }

  /* A section held from an earlier fetch of the other machine, from another server. */
  void HoldEarlierSection() {
    ASSERT_EQ(Fetch("ef56gh78", AddressOf(10, 0, 0, 9)), EFI_SUCCESS);
    ASSERT_EQ(HeldSection(), SectionEf56gh78);
    EarlierBuffer = ServiceState.SectionReader.Buffer;
    ForgetCalls();
  }

  UINT8 *EarlierBuffer = nullptr;
};

// ---------------------------------------------------------------------------------------------------------------------
// The path on which everything succeeds.

TEST_F(FetchConfigurationTest, SuccessfulFetchKeepsTheMachineSection) {
  PublishNetwork();
  ASSERT_EQ(Fetch(), EFI_SUCCESS);
  EXPECT_EQ(HeldSection(), SectionAb12cd34);
  EXPECT_TRUE(SameAddress(ServiceState.ServerAddress, AddressOf(192, 168, 1, 5)));
  EXPECT_EQ(MachineId(), u"ab12cd34");
  EXPECT_TRUE(Firmware->IsLiveBlock(ServiceState.SectionReader.Buffer));
  EXPECT_EQ(Firmware->LiveBlockCount(), 1u); // the section only; the download is gone
}

TEST_F(FetchConfigurationTest, SuccessfulFetchMakesTheCallsInOrder) {
  PublishNetwork();
  ASSERT_EQ(Fetch(), EFI_SUCCESS);
  EXPECT_EQ(Snp.Operations(), (std::vector<SnpOperation>{SnpOperation::Start, SnpOperation::Initialize,
                                                         SnpOperation::Shutdown, SnpOperation::Stop}));
  ASSERT_EQ(Pxe.Operations(), (std::vector<PxeOperation>{Op::Start, Op::Dhcp, Op::Start, Op::Mtftp, Op::Mtftp}));
  EXPECT_EQ(Pxe.Calls[0].Flag, FALSE) << "UseIpv6";
  EXPECT_EQ(Pxe.Calls[1].Flag, TRUE) << "SortOffers";
  EXPECT_EQ(Pxe.Calls[2].Flag, FALSE) << "UseIpv6";
  EXPECT_EQ(Pxe.Calls[2].Status, EFI_ALREADY_STARTED);
  // Media detection is over before PXE is touched; the interface is left started, never stopped.
  std::vector<std::string> Locates;
  for (const auto &Guid : Firmware->LocateCalls) {
    Locates.push_back(GuidText(Guid));
  }
  const std::string SnpGuid = "A19832B9-AC25-11D3-9A2D-0090273FC14D";
  const std::string PxeGuid = "04C4E604-AC28-11D3-9A2D-0090273FC14D";
  EXPECT_EQ(Locates, (std::vector<std::string>{SnpGuid, PxeGuid, PxeGuid, PxeGuid, PxeGuid}));
  EXPECT_LT(Firmware->FirstEvent("SNP.Stop"), Firmware->FirstEvent("PXE.Start"));
  EXPECT_EQ(Firmware->FirstEvent("PXE.Stop"), -1);
  EXPECT_TRUE(Pxe.Mode.Started);
  EXPECT_EQ(Snp.Mode.State, static_cast<UINT32>(EfiSimpleNetworkStopped));
}

TEST_F(FetchConfigurationTest, SizeQueryAndReadCarryExactlyTheirArguments) {
  PublishNetwork();
  ASSERT_EQ(Fetch(), EFI_SUCCESS);
  auto Transfers = Pxe.MtftpCalls();
  ASSERT_EQ(Transfers.size(), 2u);
  const MtftpArguments &Size = *Transfers[0];
  const MtftpArguments &Read = *Transfers[1];
  const UINT64 FileSize = TwoMachines.size();

  EXPECT_EQ(Size.Operation, EFI_PXE_BASE_CODE_TFTP_GET_FILE_SIZE);
  EXPECT_TRUE(Size.BufferPtrIsNull);
  EXPECT_EQ(Size.Overwrite, FALSE);
  EXPECT_FALSE(Size.BufferSizeIsNull);
  EXPECT_EQ(Size.BufferSizeOut, FileSize);
  EXPECT_TRUE(Size.BlockSizeIsNull);
  EXPECT_EQ(Size.ServerIp, &ServiceState.ServerAddress);
  EXPECT_EQ(Size.Filename, "rivari.ini");
  EXPECT_EQ(Size.Info, nullptr);
  EXPECT_EQ(Size.DontUseBuffer, TRUE);

  EXPECT_EQ(Read.Operation, EFI_PXE_BASE_CODE_TFTP_READ_FILE);
  EXPECT_FALSE(Read.BufferPtrIsNull);
  EXPECT_EQ(Read.Overwrite, FALSE);
  EXPECT_EQ(Read.BufferSize, Size.BufferSize); // the same size variable, handed back
  EXPECT_EQ(Read.BufferSizeIn, FileSize);
  EXPECT_EQ(Read.BufferSizeOut, FileSize);
  EXPECT_EQ(Read.BlockSizeValue, 64512u);
  EXPECT_EQ(Read.ServerIp, &ServiceState.ServerAddress);
  EXPECT_EQ(Read.Filename, "rivari.ini");
  EXPECT_EQ(Read.Info, nullptr);
  EXPECT_EQ(Read.DontUseBuffer, FALSE);
  for (const MtftpArguments *Transfer : Transfers) {
    EFI_IP_ADDRESS Seen;
    std::memcpy(&Seen, Transfer->ServerIpBytes.data(), sizeof(Seen));
    EXPECT_TRUE(SameAddress(Seen, AddressOf(192, 168, 1, 5)));
  }

  // The read went into a pool block of the file's size, taken between the two transfers and released after.
  const auto &Events = Firmware->Events;
  long Allocation = Firmware->FirstEvent("AllocatePool " + std::to_string(FileSize));
  ASSERT_GE(Allocation, 0);
  long FirstTransfer = Firmware->FirstEvent("PXE.Mtftp");
  long SecondTransfer = -1;
  for (size_t Index = FirstTransfer + 1; Index < Events.size(); Index++) {
    if (Events[Index] == "PXE.Mtftp") {
      SecondTransfer = static_cast<long>(Index);
      break;
    }
  }
  EXPECT_LT(FirstTransfer, Allocation);
  EXPECT_LT(Allocation, SecondTransfer);
  EXPECT_EQ(Events.back(), "FreePool");
  EXPECT_FALSE(Firmware->IsLiveBlock(Read.BufferPtr));
}

// ---------------------------------------------------------------------------------------------------------------------
// Every row of the failure table, each with a section held from an earlier fetch.

struct FailureCase {
  const char *Name;
  void (*Arrange)(SimpleNetworkDouble &Snp, PxeBaseCodeDouble &Pxe, FirmwareDouble::Firmware &Firmware);
  EFI_STATUS Expected;
  std::vector<PxeOperation> PxeCalls;
  bool DownloadAsked; // a pool block of the file's size was asked for
};

void PrintTo(const FailureCase &Case, std::ostream *Stream) { *Stream << Case.Name; }

using FirmwareDouble::Firmware;

const FailureCase FailureCases[] = {
    {"MediaDetectionFails",
     [](SimpleNetworkDouble &Snp, PxeBaseCodeDouble &, Firmware &) { Snp.Mode.MediaPresentSupported = FALSE; },
     Step1,
     {},
     false},
    {"SimpleNetworkStartFails",
     [](SimpleNetworkDouble &Snp, PxeBaseCodeDouble &, Firmware &) {
       Snp.InjectStatus(SnpOperation::Start, EFI_DEVICE_ERROR);
     },
     Step1,
     {},
     false},
    {"NoLink",
     [](SimpleNetworkDouble &Snp, PxeBaseCodeDouble &, Firmware &) { Snp.LinkMedia = FALSE; },
     Step1,
     {},
     false},
    {"LinkByteOtherThanOne",
     [](SimpleNetworkDouble &Snp, PxeBaseCodeDouble &, Firmware &) { Snp.LinkMedia = 2; },
     Step1,
     {},
     false},
    {"DhcpFailsTwice",
     [](SimpleNetworkDouble &, PxeBaseCodeDouble &Pxe, Firmware &) {
       Pxe.DhcpScript = {EFI_TIMEOUT, EFI_TIMEOUT};
     },
     Step2,
     {Op::Start, Op::Dhcp, Op::Start, Op::Dhcp},
     false},
    {"PxeStartFailsTwice",
     [](SimpleNetworkDouble &, PxeBaseCodeDouble &Pxe, Firmware &) {
       Pxe.Mode.Started = FALSE;
       Pxe.InjectStatus(Op::Start, EFI_DEVICE_ERROR);
       Pxe.InjectStatus(Op::Start, EFI_DEVICE_ERROR);
     },
     Step2,
     {Op::Start, Op::Start},
     false},
    {"NoStationAddress",
     [](SimpleNetworkDouble &, PxeBaseCodeDouble &Pxe, Firmware &) {
       Pxe.InjectStatus(Op::Start, EFI_SUCCESS);
       Pxe.InjectStatus(Op::Start, EFI_DEVICE_ERROR);
     },
     Step3,
     {Op::Start, Op::Dhcp, Op::Start},
     false},
    {"SizeQueryOfMissingFile",
     [](SimpleNetworkDouble &, PxeBaseCodeDouble &Pxe, Firmware &) { Pxe.Files.erase("rivari.ini"); },
     Step4,
     {Op::Start, Op::Dhcp, Op::Start, Op::Mtftp},
     false},
    {"SizeQueryTimesOut",
     [](SimpleNetworkDouble &, PxeBaseCodeDouble &Pxe, Firmware &) { Pxe.InjectStatus(Op::Mtftp, EFI_TIMEOUT); },
     Step4,
     {Op::Start, Op::Dhcp, Op::Start, Op::Mtftp},
     false},
    {"DownloadBufferNotAllocated",
     [](SimpleNetworkDouble &, PxeBaseCodeDouble &, Firmware &Double) {
       Double.FailAllocationNumber(Double.AllocationCount() + 1);
     },
     EFI_OUT_OF_RESOURCES,
     {Op::Start, Op::Dhcp, Op::Start, Op::Mtftp},
     true},
    {"ReadTftpErrorIsReturnedAsItIs",
     [](SimpleNetworkDouble &, PxeBaseCodeDouble &Pxe, Firmware &) {
       Pxe.InjectStatus(Op::Mtftp, EFI_SUCCESS);
       Pxe.InjectStatus(Op::Mtftp, EFI_TFTP_ERROR);
     },
     EFI_TFTP_ERROR,
     {Op::Start, Op::Dhcp, Op::Start, Op::Mtftp, Op::Mtftp},
     true},
    {"ReadTimeoutIsReturnedAsItIs",
     [](SimpleNetworkDouble &, PxeBaseCodeDouble &Pxe, Firmware &) {
       Pxe.InjectStatus(Op::Mtftp, EFI_SUCCESS);
       Pxe.InjectStatus(Op::Mtftp, EFI_TIMEOUT);
     },
     EFI_TIMEOUT,
     {Op::Start, Op::Dhcp, Op::Start, Op::Mtftp, Op::Mtftp},
     true},
    {"NoSectionForTheMachine",
     [](SimpleNetworkDouble &, PxeBaseCodeDouble &Pxe, Firmware &) {
       Pxe.Files["rivari.ini"] = Bytes(OnlyOtherMachine);
     },
     Step5,
     {Op::Start, Op::Dhcp, Op::Start, Op::Mtftp, Op::Mtftp},
     true},
    {"HeaderWrittenInLowerCase",
     [](SimpleNetworkDouble &, PxeBaseCodeDouble &Pxe, Firmware &) {
       Pxe.Files["rivari.ini"] = Bytes("[ab12cd34]\r\n0 lower\r\n");
     },
     Step5,
     {Op::Start, Op::Dhcp, Op::Start, Op::Mtftp, Op::Mtftp},
     true},
    {"EmptyFile",
     [](SimpleNetworkDouble &, PxeBaseCodeDouble &Pxe, Firmware &) { Pxe.Files["rivari.ini"] = {}; },
     Step5,
     {Op::Start, Op::Dhcp, Op::Start, Op::Mtftp, Op::Mtftp},
     true},
    {"ReadReceivesLessThanTheHeader",
     // The section lookup sees only the bytes the read reports: here the file is cut inside the header.
     [](SimpleNetworkDouble &, PxeBaseCodeDouble &Pxe, Firmware &) {
       Pxe.ReadReports = TwoMachines.find("[AB12CD34]") + 5;
     },
     Step5,
     {Op::Start, Op::Dhcp, Op::Start, Op::Mtftp, Op::Mtftp},
     true},
};

class FetchFailureTest : public FetchConfigurationTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FetchFailureTest, ReturnsTheRowStatusRecordsTheCallerAndKeepsTheEarlierSection) {
  const FailureCase &Case = GetParam();
  PublishNetwork();
  HoldEarlierSection();
  Case.Arrange(Snp, Pxe, *Firmware);
  size_t AllocationsBefore = Firmware->AllocationCount();

  EXPECT_EQ(Fetch(), Case.Expected);
  EXPECT_EQ(Pxe.Operations(), Case.PxeCalls);
  // The caller's values are recorded whatever happens.
  EXPECT_TRUE(SameAddress(ServiceState.ServerAddress, AddressOf(192, 168, 1, 5)));
  EXPECT_EQ(MachineId(), u"ab12cd34");
  // The earlier section is still the one held, untouched, and the only live block.
  EXPECT_EQ(ServiceState.SectionReader.Buffer, EarlierBuffer);
  EXPECT_EQ(HeldSection(), SectionEf56gh78);
  EXPECT_EQ(Firmware->LiveBlockCount(), 1u);
  bool Asked = false;
  for (size_t Index = AllocationsBefore; Index < Firmware->AllocationSizes.size(); Index++) {
    Asked = Asked || Firmware->AllocationSizes[Index] == Pxe.Files["rivari.ini"].size();
  }
  EXPECT_EQ(Asked, Case.DownloadAsked);
  // Nothing an earlier step started is stopped.
  EXPECT_EQ(Firmware->FirstEvent("PXE.Stop"), -1);
  EXPECT_EQ(Snp.Mode.State, static_cast<UINT32>(EfiSimpleNetworkStopped));
}

INSTANTIATE_TEST_SUITE_P(Rows, FetchFailureTest, ::testing::ValuesIn(FailureCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(FetchConfigurationTest, NoSimpleNetworkInterfaceGivesStepOneAndNoPxeCall) {
  PublishNetwork(false);
  EXPECT_EQ(Fetch(), Step1);
  EXPECT_TRUE(Pxe.Calls.empty());
  ASSERT_EQ(Firmware->LocateCalls.size(), 1u);
  EXPECT_EQ(GuidText(Firmware->LocateCalls[0]), "A19832B9-AC25-11D3-9A2D-0090273FC14D");
  EXPECT_EQ(MachineId(), u"ab12cd34");
  EXPECT_EQ(ServiceState.SectionReader.Buffer, nullptr);
}

TEST_F(FetchConfigurationTest, PxeOnlyUnderThePublishedGuidGivesStepTwoAfterTwoLookups) {
  PublishNetwork(true, PublishedGuid);
  EXPECT_EQ(Fetch(), Step2);
  EXPECT_TRUE(Pxe.Calls.empty());
  ASSERT_EQ(Firmware->LocateCalls.size(), 3u);
  EXPECT_EQ(GuidText(Firmware->LocateCalls[1]), "04C4E604-AC28-11D3-9A2D-0090273FC14D");
  EXPECT_EQ(GuidText(Firmware->LocateCalls[2]), "04C4E604-AC28-11D3-9A2D-0090273FC14D");
  EXPECT_EQ(ServiceState.SectionReader.Buffer, nullptr);
}

// ---------------------------------------------------------------------------------------------------------------------
// The single DHCP retry.

struct DhcpCase {
  const char *Name;
  std::vector<EFI_STATUS> Script;
  EFI_STATUS Expected;
  std::vector<PxeOperation> Calls;
};

void PrintTo(const DhcpCase &Case, std::ostream *Stream) { *Stream << Case.Name; }

const DhcpCase DhcpCases[] = {
    {"FirstAttemptSucceeds", {}, EFI_SUCCESS, {Op::Start, Op::Dhcp, Op::Start, Op::Mtftp, Op::Mtftp}},
    {"FailsOnceThenSucceeds",
     {EFI_TIMEOUT},
     EFI_SUCCESS,
     {Op::Start, Op::Dhcp, Op::Start, Op::Dhcp, Op::Start, Op::Mtftp, Op::Mtftp}},
    {"WarningNeedsNoRetry", {Warning}, EFI_SUCCESS, {Op::Start, Op::Dhcp, Op::Start, Op::Mtftp, Op::Mtftp}},
    {"FailsTwice", {EFI_TIMEOUT, EFI_NO_RESPONSE}, Step2, {Op::Start, Op::Dhcp, Op::Start, Op::Dhcp}},
    {"NoThirdAttempt", {EFI_TIMEOUT, EFI_TIMEOUT, EFI_SUCCESS}, Step2, {Op::Start, Op::Dhcp, Op::Start, Op::Dhcp}},
};

class FetchDhcpTest : public FetchConfigurationTest, public ::testing::WithParamInterface<DhcpCase> {};

TEST_P(FetchDhcpTest, DhcpIsTriedAtMostTwice) {
  const DhcpCase &Case = GetParam();
  PublishNetwork();
  Pxe.DhcpScript.assign(Case.Script.begin(), Case.Script.end());
  EXPECT_EQ(Fetch(), Case.Expected);
  EXPECT_EQ(Pxe.Operations(), Case.Calls);
  EXPECT_EQ(HeldSection(), Case.Expected == EFI_SUCCESS ? SectionAb12cd34 : std::string());
}

INSTANTIATE_TEST_SUITE_P(Scripts, FetchDhcpTest, ::testing::ValuesIn(DhcpCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// ---------------------------------------------------------------------------------------------------------------------
// Warnings from any network call count as success.

struct WarningCase {
  const char *Name;
  void (*Arrange)(SimpleNetworkDouble &Snp, PxeBaseCodeDouble &Pxe);
};

void PrintTo(const WarningCase &Case, std::ostream *Stream) { *Stream << Case.Name; }

const WarningCase WarningCases[] = {
    {"SimpleNetworkInitialize",
     [](SimpleNetworkDouble &Snp, PxeBaseCodeDouble &) { Snp.InjectStatus(SnpOperation::Initialize, Warning); }},
    {"SimpleNetworkReceiveFilters",
     [](SimpleNetworkDouble &Snp, PxeBaseCodeDouble &) {
       Snp.Mode.State = EfiSimpleNetworkInitialized;
       Snp.InjectStatus(SnpOperation::ReceiveFilters, Warning);
     }},
    {"PxeStart", [](SimpleNetworkDouble &, PxeBaseCodeDouble &Pxe) { Pxe.InjectStatus(Op::Start, Warning); }},
    {"StationAddressStart",
     [](SimpleNetworkDouble &, PxeBaseCodeDouble &Pxe) {
       Pxe.InjectStatus(Op::Start, EFI_SUCCESS);
       Pxe.InjectStatus(Op::Start, Warning);
     }},
    {"SizeQuery", [](SimpleNetworkDouble &, PxeBaseCodeDouble &Pxe) { Pxe.InjectStatus(Op::Mtftp, Warning); }},
    {"Read",
     [](SimpleNetworkDouble &, PxeBaseCodeDouble &Pxe) {
       Pxe.InjectStatus(Op::Mtftp, EFI_SUCCESS);
       Pxe.InjectStatus(Op::Mtftp, Warning);
     }},
};

class FetchWarningTest : public FetchConfigurationTest, public ::testing::WithParamInterface<WarningCase> {};

TEST_P(FetchWarningTest, WarningCountsAsSuccess) {
  PublishNetwork();
  GetParam().Arrange(Snp, Pxe);
  EXPECT_EQ(Fetch(), EFI_SUCCESS);
  EXPECT_EQ(HeldSection(), SectionAb12cd34);
  EXPECT_EQ(Pxe.MtftpCalls().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Calls, FetchWarningTest, ::testing::ValuesIn(WarningCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// ---------------------------------------------------------------------------------------------------------------------
// The caller's values: server address, identifier widening, NULL arguments.

struct IdentifierCase {
  const char *Name;
  std::vector<UINT8> Memory; // the caller's bytes; only the first 8 are the identifier
  std::u16string Expected;
};

void PrintTo(const IdentifierCase &Case, std::ostream *Stream) { *Stream << Case.Name; }

const IdentifierCase IdentifierCases[] = {
    {"EightLetters", {'a', 'b', '1', '2', 'c', 'd', '3', '4'}, u"ab12cd34"},
    {"NulInTheMiddle", {'a', 'b', '1', 0, 'c', 'd', '3', '4'}, u"ab1"},
    {"NulFirst", {0, 'b', '1', '2', 'c', 'd', '3', '4'}, u""},
    {"NinthByteIsNotRead", {'a', 'b', '1', '2', 'c', 'd', '3', '4', 'Z', 'Z'}, u"ab12cd34"},
    {"HighBytesAreSignExtended",
     {0x80, 'b', 0xFF, 0xC3, 0xA9, 0x7F, 0x81, 0xFE},
     {0xFF80, u'b', 0xFFFF, 0xFFC3, 0xFFA9, 0x007F, 0xFF81, 0xFFFE}},
};

class FetchIdentifierTest : public FetchConfigurationTest, public ::testing::WithParamInterface<IdentifierCase> {};

TEST_P(FetchIdentifierTest, IdentifierIsWidenedIntoMachineIdBeforeAnyCheck) {
  const IdentifierCase &Case = GetParam();
  PublishNetwork();
  Snp.LinkMedia = FALSE; // the fetch stops at step 1; the recording happened before it
  EFI_IP_ADDRESS Server = AddressOf(172, 16, 0, 1);
  std::vector<UINT8> Memory = Case.Memory;
  EXPECT_EQ(Service->FetchConfiguration(Service, &Server, reinterpret_cast<CHAR8 *>(Memory.data())), Step1);
  EXPECT_EQ(MachineId(), Case.Expected);
  EXPECT_TRUE(SameAddress(ServiceState.ServerAddress, AddressOf(172, 16, 0, 1)));
  EXPECT_EQ(Memory, Case.Memory); // the caller's bytes are only read
}

INSTANTIATE_TEST_SUITE_P(Rows, FetchIdentifierTest, ::testing::ValuesIn(IdentifierCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(FetchConfigurationTest, NullServerOrIdentifierIsRefusedAndNothingRecorded) {
  PublishNetwork();
  HoldEarlierSection();
  EFI_IP_ADDRESS Server = AddressOf(192, 168, 1, 5);
  CHAR8 Identifier[8] = {'a', 'b', '1', '2', 'c', 'd', '3', '4'};
  const struct {
    const char *Name;
    EFI_IP_ADDRESS *Server;
    CHAR8 *Identifier;
  } Rows[] = {{"NullServer", nullptr, Identifier}, {"NullIdentifier", &Server, nullptr}, {"Both", nullptr, nullptr}};
  for (const auto &Row : Rows) {
    SCOPED_TRACE(Row.Name);
    EXPECT_EQ(Service->FetchConfiguration(Service, Row.Server, Row.Identifier), EFI_INVALID_PARAMETER);
    EXPECT_TRUE(Firmware->Events.empty());
    EXPECT_TRUE(SameAddress(ServiceState.ServerAddress, AddressOf(10, 0, 0, 9)));
    EXPECT_EQ(MachineId(), u"ef56gh78");
    EXPECT_EQ(ServiceState.SectionReader.Buffer, EarlierBuffer);
  }
}

// ---------------------------------------------------------------------------------------------------------------------
// Fetching again.

TEST_F(FetchConfigurationTest, SecondSuccessfulFetchReleasesTheSectionItReplaces) {
  PublishNetwork();
  HoldEarlierSection();
  ASSERT_EQ(Fetch(), EFI_SUCCESS);
  EXPECT_EQ(HeldSection(), SectionAb12cd34);
  EXPECT_FALSE(Firmware->IsLiveBlock(EarlierBuffer));
  EXPECT_EQ(Firmware->LiveBlockCount(), 1u);
  EXPECT_TRUE(Firmware->PoolErrors().empty());
}

TEST_F(FetchConfigurationTest, ReleaseThenFetchFreesNothingTwice) {
  PublishNetwork();
  HoldEarlierSection();
  ASSERT_EQ(Service->ReleaseConfiguration(Service), EFI_SUCCESS);
  EXPECT_EQ(Firmware->LiveBlockCount(), 0u);
  ASSERT_EQ(Fetch(), EFI_SUCCESS);
  EXPECT_EQ(HeldSection(), SectionAb12cd34);
  EXPECT_EQ(Firmware->LiveBlockCount(), 1u);
  EXPECT_TRUE(Firmware->PoolErrors().empty());
}

TEST_F(FetchConfigurationTest, ReadThatOverstatesItsSizeIsBoundedByTheBuffer) {
  PublishNetwork();
  Pxe.ReadReports = TwoMachines.size() + 4096;
  ASSERT_EQ(Fetch(), EFI_SUCCESS);
  EXPECT_EQ(HeldSection(), SectionAb12cd34);
  EXPECT_EQ(Firmware->LiveBlockCount(), 1u);
}

// ---------------------------------------------------------------------------------------------------------------------
// Allocation failures anywhere in a whole fetch.

TEST_F(FetchConfigurationTest, EveryAllocationFailureIsReportedWithoutLeakOrLostSection) {
  const std::vector<EFI_MAC_ADDRESS> Multicast(2, EFI_MAC_ADDRESS{{0x01, 0x00, 0x5E, 0x00, 0x00, 0xFB}});
  // One run without failures to count the allocations of a whole fetch.
  auto Prepare = [&](SimpleNetworkDouble &Network, PxeBaseCodeDouble &Boot) {
    // The old double goes first: a double being destroyed hands the active slot back to its predecessor.
    Firmware.reset();
    ResetDriverState();
    Firmware = std::make_unique<FirmwareDouble::Firmware>();
    ASSERT_EQ(StartDriver(), EFI_SUCCESS);
    Service = InstalledService();
    Network.Mode.State = EfiSimpleNetworkInitialized; // so that media detection copies its multicast list
    Network.SetMulticast(Multicast);
    Network.Publish(*Firmware);
    Boot.Files["rivari.ini"] = Bytes(TwoMachines);
    Boot.Publish(*Firmware, VariantGuid);
    ASSERT_EQ(Fetch("ef56gh78", AddressOf(10, 0, 0, 9)), EFI_SUCCESS);
    EarlierBuffer = ServiceState.SectionReader.Buffer;
    Network.Calls.clear();
    Boot.Calls.clear();
  };
  size_t Needed = 0;
  {
    SimpleNetworkDouble Network;
    PxeBaseCodeDouble Boot;
    Prepare(Network, Boot);
    size_t Before = Firmware->AllocationCount();
    ASSERT_EQ(Fetch(), EFI_SUCCESS);
    Needed = Firmware->AllocationCount() - Before;
    Service->ReleaseConfiguration(Service);
    ASSERT_TRUE(Firmware->Leaks().empty());
  }
  ASSERT_GE(Needed, 3u); // multicast copy, download, and the section lookup's own

  for (size_t Failing = 1; Failing <= Needed; Failing++) {
    SCOPED_TRACE(testing::Message() << "allocation " << Failing << " of " << Needed);
    SimpleNetworkDouble Network;
    PxeBaseCodeDouble Boot;
    Prepare(Network, Boot);
    Firmware->FailAllocationNumber(Firmware->AllocationCount() + Failing);
    EFI_STATUS Status = Fetch();
    if (Failing == 1) {
      EXPECT_EQ(Status, Step1) << "the multicast copy";
      EXPECT_TRUE(Network.Calls.empty());
    } else if (Failing == 2) {
      EXPECT_EQ(Status, EFI_OUT_OF_RESOURCES) << "the download buffer";
      EXPECT_EQ(Boot.MtftpCalls().size(), 1u);
    } else {
      EXPECT_TRUE(Status == Step5 || Status == EFI_SUCCESS) << std::hex << Status;
    }
    if (Status == EFI_SUCCESS) {
      EXPECT_FALSE(Firmware->IsLiveBlock(EarlierBuffer));
    } else {
      EXPECT_EQ(ServiceState.SectionReader.Buffer, EarlierBuffer);
      EXPECT_EQ(HeldSection(), SectionEf56gh78);
    }
    EXPECT_EQ(Firmware->LiveBlockCount(), 1u) << ::testing::PrintToString(Firmware->Leaks());
    Service->ReleaseConfiguration(Service);
    EXPECT_TRUE(Firmware->Leaks().empty()) << ::testing::PrintToString(Firmware->Leaks());
    EXPECT_TRUE(Firmware->PoolErrors().empty()) << ::testing::PrintToString(Firmware->PoolErrors());
  }
  // A fresh double for the fixture's own checks.
  Firmware.reset();
  ResetDriverState();
  Firmware = std::make_unique<FirmwareDouble::Firmware>();
  Service = nullptr;
}

} // namespace

// ---------------------------------------------------------------------------------------------------------------------
// Pool use: a platform sizes its boot-services pool by the file its callers fetch.

/* A file of Machines sections of Entries entries each; the fetched machine AB12CD34 is the last. */
std::string FleetFile(size_t Machines, size_t Entries) {
  std::string Text = "; a fleet\r\n";
  for (size_t Machine = 0; Machine < Machines; Machine++) {
    char Header[32];
    std::snprintf(Header, sizeof(Header), "[%08zX]\r\n", Machine + 1 == Machines ? size_t{0xAB12CD34} : Machine);
    Text += Header;
    for (size_t Entry = 0; Entry < Entries; Entry++) {
      Text += std::to_string(Entry) + " = \"value number " + std::to_string(Entry) + " of this machine\"\r\n";
    }
  }
  return Text;
}

/*
 * The most pool a fetch holds at once, above what was held before it: the
 * download and the reader's copy of it, the machine's section, and a line
 * and its tokens. Measured through the real driver on the double.
 */
TEST_F(FetchConfigurationTest, PoolPeakOfAFetchIsTwiceTheFileAndTheSection) {
  struct Row {
    const char *Name;
    size_t Machines;
    size_t Entries;
  };
  const Row Rows[] = {
      {"one small section", 1, 5},
      {"a hundred machines", 100, 5},
      {"a thousand machines", 1000, 20},
      {"one large section", 1, 20000},
  };
  // A line of the file and its token list: the most a fetch holds beyond the copies.
  constexpr size_t LineAllowance = 512;
  PublishNetwork();
  for (const Row &Case : Rows) {
    const std::string File = FleetFile(Case.Machines, Case.Entries);
    ServeConfiguration(File);
    ASSERT_EQ(Service->ReleaseConfiguration(Service), EFI_SUCCESS) << Case.Name;
    Firmware->ForgetPoolPeak();
    const size_t Before = Firmware->LiveBytes();
    ASSERT_EQ(Fetch("AB12CD34"), EFI_SUCCESS) << Case.Name;
    const size_t Peak = Firmware->PoolPeak() - Before;
    const size_t Section = ServiceState.SectionReader.Size;
    EXPECT_LE(Peak, 2 * File.size() + Section + LineAllowance) << Case.Name;
    EXPECT_GE(Peak, 2 * File.size() + Section) << Case.Name;
  }
}
