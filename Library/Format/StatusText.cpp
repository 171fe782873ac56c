/* The names of the status values the engine prints by name. */
#include "FormatInternal.h"

const CHAR8 *const StatusTextTable[STATUS_TEXT_COUNT] = {
    "Success",                  // EFI_SUCCESS
    "Warning Unknown Glyph",    // EFI_WARN_UNKNOWN_GLYPH
    "Warning Delete Failure",   // EFI_WARN_DELETE_FAILURE
    "Warning Write Failure",    // EFI_WARN_WRITE_FAILURE
    "Warning Buffer Too Small", // EFI_WARN_BUFFER_TOO_SMALL
    "Load Error",               // EFI_LOAD_ERROR
    "Invalid Parameter",        // EFI_INVALID_PARAMETER
    "Unsupported",              // EFI_UNSUPPORTED
    "Bad Buffer Size",          // EFI_BAD_BUFFER_SIZE
    "Buffer Too Small",         // EFI_BUFFER_TOO_SMALL
    "Not Ready",                // EFI_NOT_READY
    "Device Error",             // EFI_DEVICE_ERROR
    "Write Protected",          // EFI_WRITE_PROTECTED
    "Out of Resources",         // EFI_OUT_OF_RESOURCES
    "Volume Corrupt",           // EFI_VOLUME_CORRUPTED
    "Volume Full",              // EFI_VOLUME_FULL
    "No Media",                 // EFI_NO_MEDIA
    "Media changed",            // EFI_MEDIA_CHANGED
    "Not Found",                // EFI_NOT_FOUND
    "Access Denied",            // EFI_ACCESS_DENIED
    "No Response",              // EFI_NO_RESPONSE
    "No mapping",               // EFI_NO_MAPPING
    "Time out",                 // EFI_TIMEOUT
    "Not started",              // EFI_NOT_STARTED
    "Already started",          // EFI_ALREADY_STARTED
    "Aborted",                  // EFI_ABORTED
    "ICMP Error",               // EFI_ICMP_ERROR
    "TFTP Error",               // EFI_TFTP_ERROR
    "Protocol Error",           // EFI_PROTOCOL_ERROR
};
