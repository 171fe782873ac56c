/* The image entry point: the start-up steps in their order, then the interface. */
#include "TolvaneDriver.h"

extern "C" EFI_STATUS EFIAPI DriverEntryPoint(EFI_HANDLE ImageHandle, EFI_SYSTEM_TABLE *SystemTable) {
  // The serial step comes first: it makes no firmware call, and the capture
  // after it must precede every call that does.
  ProgramSerialPort(ImageHandle, SystemTable);
  CaptureFirmwareTables(ImageHandle, SystemTable);
  CaptureRuntimeServices(ImageHandle, SystemTable);
  LocateHiiInterfaces(ImageHandle, SystemTable);
  LocateDpcInterface(ImageHandle, SystemTable);
  return InstallServiceInterface(ImageHandle, SystemTable);
}
