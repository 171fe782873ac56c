/* The server check as text: requests, answers, verdicts, numbered files. Server text is shown escaped. */
#include "ServerCheckText.h"

#include <cstdio>

#include "DriverVerdict.h"
#include "ReportText.h"
#include "ServerCheck.h"
#include "TransferWording.h"
#include "WideText.h"

namespace RivariCheck {

namespace {

std::string Seconds(double Value) {
  char Text[32];
  std::snprintf(Text, sizeof(Text), "%.3f s", Value);
  return Text;
}

std::string RequestText(const RequestReport &Request) {
  std::string Out = DisplayBytes(Request.FileName);
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
  Out += Result.WindowAnswer ? ", window of " + std::to_string(*Result.WindowAnswer) + ")" : ", no window)";
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

std::string PoolText(const DriverVerdict &Verdict) {
  return Verdict.PoolBytes == 0 ? ""
                                : "; pool needed: " + std::to_string(Verdict.PoolBytes) +
                                      " bytes (download buffer and the lookup's copy), plus the section's copy";
}

std::string MeasuredText(const DriverVerdict &Verdict) {
  return Verdict.Measured ? "" : " [status not measured in OVMF]";
}

std::string VerdictText(const DriverVerdict &Verdict) {
  switch (Verdict.Kind) {
  case VerdictKind::Succeeds:
    return "Verdict: fetch would succeed (FetchConfiguration returns EFI_SUCCESS" + PoolText(Verdict) + ")" +
           MeasuredText(Verdict) + "\n";
  case VerdictKind::CannotTell:
    return "Verdict: cannot tell: " + Verdict.Reason + "\n";
  case VerdictKind::Fails:
    break;
  }
  const std::string Step = Verdict.Step ? " (step " + std::to_string(*Verdict.Step) + ")" : "";
  return "Verdict: fetch would fail: FetchConfiguration returns " + VerdictStatusText(Verdict) + Step + ": " +
         Verdict.Reason + MeasuredText(Verdict) + "\n";
}

std::string DownloadText(const NumberedFileCheck &File) {
  if (File.Missing) {
    return "missing (" + DescribeTransferEnd(File.SizeQuery.Result) + ")";
  }
  switch (File.Download.Kind) {
  case VerdictKind::CannotTell:
    return "cannot tell: " + File.Download.Reason;
  case VerdictKind::Succeeds:
    return VerdictStatusText(File.Download) + MeasuredText(File.Download);
  case VerdictKind::Fails:
    break;
  }
  return VerdictStatusText(File.Download) + ": " + File.Download.Reason + MeasuredText(File.Download);
}

std::string ServerText(const ServerReport &Server) {
  const std::string Wait =
      Server.TimeoutShortened
          ? "waiting at most " + Seconds(double(Server.TimeoutMilliseconds) / 1000) +
                " of silence (--timeout; the firmware waits " + std::to_string(FirmwarePatience.count() / 1000) + " s)"
          : "each sent up to " + std::to_string(FirmwareSends) + " times, " +
                std::to_string(FirmwareResendInterval.count() / 1000) + " s apart, as the firmware does";
  std::string Out = "Server " + Server.Server + ": the firmware's requests for the driver, " + Wait + "\n";
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
                  DisplayBytes(File.Name).c_str(), Size.SizeAnswer ? std::to_string(*Size.SizeAnswer).c_str() : "-",
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

} // namespace

std::string ServerCheckAsText(const ServerCheckReport &Report) {
  std::string Out = ServerText(Report.Server) + ReportAsText(Report.Configuration) + NumberedFilesText(Report.Server);
  if (Report.Outcome == ServerOutcome::CannotTell) {
    Out += "Cannot tell whether every operation would succeed: see the lines above (exit status 4).\n";
  }
  return Out;
}

} // namespace RivariCheck
