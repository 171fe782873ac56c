/*
 * The tool's record of its last fetch in this boot, in a volatile variable:
 * each command is a program of its own, and `file` must be able to say
 * which server and which identifier the service will ask with.
 */
#include "TolvaneTool.h"

namespace {
constexpr EFI_GUID FetchRecordGuid = {0x3C1D9E52, 0x7A4B, 0x4F1E, {0x9B, 0x61, 0x2E, 0xC8, 0x05, 0xD7, 0x4A, 0x93}};
constexpr const CHAR16 *FetchRecordName = u"TolvaneToolFetch";
// Gone at the next boot, as the service's state is.
constexpr UINT32 FetchRecordAttributes = EFI_VARIABLE_BOOTSERVICE_ACCESS;
} // namespace

VOID SaveFetchRecord(const TOOL_FETCH_RECORD &Record) {
  SystemTable->RuntimeServices->SetVariable(FetchRecordName, &FetchRecordGuid, FetchRecordAttributes, sizeof(Record),
                                            &Record);
}

bool LoadFetchRecord(TOOL_FETCH_RECORD *Record) {
  UINTN Size = sizeof(*Record);
  UINT32 Attributes;
  return !EFI_ERROR(SystemTable->RuntimeServices->GetVariable(FetchRecordName, &FetchRecordGuid, &Attributes, &Size,
                                                              Record)) &&
         Size == sizeof(*Record);
}

VOID ForgetFetchRecord() {
  SystemTable->RuntimeServices->SetVariable(FetchRecordName, &FetchRecordGuid, FetchRecordAttributes, 0, NULL);
}
