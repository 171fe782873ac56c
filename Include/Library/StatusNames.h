/*
 * The EFI status values our programs name, in one table: each value with
 * the text the formatter's %r prints for it, in the order of the values
 * (success and warnings 1 to 4, then errors 1 to 24), and after them the
 * values named but printed by %r as a number. Each row's UEFI name is the
 * name of its value.
 */
#ifndef TOLVANE_LIBRARY_STATUS_NAMES_H
#define TOLVANE_LIBRARY_STATUS_NAMES_H

#include "Uefi/Uefi.h"

// clang-format off
#define TOLVANE_EFI_STATUS_TEXT_ROWS(Row) \
  Row(EFI_SUCCESS, "Success")                                \
  Row(EFI_WARN_UNKNOWN_GLYPH, "Warning Unknown Glyph")       \
  Row(EFI_WARN_DELETE_FAILURE, "Warning Delete Failure")     \
  Row(EFI_WARN_WRITE_FAILURE, "Warning Write Failure")       \
  Row(EFI_WARN_BUFFER_TOO_SMALL, "Warning Buffer Too Small") \
  Row(EFI_LOAD_ERROR, "Load Error")                          \
  Row(EFI_INVALID_PARAMETER, "Invalid Parameter")            \
  Row(EFI_UNSUPPORTED, "Unsupported")                        \
  Row(EFI_BAD_BUFFER_SIZE, "Bad Buffer Size")                \
  Row(EFI_BUFFER_TOO_SMALL, "Buffer Too Small")              \
  Row(EFI_NOT_READY, "Not Ready")                            \
  Row(EFI_DEVICE_ERROR, "Device Error")                      \
  Row(EFI_WRITE_PROTECTED, "Write Protected")                \
  Row(EFI_OUT_OF_RESOURCES, "Out of Resources")              \
  Row(EFI_VOLUME_CORRUPTED, "Volume Corrupt")                \
  Row(EFI_VOLUME_FULL, "Volume Full")                        \
  Row(EFI_NO_MEDIA, "No Media")                              \
  Row(EFI_MEDIA_CHANGED, "Media changed")                    \
  Row(EFI_NOT_FOUND, "Not Found")                            \
  Row(EFI_ACCESS_DENIED, "Access Denied")                    \
  Row(EFI_NO_RESPONSE, "No Response")                        \
  Row(EFI_NO_MAPPING, "No mapping")                          \
  Row(EFI_TIMEOUT, "Time out")                               \
  Row(EFI_NOT_STARTED, "Not started")                        \
  Row(EFI_ALREADY_STARTED, "Already started")                \
  Row(EFI_ABORTED, "Aborted")                                \
  Row(EFI_ICMP_ERROR, "ICMP Error")                          \
  Row(EFI_TFTP_ERROR, "TFTP Error")                          \
  Row(EFI_PROTOCOL_ERROR, "Protocol Error")
// clang-format on

#define TOLVANE_EFI_STATUS_NAME_ONLY_ROWS(Row) Row(EFI_SECURITY_VIOLATION)

/* The UEFI name of Status ("EFI_NOT_FOUND"), or NULL for a value outside the table. */
const CHAR8 *EfiStatusName(EFI_STATUS Status);

#endif
