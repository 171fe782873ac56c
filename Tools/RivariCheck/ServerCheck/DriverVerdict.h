/*
 * The driver's outcome on a server: what the firmware's Mtftp returns for
 * each transfer (from the firmware model), and what FetchConfiguration and
 * FetchNumberedFile make of it, the pool they take included.
 */
#ifndef TOLVANE_TOOLS_DRIVER_VERDICT_H
#define TOLVANE_TOOLS_DRIVER_VERDICT_H

#include "FirmwareModel.h"
#include "ServerReport.h"

namespace RivariCheck {

/* The answer of the firmware's size query (Mtftp GET_FILE_SIZE) for Result. */
MtftpAnswer SizeQueryAnswer(const TransferResult &Result);

/* The answer of the firmware's read (Mtftp READ_FILE) into Capacity bytes for Result. */
MtftpAnswer ReadAnswer(const TransferResult &Result, uint64_t Capacity);

/*
 * FetchConfiguration's outcome from its size query and read, and (when the
 * read delivered) whether the machine's section is in the file; none for
 * SectionFound when no machine was named. PoolLimit is the most pool the
 * fetch can have: its download buffer takes the size answered, the
 * lookup's copy the bytes received on top.
 */
DriverVerdict FetchVerdict(const MtftpAnswer &SizeQuery, const std::optional<MtftpAnswer> &Read,
                           std::optional<bool> SectionFound, uint64_t PoolLimit = FirmwarePoolLimit);

/* FetchNumberedFile's outcome with a buffer of the answered size; none for Read with --no-read. */
DriverVerdict NumberedFileVerdict(const MtftpAnswer &SizeQuery, const std::optional<MtftpAnswer> &Read);

/* "0x8000000000000012": the status as 16 hexadecimal digits. */
std::string StatusValue(uint64_t Status);

/* "EFI_TIMEOUT", or the hexadecimal value for a status without a name here. */
std::string StatusName(uint64_t Status);

/* A verdict's status for people: a step's status in hexadecimal (its UEFI name would mislead), else its name. */
std::string VerdictStatusText(const DriverVerdict &Verdict);

} // namespace RivariCheck

#endif
