#include "Double/ServiceCaller.h"

#include <cstring>

void ServiceCallerTest::SetUp() {
  DriverTest::SetUp();
  ASSERT_EQ(StartDriver(), EFI_SUCCESS);
  Service = InstalledService();
  ASSERT_NE(Service, nullptr);
  if (PublishNetworkAtSetUp) {
    PublishNetwork();
  }
  Pxe.DhcpAddress = Ipv4(10, 0, 2, 15);
}

void ServiceCallerTest::PublishNetwork(bool WithSimpleNetwork, const EFI_GUID &PxeGuid) {
  if (WithSimpleNetwork) {
    Snp.Publish(*Firmware);
  }
  Pxe.Publish(*Firmware, PxeGuid);
}

void ServiceCallerTest::ForgetCalls() {
  Firmware->Events.clear();
  Firmware->LocateCalls.clear();
  Snp.Calls.clear();
  Pxe.Calls.clear();
}

void ServiceCallerTest::TearDown() {
  // The section a fetch keeps is the caller's to release.
  if (Service != nullptr) {
    EXPECT_EQ(Service->ReleaseConfiguration(Service), EFI_SUCCESS);
  }
  DriverTest::TearDown();
}

void ServiceCallerTest::ServeConfiguration(const std::string &Text) { ServeFile("rivari.ini", Text); }

void ServiceCallerTest::ServeFile(const std::string &Name, const std::string &Contents) {
  Pxe.Files[Name] = std::vector<UINT8>(Contents.begin(), Contents.end());
}

EFI_STATUS ServiceCallerTest::Fetch(const std::string &Identifier, const EFI_IP_ADDRESS &Server) {
  CHAR8 Bytes[8] = {};
  std::memcpy(Bytes, Identifier.data(), Identifier.size() < 8 ? Identifier.size() : 8);
  EFI_IP_ADDRESS Address = Server;
  return Service->FetchConfiguration(Service, &Address, Bytes);
}

EFI_STATUS ServiceCallerTest::Fetch(const std::string &Identifier) { return Fetch(Identifier, Ipv4(10, 0, 2, 2)); }

bool ServiceCallerTest::Entry(UINTN Index, std::u16string *Value, UINTN ValueSize) {
  std::vector<CHAR16> Buffer(ValueSize / 2 + 1, u'#');
  Buffer.back() = 0;
  const bool Found = Service->GetEntry(Service, Index, Value == nullptr ? nullptr : Buffer.data(), ValueSize);
  if (Value != nullptr) {
    *Value = Buffer[0] == u'#' ? u"<untouched>" : std::u16string(Buffer.data());
  }
  return Found;
}
