/* The lookup of the recorded machine's section, under the header it writes into the section template. */
#include "SectionLookup.h"
#include "TolvaneDriver.h"

EFI_STATUS FindMachineSection(const VOID *Text, UINTN TextSize, TextReader *Section) {
  BuildSectionHeader(ServiceState.MachineId, SectionTemplate);
  return FindSection(Text, TextSize, SectionTemplate, Section);
}
