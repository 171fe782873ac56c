/*
 * The field tool's argument checks, firmware-free: an argument that fails
 * one is never handed to the service.
 */
#ifndef TOLVANE_TOOL_ARGUMENTS_H
#define TOLVANE_TOOL_ARGUMENTS_H

#include "Protocol/TolvaneService.h"

/* Entry and file numbers go up to four digits, as the service names and looks them up. */
inline constexpr UINTN ToolNumberLimit = TOLVANE_ENTRY_COUNT_LIMIT - 1;

/* A dotted IPv4 address: four decimal fields 0 to 255 of one to three digits. FALSE for anything else. */
bool ParseIpv4Address(const CHAR16 *Text, EFI_IP_ADDRESS *Address);

/*
 * One to TOLVANE_IDENTIFIER_LENGTH printable ASCII characters (no blank)
 * into Identifier, zero-filled behind them. FALSE for anything else.
 */
bool ParseIdentifier(const CHAR16 *Text, CHAR8 Identifier[TOLVANE_IDENTIFIER_LENGTH + 1]);

/* A decimal number of digits only, at most Limit. FALSE for anything else. */
bool ParseNumber(const CHAR16 *Text, UINTN Limit, UINTN *Value);

#endif
