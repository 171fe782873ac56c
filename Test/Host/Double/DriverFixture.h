/*
 * The base of every test that runs driver code: a fresh firmware double,
 * the driver's static state as it is at load, and a leak and bad-free check
 * after the test.
 */
#ifndef TOLVANE_TEST_DRIVER_FIXTURE_H
#define TOLVANE_TEST_DRIVER_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>

#include "Double/FirmwareDouble.h"
#include "TolvaneDriver.h"

/* Puts every static record of the driver back to its state at load. */
void ResetDriverState();

class DriverTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  /* Runs the entry point as the firmware would. */
  EFI_STATUS StartDriver();
  /* The installed interface, or nullptr. */
  TOLVANE_SERVICE_PROTOCOL *InstalledService();
  /* Makes the driver's captured tables point at the double without running start-up. */
  void CaptureTablesOnly();

  std::unique_ptr<FirmwareDouble::Firmware> Firmware;
};

#endif
