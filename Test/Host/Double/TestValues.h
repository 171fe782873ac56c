/* Values the suites build again and again: IPv4 addresses, and text in the forms the driver meets it. */
#ifndef TOLVANE_TEST_TEST_VALUES_H
#define TOLVANE_TEST_TEST_VALUES_H

#include <string>

#include "Uefi/Uefi.h"

/* A.B.C.D in the first four bytes, the other twelve zero. */
EFI_IP_ADDRESS Ipv4(UINT8 A, UINT8 B, UINT8 C, UINT8 D);

/* All sixteen bytes equal. */
bool SameAddress(const EFI_IP_ADDRESS &First, const EFI_IP_ADDRESS &Second);

/* Each byte of Text as one unit of the same value (no sign extension). */
std::u16string Widen(const std::string &Text);

/* Text as UTF-16LE bytes, after the BOM 0xFF 0xFE when WithBom. */
std::string Utf16Bytes(const std::u16string &Text, bool WithBom);

#endif
