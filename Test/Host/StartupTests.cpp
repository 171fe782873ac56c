/* Start-up: serial programming, table capture, optional look-ups, installation. */
#include <gtest/gtest.h>

#include "Double/DriverFixture.h"
#include "Library/FirmwareTables.h"

namespace {

using FirmwareDouble::GuidText;

class StartupTest : public DriverTest {};

const EFI_GUID OptionalGuids[] = {
    {0x0FD96974, 0x23AA, 0x4CDC, {0xB9, 0xCB, 0x98, 0xD1, 0x77, 0x50, 0x32, 0x2A}}, // HII String
    {0xEF9FC172, 0xA1B2, 0x4693, {0xB3, 0x27, 0x6D, 0x32, 0xFC, 0x41, 0x60, 0x42}}, // HII Database
    {0x587E72D7, 0xCC50, 0x4F79, {0x82, 0x09, 0xCA, 0x29, 0x1F, 0xC1, 0xA1, 0x0F}}, // HII Config Routing
    {0xE9CA4775, 0x8657, 0x47FC, {0x97, 0xE7, 0x7E, 0xD6, 0x5A, 0x08, 0x43, 0x24}}, // HII Font
    {0x31A6406A, 0x6BDF, 0x4E46, {0xB2, 0xA2, 0xEB, 0xAA, 0x89, 0xC4, 0x09, 0x20}}, // HII Image
    {0x480F8AE9, 0x0C46, 0x4AA9, {0xBC, 0x89, 0xDB, 0x9F, 0xBA, 0x61, 0x98, 0x06}}, // DPC
};

TEST_F(StartupTest, SerialPortGetsFourWritesBeforeAnyFirmwareCall) {
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  const std::vector<std::string> Expected = {"PortWrite 0x3FB 0x87", "PortWrite 0x3F9 0x00", "PortWrite 0x3F8 0x01",
                                             "PortWrite 0x3FB 0x07"};
  ASSERT_GE(Firmware->Events.size(), Expected.size());
  EXPECT_EQ(std::vector<std::string>(Firmware->Events.begin(), Firmware->Events.begin() + 4), Expected);
  EXPECT_EQ(Firmware->PortWrites.size(), 4u);
}

TEST_F(StartupTest, LooksUpSixOptionalInterfacesInOrderThenItsOwnGuid) {
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  ASSERT_EQ(Firmware->LocateCalls.size(), 7u);
  for (size_t Index = 0; Index < 6; Index++) {
    EXPECT_EQ(GuidText(Firmware->LocateCalls[Index]), GuidText(OptionalGuids[Index])) << "look-up " << Index;
  }
  EXPECT_EQ(GuidText(Firmware->LocateCalls[6]), "12345678-FC25-4C1C-B97C-B31186064990");
}

TEST_F(StartupTest, CapturesTablesAndKeepsFoundOptionalInterfaces) {
  int FontInterface = 0;
  Firmware->Publish(OptionalGuids[3], &FontInterface);
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  EXPECT_EQ(ImageHandle, Firmware->Image());
  EXPECT_EQ(SystemTable, Firmware->Table());
  EXPECT_EQ(BootServices, Firmware->Services());
  EXPECT_EQ(RuntimeServices, Firmware->Table()->RuntimeServices);
  EXPECT_EQ(HiiFont, &FontInterface);
  EXPECT_EQ(HiiString, nullptr);
  EXPECT_EQ(Dpc, nullptr);
}

TEST_F(StartupTest, InstallsOnANewHandleWithoutOptionalInterfaces) {
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  ASSERT_EQ(Firmware->Installs.size(), 1u);
  const auto &Call = Firmware->Installs[0];
  EXPECT_EQ(Call.HandleBefore, nullptr);
  EXPECT_NE(Call.HandleAfter, nullptr);
  EXPECT_EQ(ServiceState.ServiceHandle, Call.HandleAfter);
  ASSERT_EQ(Call.Interfaces.size(), 1u);
  EXPECT_EQ(GuidText(Call.Interfaces[0].first), "12345678-FC25-4C1C-B97C-B31186064990");
  EXPECT_EQ(Call.Interfaces[0].second, &ServiceInterface);
}

TEST_F(StartupTest, InstallsNothingWhenTheInterfaceIsAlreadyPresent) {
  TOLVANE_SERVICE_PROTOCOL EarlierCopy{};
  Firmware->Publish(TolvaneServiceProtocolGuid, &EarlierCopy);
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  EXPECT_TRUE(Firmware->Installs.empty());
  EXPECT_EQ(ServiceState.ServiceHandle, nullptr);
  EXPECT_EQ(Firmware->HandlesWith(TolvaneServiceProtocolGuid).size(), 1u);
}

TEST_F(StartupTest, FailedInstallationStillReturnsSuccess) {
  Firmware->InstallStatus = EFI_OUT_OF_RESOURCES;
  EXPECT_EQ(StartDriver(), EFI_SUCCESS);
  EXPECT_EQ(Firmware->Installs.size(), 1u);
  EXPECT_EQ(InstalledService(), nullptr);
}

TEST_F(StartupTest, SlotsReachTheFiveOperationsInOrder) {
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  TOLVANE_SERVICE_PROTOCOL *Service = InstalledService();
  ASSERT_NE(Service, nullptr);
  EXPECT_EQ(Service->FetchConfiguration, &FetchConfiguration);
  EXPECT_EQ(Service->FetchNumberedFile, &FetchNumberedFile);
  EXPECT_EQ(Service->GetEntry, &GetEntry);
  EXPECT_EQ(Service->GetEntryCount, &GetEntryCount);
  EXPECT_EQ(Service->ReleaseConfiguration, &ReleaseConfiguration);
  static_assert(sizeof(TOLVANE_SERVICE_PROTOCOL) == 5 * sizeof(VOID *), "five slots and nothing else");
}

TEST_F(StartupTest, ServiceStateIsAllZeroBeforeAnyFetch) {
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  SERVICE_STATE Copy = ServiceState;
  Copy.ServiceHandle = nullptr;
  const UINT8 *Bytes = reinterpret_cast<const UINT8 *>(&Copy);
  for (size_t Index = 0; Index < sizeof(Copy); Index++) {
    ASSERT_EQ(Bytes[Index], 0) << "byte " << Index;
  }
  EXPECT_EQ(ServiceState.SectionReader.Buffer, nullptr);
}

} // namespace
