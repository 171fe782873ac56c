/* The server check as text: requests, answers, verdicts, numbered files. */
#include <cstdio>

#include "ServerOutput.h"

namespace RivariCheck {

namespace {

std::string Seconds(double Value) {
  char Text[32];
  std::snprintf(Text, sizeof(Text), "%.3f s", Value);
  return Text;
}

std::string RequestText(const RequestReport &Request) {
  std::string Out = Request.FileName;
  for (const TftpOption &Option : Request.Options) {
    Out += " " + Option.first + "=" + Option.second;
  }
  return Out;
}

/* How a read went: the bytes, the blocks and their size, and how the options were answered. */
std::string ReadText(const TransferResult &Result) {
  if (Result.End != TransferEnd::Complete) {
    return DescribeTransferEnd(Result);
  }
  std::string Out = DescribeTransferEnd(Result) + " in " + std::to_string(Result.Blocks) +
                    (Result.Blocks == 1 ? " block" : " blocks") + " of " + std::to_string(Result.BlockSize);
  if (Result.DataAtOnce) {
    return Out + " (options ignored: data at once)";
  }
  Out += Result.BlockSizeAnswer ? " (block size agreed" : " (block size not acknowledged";
  Out += Result.SizeAnswer ? ", size answered " + std::to_string(*Result.SizeAnswer) + ")" : ", no size answer)";
  return Out;
}

/* Resends and ignored packets, when there were any. */
std::string TrafficText(const TransferResult &Result) {
  std::string Out;
  if (Result.Resends != 0) {
    Out += "; sent again " + std::to_string(Result.Resends) + (Result.Resends == 1 ? " time" : " times");
  }
  if (Result.IgnoredPackets != 0) {
    Out += "; " + std::to_string(Result.IgnoredPackets) + " packets ignored";
  }
  return Out;
}

std::string VerdictText(const DriverVerdict &Verdict) {
  if (Verdict.Succeeds) {
    return "Verdict: fetch would succeed (FetchConfiguration returns EFI_SUCCESS)\n";
  }
  if (!Verdict.Status) {
    return "Verdict: cannot tell: " + Verdict.Reason + "\n";
  }
  const std::string Step = Verdict.Step ? " (step " + std::to_string(*Verdict.Step) + ")" : "";
  return "Verdict: fetch would fail: FetchConfiguration returns " + VerdictStatusText(Verdict) + Step + ": " +
         Verdict.Reason + "\n";
}

std::string DownloadText(const NumberedFileCheck &File) {
  if (File.Missing) {
    return "missing (" + DescribeTransferEnd(File.SizeQuery.Result) + ")";
  }
  if (!File.Download.Status) {
    return "cannot tell: " + File.Download.Reason;
  }
  return VerdictStatusText(File.Download) + (File.Download.Succeeds ? "" : ": " + File.Download.Reason);
}

} // namespace

std::string ServerText(const ServerReport &Server) {
  std::string Out = "Server " + Server.Server + ": the driver's requests, each waiting up to " +
                    Seconds(double(Server.TimeoutMilliseconds) / 1000) + " for an answer\n";
  Out += "Size query  " + RequestText(Server.SizeQuery) + ": " + DescribeTransferEnd(Server.SizeQuery.Result) +
         TrafficText(Server.SizeQuery.Result) + ", " + Seconds(Server.SizeQuery.Result.Seconds) + "\n";
  Out += "Read        " + RequestText(Server.Read) + ": " + ReadText(Server.Read.Result) +
         TrafficText(Server.Read.Result) + ", " + Seconds(Server.Read.Result.Seconds) + "\n";
  Out += VerdictText(Server.Fetch);
  for (const std::string &Note : Server.Notes) {
    Out += "Note: " + Note + "\n";
  }
  return Out;
}

std::string NumberedFilesText(const ServerReport &Server) {
  if (Server.Files.empty()) {
    return "";
  }
  std::string Out = "Numbered files (FetchNumberedFile: a size query, then a read into a buffer of the answered "
                    "size" +
                    std::string(Server.Files.front().Read ? "" : "; reads skipped") + "):\n";
  Out += " File  Name             SizeAnswer   Received  BlockSize   Seconds  FetchNumberedFile\n";
  for (const NumberedFileCheck &File : Server.Files) {
    const TransferResult &Size = File.SizeQuery.Result;
    const bool Read = File.Read && File.Read->Result.End == TransferEnd::Complete;
    char Line[160];
    std::snprintf(Line, sizeof(Line), "%5lld  %-15s  %10s  %9s  %9s  %8.3f  ", static_cast<long long>(File.Number),
                  File.Name.c_str(), Size.SizeAnswer ? std::to_string(*Size.SizeAnswer).c_str() : "-",
                  Read ? std::to_string(File.Read->Result.Received).c_str() : "-",
                  Read ? std::to_string(File.Read->Result.BlockSize).c_str() : "-",
                  Size.Seconds + (File.Read ? File.Read->Result.Seconds : 0));
    Out += Line + DownloadText(File) + "\n";
  }
  if (Server.FilesScanned && !Server.Files.empty() && Server.Files.back().Missing) {
    const int64_t Count = Server.Files.back().Number;
    Out += Count == 0 ? "No numbered files: file 0 is missing.\n"
                      : "Numbered files 0 to " + std::to_string(Count - 1) + " are there; file " +
                            std::to_string(Count) + " is missing.\n";
  }
  return Out;
}

} // namespace RivariCheck
