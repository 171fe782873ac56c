/*
 * rivari-check --server: what a TFTP server did with the firmware's own
 * requests for the driver, and what the driver would make of it. Records
 * only; the check fills them, the two output forms read them.
 */
#ifndef TOLVANE_TOOLS_SERVER_REPORT_H
#define TOLVANE_TOOLS_SERVER_REPORT_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "ConfigurationReport.h"
#include "TftpClient.h"

namespace RivariCheck {

/* What the firmware's Mtftp returns for a transfer that went as observed. */
struct MtftpAnswer {
  std::optional<uint64_t> Status; // an EFI_STATUS; none when the check cannot tell
  uint64_t Size = 0;              // the size answered or the bytes received, on success
  std::string Reason;             // why it failed, or why the check cannot tell, for people
  bool Measured = true;           // the firmware scenarios measured this status
};

enum class VerdictKind {
  Succeeds,
  Fails,      // with a status
  CannotTell, // with why
};

/* The outcome of one service operation. */
struct DriverVerdict {
  VerdictKind Kind = VerdictKind::CannotTell;
  std::optional<uint64_t> Status; // none when the check cannot tell
  std::optional<int> Step;        // the fetch step whose status this is (4 or 5)
  std::string Reason;             // empty on success
  bool Measured = true;           // every status behind it was measured in OVMF
  uint64_t PoolBytes = 0;         // boot-services pool the operation needs at its peak, when known
};

/* One request as sent, and what came of it. */
struct RequestReport {
  std::string FileName;
  std::vector<TftpOption> Options;
  TransferResult Result;
  std::string LinkShortfall; // what the check's own socket lacked (a receive buffer smaller than asked for)
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
  std::string Server;               // A.B.C.D:PORT
  uint64_t TimeoutMilliseconds = 0; // the longest silence waited for
  bool TimeoutShortened = false;    // --timeout cut the firmware's patience
  bool OverLoopback = false;        // the check reached the server over the loopback interface
  RequestReport SizeQuery;
  RequestReport Read;
  DriverVerdict Fetch; // FetchConfiguration
  std::vector<std::string> Notes;
  bool MachineGiven = false;
  bool FilesScanned = false; // numbers 0, 1, 2, ... until the first missing one
  std::vector<NumberedFileCheck> Files;
};

enum class ServerOutcome {
  FromFile,   // the fetch and every numbered file would succeed: the file's own outcome stands
  FetchFails, // exit 3: the fetch, or a numbered file asked for, would fail
  CannotTell, // exit 4: nothing would fail as far as the check can tell, and something it cannot tell
};

/* The whole of a server check: the configuration as the server sent it, and the server part. */
struct ServerCheckReport {
  ConfigurationReport Configuration;
  ServerReport Server;
  ServerOutcome Outcome = ServerOutcome::FromFile;
};

} // namespace RivariCheck

#endif
