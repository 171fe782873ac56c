/*
 * A caller's view of the driver on the firmware double: the driver started,
 * Simple Network and PXE Base Code published where the driver looks (unless
 * a suite publishes them itself), and a configuration tree on the TFTP
 * double. Tests call the installed slots.
 */
#ifndef TOLVANE_TEST_SERVICE_CALLER_H
#define TOLVANE_TEST_SERVICE_CALLER_H

#include <string>
#include <vector>

#include "Double/DriverFixture.h"
#include "Double/PxeBaseCodeDouble.h"
#include "Double/SimpleNetworkDouble.h"
#include "Double/TestValues.h"

class ServiceCallerTest : public DriverTest {
protected:
  void SetUp() override;
  void TearDown() override;

  /* Publishes Simple Network (unless told not to) and PXE Base Code under PxeGuid. */
  void PublishNetwork(bool WithSimpleNetwork = true, const EFI_GUID &PxeGuid = PXE_BASE_CODE_VARIANT_GUID);
  /* Forgets every call the doubles logged so far. */
  void ForgetCalls();

  /* Serves Text as rivari.ini. */
  void ServeConfiguration(const std::string &Text);
  /* Serves Contents under Name. */
  void ServeFile(const std::string &Name, const std::string &Contents);
  /* FetchConfiguration with the 8 bytes of Identifier (padded with NUL) and Server. */
  EFI_STATUS Fetch(const std::string &Identifier, const EFI_IP_ADDRESS &Server);
  EFI_STATUS Fetch(const std::string &Identifier);
  /* GetEntry into a buffer of ValueSize bytes prefilled with #; *Value is "<untouched>" when nothing was copied. */
  bool Entry(UINTN Index, std::u16string *Value = nullptr, UINTN ValueSize = 512);

  // Suites that publish the network themselves clear this in their constructor.
  bool PublishNetworkAtSetUp = true;
  TOLVANE_SERVICE_PROTOCOL *Service = nullptr;
  FirmwareDouble::SimpleNetworkDouble Snp;
  FirmwareDouble::PxeBaseCodeDouble Pxe;
};

#endif
