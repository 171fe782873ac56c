/*
 * rivari-check --server: what a TFTP server did with the driver's own
 * requests, and what the driver would make of it.
 */
#ifndef TOLVANE_TOOLS_SERVER_REPORT_H
#define TOLVANE_TOOLS_SERVER_REPORT_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "Protocol/TolvaneService.h"
#include "TftpClient.h"

namespace RivariCheck {

/* The block size every read of the driver asks for. */
constexpr uint32_t DriverBlockSize = TOLVANE_TFTP_BLOCK_SIZE;

/* What the firmware's Mtftp returns for a transfer that went as observed. */
struct MtftpAnswer {
  std::optional<uint64_t> Status; // an EFI_STATUS; none when the check cannot tell (it could not send)
  uint64_t Size = 0;              // the size answered or the bytes received, on success
  std::string Reason;             // why it failed, for people
};

/* The outcome of one service operation. */
struct DriverVerdict {
  bool Succeeds = false;
  std::optional<uint64_t> Status; // none when the check cannot tell
  std::optional<int> Step;        // the fetch step whose status this is (4 or 5)
  std::string Reason;             // empty on success
};

/* One request as sent, and what came of it. */
struct RequestReport {
  std::string FileName;
  std::vector<TftpOption> Options;
  TransferResult Result;
};

struct NumberedFileCheck {
  int64_t Number = 0;
  std::string Name; // the name the driver asks for
  RequestReport SizeQuery;
  std::optional<RequestReport> Read; // none with --no-read
  bool Missing = false;              // both requests got an error packet 1: no such file
  DriverVerdict Download;            // FetchNumberedFile into a buffer of the answered size
};

struct ServerReport {
  std::string Server; // A.B.C.D:PORT
  uint64_t TimeoutMilliseconds = 0;
  RequestReport SizeQuery;
  RequestReport Read;
  DriverVerdict Fetch; // FetchConfiguration
  std::vector<std::string> Notes;
  bool MachineGiven = false;
  bool FilesScanned = false; // numbers 0, 1, 2, ... until the first missing one
  std::vector<NumberedFileCheck> Files;
};

/* The answer of the firmware's size query (Mtftp GET_FILE_SIZE) for Result. */
MtftpAnswer SizeQueryAnswer(const TransferResult &Result);

/* The answer of the firmware's read (Mtftp READ_FILE) into Capacity bytes for Result. */
MtftpAnswer ReadAnswer(const TransferResult &Result, uint64_t Capacity);

/*
 * FetchConfiguration's outcome from its size query and read, and (when the
 * read delivered) whether the machine's section is in the file; none for
 * SectionFound when no machine was named.
 */
DriverVerdict FetchVerdict(const MtftpAnswer &SizeQuery, const std::optional<MtftpAnswer> &Read,
                           std::optional<bool> SectionFound);

/* FetchNumberedFile's outcome with a buffer of the answered size; none for Read with --no-read. */
DriverVerdict NumberedFileVerdict(const MtftpAnswer &SizeQuery, const std::optional<MtftpAnswer> &Read);

/* "EFI_TIMEOUT", or the hexadecimal value for a status without a name here. */
std::string StatusName(uint64_t Status);

/* A verdict's status for people: a step's status in hexadecimal (its UEFI name would mislead), else its name. */
std::string VerdictStatusText(const DriverVerdict &Verdict);

} // namespace RivariCheck

#endif
