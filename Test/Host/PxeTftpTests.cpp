/* PXE start-up and DHCP, the station address, and TFTP transfers through the PXE Base Code interface. */
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Double/DriverFixture.h"
#include "Double/PxeBaseCodeDouble.h"
#include "Double/TestValues.h"
#include "PxeTftp.h"

namespace {

using FirmwareDouble::GuidText;
using FirmwareDouble::MtftpArguments;
using FirmwareDouble::PxeBaseCodeDouble;
using FirmwareDouble::PxeOperation;
using Op = PxeOperation;

const EFI_GUID VariantGuid = PXE_BASE_CODE_VARIANT_GUID;
const EFI_GUID PublishedGuid = EFI_PXE_BASE_CODE_PROTOCOL_GUID;
constexpr EFI_STATUS Warning = EFI_WARN_BUFFER_TOO_SMALL;

EFI_IP_ADDRESS AddressOf(UINT8 First) {
  EFI_IP_ADDRESS Address;
  for (UINT8 Index = 0; Index < 16; Index++) {
    Address.v6.Addr[Index] = static_cast<UINT8>(First + Index);
  }
  return Address;
}

EFI_IP_ADDRESS Filled(UINT8 Byte) {
  EFI_IP_ADDRESS Address;
  std::memset(&Address, Byte, sizeof(Address));
  return Address;
}

class PxeTftpTest : public DriverTest {
protected:
  void SetUp() override {
    DriverTest::SetUp();
    CaptureTablesOnly();
    Pxe.Mode.StationIp = AddressOf(0xC0);
    Pxe.Files["boot.img"] = std::vector<UINT8>(70000, 0x42);
  }

  PxeBaseCodeDouble Pxe;
};

// ---------------------------------------------------------------------------------------------------------------------
// The interface is looked up under the variant GUID on every call, and only there.

enum class Operation { StartDhcp, StationAddress, Transfer };

void PrintTo(Operation Which, std::ostream *Stream) {
  *Stream << (Which == Operation::StartDhcp        ? "PxeStartDhcp"
              : Which == Operation::StationAddress ? "GetStationAddress"
                                                   : "TftpTransfer");
}

EFI_STATUS RunOperation(Operation Which, EFI_IP_ADDRESS *Station, UINT64 *Size) {
  EFI_IP_ADDRESS Server = AddressOf(10);
  switch (Which) {
  case Operation::StartDhcp:
    return PxeStartDhcp();
  case Operation::StationAddress:
    return GetStationAddress(Station);
  case Operation::Transfer:
    return TftpTransfer(EFI_PXE_BASE_CODE_TFTP_GET_FILE_SIZE, NULL, FALSE, Size, NULL, &Server, "boot.img", NULL, TRUE);
  }
  return EFI_ABORTED;
}

class PxeLookupTest : public PxeTftpTest, public ::testing::WithParamInterface<Operation> {};

TEST_P(PxeLookupTest, InterfaceOnlyUnderThePublishedGuidIsNotFound) {
  Pxe.Publish(*Firmware, PublishedGuid);
  EFI_IP_ADDRESS Station = Filled(0x5A);
  UINT64 Size = 77;
  EXPECT_EQ(RunOperation(GetParam(), &Station, &Size), EFI_NOT_FOUND);
  EXPECT_TRUE(Pxe.Calls.empty());
  EXPECT_TRUE(SameAddress(Station, Filled(0x5A)));
  EXPECT_EQ(Size, 77u);
  ASSERT_EQ(Firmware->LocateCalls.size(), 1u);
  EXPECT_EQ(GuidText(Firmware->LocateCalls[0]), "04C4E604-AC28-11D3-9A2D-0090273FC14D");
}

TEST_P(PxeLookupTest, LooksTheInterfaceUpAgainOnEveryCall) {
  Pxe.Publish(*Firmware, VariantGuid);
  Pxe.Mode.Started = TRUE;
  EFI_IP_ADDRESS Station;
  UINT64 Size = 0;
  for (size_t Round = 1; Round <= 3; Round++) {
    EXPECT_EQ(RunOperation(GetParam(), &Station, &Size), EFI_SUCCESS);
    EXPECT_EQ(Firmware->LocateCalls.size(), Round);
  }
  for (const auto &Guid : Firmware->LocateCalls) {
    EXPECT_EQ(GuidText(Guid), "04C4E604-AC28-11D3-9A2D-0090273FC14D");
  }
  for (const auto &Call : Pxe.Calls) {
    EXPECT_EQ(Call.This, Pxe.Interface());
  }
}

INSTANTIATE_TEST_SUITE_P(Operations, PxeLookupTest,
                         ::testing::Values(Operation::StartDhcp, Operation::StationAddress, Operation::Transfer),
                         [](const auto &Info) {
                           std::ostringstream Name;
                           PrintTo(Info.param, &Name);
                           return Name.str();
                         });

// ---------------------------------------------------------------------------------------------------------------------
// PxeStartDhcp.

struct StartDhcpCase {
  const char *Name;
  bool StartedBefore;
  std::vector<EFI_STATUS> StartInjected;
  std::vector<EFI_STATUS> DhcpScript;
  EFI_STATUS Expected;
  std::vector<PxeOperation> Calls;
};

void PrintTo(const StartDhcpCase &Case, std::ostream *Stream) { *Stream << Case.Name; }

const StartDhcpCase StartDhcpCases[] = {
    {"FreshInterfaceStartsThenDhcp", false, {}, {}, EFI_SUCCESS, {Op::Start, Op::Dhcp}},
    {"AlreadyStartedCountsAsSuccess", true, {}, {}, EFI_SUCCESS, {Op::Start, Op::Dhcp}},
    {"StartWarningCountsAsSuccess", false, {Warning}, {}, EFI_SUCCESS, {Op::Start, Op::Dhcp}},
    {"StartErrorStopsBeforeDhcp", false, {EFI_DEVICE_ERROR}, {}, EFI_DEVICE_ERROR, {Op::Start}},
    {"StartUnsupportedStopsBeforeDhcp", false, {EFI_UNSUPPORTED}, {}, EFI_UNSUPPORTED, {Op::Start}},
    {"DhcpErrorPassedUnchanged", false, {}, {EFI_TIMEOUT}, EFI_TIMEOUT, {Op::Start, Op::Dhcp}},
    {"DhcpWarningPassedUnchanged", true, {}, {Warning}, Warning, {Op::Start, Op::Dhcp}},
    {"DhcpRunsAgainOnAStartedInterface", true, {}, {EFI_NO_RESPONSE}, EFI_NO_RESPONSE, {Op::Start, Op::Dhcp}},
};

class PxeStartDhcpTest : public PxeTftpTest, public ::testing::WithParamInterface<StartDhcpCase> {};

TEST_P(PxeStartDhcpTest, StartsForIpv4ThenRunsDhcpWithSortedOffers) {
  const StartDhcpCase &Case = GetParam();
  Pxe.Publish(*Firmware, VariantGuid);
  Pxe.Mode.Started = Case.StartedBefore;
  for (EFI_STATUS Status : Case.StartInjected) {
    Pxe.InjectStatus(Op::Start, Status);
  }
  Pxe.DhcpScript.assign(Case.DhcpScript.begin(), Case.DhcpScript.end());
  EXPECT_EQ(PxeStartDhcp(), Case.Expected);
  ASSERT_EQ(Pxe.Operations(), Case.Calls);
  EXPECT_EQ(Pxe.Calls[0].Flag, FALSE) << "UseIpv6";
  if (Case.Calls.size() > 1) {
    EXPECT_EQ(Pxe.Calls[1].Flag, TRUE) << "SortOffers";
  }
  EXPECT_EQ(Firmware->FirstEvent("PXE.Stop"), -1);
}

INSTANTIATE_TEST_SUITE_P(Rows, PxeStartDhcpTest, ::testing::ValuesIn(StartDhcpCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// ---------------------------------------------------------------------------------------------------------------------
// GetStationAddress.

struct StationCase {
  const char *Name;
  bool StartedBefore;
  std::vector<EFI_STATUS> StartInjected;
  EFI_STATUS Expected;
  bool Copied;
};

void PrintTo(const StationCase &Case, std::ostream *Stream) { *Stream << Case.Name; }

const StationCase StationCases[] = {
    {"FreshInterfaceIsStarted", false, {}, EFI_SUCCESS, true},
    {"AlreadyStartedCountsAsSuccess", true, {}, EFI_SUCCESS, true},
    {"StartWarningGivesSuccess", false, {Warning}, EFI_SUCCESS, true},
    {"StartErrorWritesNothing", false, {EFI_DEVICE_ERROR}, EFI_DEVICE_ERROR, false},
};

class PxeStationTest : public PxeTftpTest, public ::testing::WithParamInterface<StationCase> {};

TEST_P(PxeStationTest, CopiesAllSixteenBytesOfStationIp) {
  const StationCase &Case = GetParam();
  Pxe.Publish(*Firmware, VariantGuid);
  Pxe.Mode.Started = Case.StartedBefore;
  for (EFI_STATUS Status : Case.StartInjected) {
    Pxe.InjectStatus(Op::Start, Status);
  }
  EFI_IP_ADDRESS Station = Filled(0x5A);
  EXPECT_EQ(GetStationAddress(&Station), Case.Expected);
  EXPECT_TRUE(SameAddress(Station, Case.Copied ? AddressOf(0xC0) : Filled(0x5A)));
  EXPECT_EQ(Pxe.Operations(), std::vector<PxeOperation>{Op::Start});
  EXPECT_EQ(Pxe.Calls[0].Flag, FALSE) << "UseIpv6";
}

INSTANTIATE_TEST_SUITE_P(Rows, PxeStationTest, ::testing::ValuesIn(StationCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(PxeTftpTest, StationAddressAfterDhcpFindsTheInterfaceStartedAndCopiesTheLease) {
  Pxe.Publish(*Firmware, VariantGuid);
  EFI_IP_ADDRESS Lease{};
  Lease.v4.Addr[0] = 10;
  Lease.v4.Addr[3] = 15;
  Pxe.DhcpAddress = Lease;
  ASSERT_EQ(PxeStartDhcp(), EFI_SUCCESS);
  EFI_IP_ADDRESS Station = Filled(0x5A);
  EXPECT_EQ(GetStationAddress(&Station), EFI_SUCCESS);
  EXPECT_TRUE(SameAddress(Station, Lease)); // the twelve bytes after the IPv4 address too
  ASSERT_EQ(Pxe.Operations(), (std::vector<PxeOperation>{Op::Start, Op::Dhcp, Op::Start}));
  EXPECT_EQ(Pxe.Calls[2].Status, EFI_ALREADY_STARTED);
  EXPECT_EQ(Firmware->FirstEvent("PXE.Stop"), -1);
}

// ---------------------------------------------------------------------------------------------------------------------
// TftpTransfer.

TEST_F(PxeTftpTest, TransferHandsEveryArgumentToMtftpUnchanged) {
  Pxe.Publish(*Firmware, VariantGuid);
  Pxe.Mode.Started = TRUE;
  EFI_IP_ADDRESS Server = AddressOf(0x30);
  EFI_PXE_BASE_CODE_MTFTP_INFO Info{};
  UINTN Block = 1024;
  UINT64 Size = 80000;
  std::vector<UINT8> Buffer(80000);
  static const CHAR8 Name[] = "boot.img";
  struct {
    EFI_PXE_BASE_CODE_TFTP_OPCODE Operation;
    VOID *BufferPtr;
    BOOLEAN Overwrite;
    UINTN *BlockSize;
    EFI_PXE_BASE_CODE_MTFTP_INFO *Info;
    BOOLEAN DontUseBuffer;
  } const Rows[] = {
      {EFI_PXE_BASE_CODE_TFTP_GET_FILE_SIZE, NULL, FALSE, NULL, NULL, TRUE},
      {EFI_PXE_BASE_CODE_TFTP_READ_FILE, Buffer.data(), FALSE, &Block, NULL, FALSE},
      {EFI_PXE_BASE_CODE_TFTP_READ_FILE, Buffer.data(), TRUE, &Block, &Info, FALSE},
      {EFI_PXE_BASE_CODE_TFTP_READ_FILE, NULL, FALSE, NULL, NULL, TRUE},
  };
  for (const auto &Row : Rows) {
    SCOPED_TRACE(testing::Message() << "operation " << Row.Operation << " overwrite " << int(Row.Overwrite));
    Pxe.Calls.clear();
    Size = 80000;
    EXPECT_EQ(TftpTransfer(Row.Operation, Row.BufferPtr, Row.Overwrite, &Size, Row.BlockSize, &Server, Name, Row.Info,
                           Row.DontUseBuffer),
              EFI_SUCCESS);
    ASSERT_EQ(Pxe.Calls.size(), 1u);
    const MtftpArguments &Seen = Pxe.Calls[0].Mtftp;
    EXPECT_EQ(Seen.Operation, Row.Operation);
    EXPECT_EQ(Seen.BufferPtr, Row.BufferPtr);
    EXPECT_EQ(Seen.Overwrite, Row.Overwrite);
    EXPECT_EQ(Seen.BufferSize, &Size);
    EXPECT_EQ(Seen.BufferSizeIn, 80000u);
    EXPECT_EQ(Seen.BufferSizeOut, 70000u);
    EXPECT_EQ(Size, 70000u);
    EXPECT_EQ(Seen.BlockSize, Row.BlockSize);
    EXPECT_EQ(Seen.ServerIp, &Server);
    EXPECT_EQ(Seen.Filename, "boot.img");
    EXPECT_EQ(Seen.Info, Row.Info);
    EXPECT_EQ(Seen.DontUseBuffer, Row.DontUseBuffer);
  }
}

struct TransferCase {
  const char *Name;
  bool Started;
  const char *File;
  UINT64 Capacity;
  std::vector<EFI_STATUS> Injected;
  EFI_STATUS Expected;
  UINT64 SizeAfter;
};

void PrintTo(const TransferCase &Case, std::ostream *Stream) { *Stream << Case.Name; }

const TransferCase TransferCases[] = {
    {"ReadDelivers", true, "boot.img", 70000, {}, EFI_SUCCESS, 70000},
    {"MissingFileIsTftpError", true, "absent.img", 70000, {}, EFI_TFTP_ERROR, 70000},
    {"ShortCapacityIsBufferTooSmall", true, "boot.img", 69999, {}, EFI_BUFFER_TOO_SMALL, 70000},
    {"NobodyStartedItAnswersNotStarted", false, "boot.img", 70000, {}, EFI_NOT_STARTED, 70000},
    {"InjectedTimeoutPassedUnchanged", true, "boot.img", 70000, {EFI_TIMEOUT}, EFI_TIMEOUT, 70000},
    {"InjectedWarningPassedUnchanged", true, "boot.img", 70000, {Warning}, Warning, 70000},
};

class PxeTransferStatusTest : public PxeTftpTest, public ::testing::WithParamInterface<TransferCase> {};

TEST_P(PxeTransferStatusTest, ReadReturnsTheStatusOfMtftpUnchanged) {
  const TransferCase &Case = GetParam();
  Pxe.Publish(*Firmware, VariantGuid);
  Pxe.Mode.Started = Case.Started;
  for (EFI_STATUS Status : Case.Injected) {
    Pxe.InjectStatus(Op::Mtftp, Status);
  }
  EFI_IP_ADDRESS Server = AddressOf(1);
  UINT64 Size = Case.Capacity;
  std::vector<UINT8> Buffer(Case.Capacity, 0);
  UINTN Block = 64512;
  EXPECT_EQ(TftpTransfer(EFI_PXE_BASE_CODE_TFTP_READ_FILE, Buffer.data(), FALSE, &Size, &Block, &Server, Case.File,
                         NULL, FALSE),
            Case.Expected);
  EXPECT_EQ(Size, Case.SizeAfter);
  EXPECT_EQ(Pxe.Operations(), std::vector<PxeOperation>{Op::Mtftp}); // no Start of its own
}

INSTANTIATE_TEST_SUITE_P(Rows, PxeTransferStatusTest, ::testing::ValuesIn(TransferCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(PxeTftpTest, SizeQueryThenReadThroughTheSameVariableAsksForExactlyTheFile) {
  Pxe.Publish(*Firmware, VariantGuid);
  std::vector<UINT8> Contents;
  for (size_t Index = 0; Index < 3000; Index++) {
    Contents.push_back(static_cast<UINT8>(Index * 7));
  }
  Pxe.Files["machine.3"] = Contents;
  ASSERT_EQ(PxeStartDhcp(), EFI_SUCCESS);
  EFI_IP_ADDRESS Server = AddressOf(1);
  UINT64 Size = 0;
  ASSERT_EQ(
      TftpTransfer(EFI_PXE_BASE_CODE_TFTP_GET_FILE_SIZE, NULL, FALSE, &Size, NULL, &Server, "machine.3", NULL, TRUE),
      EFI_SUCCESS);
  EXPECT_EQ(Size, 3000u);
  std::vector<UINT8> Buffer(Size);
  UINTN Block = 64512;
  ASSERT_EQ(TftpTransfer(EFI_PXE_BASE_CODE_TFTP_READ_FILE, Buffer.data(), FALSE, &Size, &Block, &Server, "machine.3",
                         NULL, FALSE),
            EFI_SUCCESS);
  EXPECT_EQ(Buffer, Contents);
  auto Transfers = Pxe.MtftpCalls();
  ASSERT_EQ(Transfers.size(), 2u);
  EXPECT_EQ(Transfers[1]->BufferSizeIn, 3000u);
  EXPECT_EQ(Transfers[1]->BlockSizeValue, 64512u);
  EXPECT_TRUE(Transfers[0]->BlockSizeIsNull);
}

} // namespace
