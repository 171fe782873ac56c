/*
 * A whole split: reads the fleet's file and the map, cuts and proves each
 * machine's file, and lays the files out for the chosen server in the output
 * folder, with the server's configuration lines.
 */
#ifndef TOLVANE_TOOLS_SPLIT_SPLIT_RUN_H
#define TOLVANE_TOOLS_SPLIT_SPLIT_RUN_H

#include <string>
#include <vector>

#include "ClientMap.h"
#include "MachineSplit.h"
#include "ServerLayout.h"
#include "SplitTree.h"

namespace RivariCheck {

struct SplitRequest {
  std::string FilePath;
  std::string MapPath;
  std::string OutPath;
  ServerKind Kind = ServerKind::DnsmasqIp;
  bool Force = false;   // write a machine's file even when a reason holds it back (never through an unsafe path)
  bool Parents = false; // create the output folder's missing parents (otherwise a missing parent is refused)
};

/* One row of the map and what became of it. */
struct ClientResult {
  ClientRow Row;
  std::u16string Header;
  uint64_t HeaderLine = 0;
  uint64_t EntryCount = 0;
  bool SectionFound = false;
  bool Equivalent = false;
  bool Written = false;
  std::string ConfigurationPath;          // relative to the output folder
  std::vector<std::string> NumberedFiles; // relative to the output folder
  std::vector<SplitReason> Reasons;
};

struct SplitReport {
  SplitRequest Request;
  std::string OutFolder; // absolute
  std::string Encoding;  // of the fleet's file: "bytes", "utf8-bom" or "utf16"
  uint64_t Size = 0;
  std::vector<ClientResult> Clients; // in map order
  std::vector<MapError> MapErrors;
  std::string Error; // the file, the map or the output folder could not be used: nothing was written
  std::vector<std::string> ServerLines;
  std::string MapFile; // relative path of the tftpd-hpa map file, empty for dnsmasq
  TreeCounts Counts;
  double Seconds = 0;
};

/* Runs the split Request asks for. Never throws for any input. */
SplitReport RunSplit(const SplitRequest &Request);

/* 0 every machine written and proven; 1 some machine held back or forced; 2 nothing could be split. */
int SplitExitStatus(const SplitReport &Report);

} // namespace RivariCheck

#endif
