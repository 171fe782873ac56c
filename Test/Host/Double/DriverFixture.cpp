#include "Double/DriverFixture.h"

#include "Library/FirmwareTables.h"
#include "SectionLookup.h"

void ResetDriverState() {
  ServiceState = {};
  for (int Index = 0; Index < 11; Index++) {
    SectionTemplate[Index] = u"[8a123456]"[Index];
  }
  ImageHandle = nullptr;
  SystemTable = nullptr;
  BootServices = nullptr;
  RuntimeServices = nullptr;
  HiiString = HiiDatabase = HiiConfigRouting = HiiFont = HiiImage = Dpc = nullptr;
}

void DriverTest::SetUp() {
  ResetDriverState();
  Firmware = std::make_unique<FirmwareDouble::Firmware>();
}

void DriverTest::TearDown() {
  EXPECT_TRUE(Firmware->PoolErrors().empty()) << ::testing::PrintToString(Firmware->PoolErrors());
  EXPECT_TRUE(Firmware->Leaks().empty()) << ::testing::PrintToString(Firmware->Leaks());
  Firmware.reset();
  ResetDriverState();
}

EFI_STATUS DriverTest::StartDriver() { return DriverEntryPoint(Firmware->Image(), Firmware->Table()); }

TOLVANE_SERVICE_PROTOCOL *DriverTest::InstalledService() {
  return static_cast<TOLVANE_SERVICE_PROTOCOL *>(Firmware->Lookup(TolvaneServiceProtocolGuid));
}

void DriverTest::CaptureTablesOnly() { CaptureFirmwareTables(Firmware->Image(), Firmware->Table()); }
