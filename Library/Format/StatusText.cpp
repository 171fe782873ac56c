/*
 * The names of the status values the engine prints by name, packed one
 * after the other, each with its NUL: one string, no table of pointers (and
 * no relocation per name) in the image.
 */
#include "FormatInternal.h"

const CHAR8 StatusTexts[] = "Success\0"                  // EFI_SUCCESS
                            "Warning Unknown Glyph\0"    // EFI_WARN_UNKNOWN_GLYPH
                            "Warning Delete Failure\0"   // EFI_WARN_DELETE_FAILURE
                            "Warning Write Failure\0"    // EFI_WARN_WRITE_FAILURE
                            "Warning Buffer Too Small\0" // EFI_WARN_BUFFER_TOO_SMALL
                            "Load Error\0"               // EFI_LOAD_ERROR
                            "Invalid Parameter\0"        // EFI_INVALID_PARAMETER
                            "Unsupported\0"              // EFI_UNSUPPORTED
                            "Bad Buffer Size\0"          // EFI_BAD_BUFFER_SIZE
                            "Buffer Too Small\0"         // EFI_BUFFER_TOO_SMALL
                            "Not Ready\0"                // EFI_NOT_READY
                            "Device Error\0"             // EFI_DEVICE_ERROR
                            "Write Protected\0"          // EFI_WRITE_PROTECTED
                            "Out of Resources\0"         // EFI_OUT_OF_RESOURCES
                            "Volume Corrupt\0"           // EFI_VOLUME_CORRUPTED
                            "Volume Full\0"              // EFI_VOLUME_FULL
                            "No Media\0"                 // EFI_NO_MEDIA
                            "Media changed\0"            // EFI_MEDIA_CHANGED
                            "Not Found\0"                // EFI_NOT_FOUND
                            "Access Denied\0"            // EFI_ACCESS_DENIED
                            "No Response\0"              // EFI_NO_RESPONSE
                            "No mapping\0"               // EFI_NO_MAPPING
                            "Time out\0"                 // EFI_TIMEOUT
                            "Not started\0"              // EFI_NOT_STARTED
                            "Already started\0"          // EFI_ALREADY_STARTED
                            "Aborted\0"                  // EFI_ABORTED
                            "ICMP Error\0"               // EFI_ICMP_ERROR
                            "TFTP Error\0"               // EFI_TFTP_ERROR
                            "Protocol Error\0"           // EFI_PROTOCOL_ERROR
    ;
