/* The driver's sequence against a TFTP server: size query and read of rivari.ini, then the numbered files. */
#include "ServerCheck.h"

#include <algorithm>

#include "ReportParts.h"
#include "UdpLink.h"

namespace RivariCheck {

namespace {

/* The most bytes the check takes of one file. */
constexpr uint64_t MostBytes = 256ull << 20;
/* The numbers a scan tries: 0 to 99. */
constexpr int64_t ScannedFiles = 100;
constexpr uint16_t FileNotFound = 1;

/* The driver's size query: tsize alone, ended once the server has answered it. */
TransferRequest SizeQueryRequest(const std::string &FileName, const ServerCheckRequest &Check) {
  TransferRequest Request;
  Request.FileName = FileName;
  Request.AskSize = true;
  Request.SizeOnly = true;
  Request.Timeout = Check.Timeout;
  return Request;
}

/* The driver's read: blksize 64512 and tsize, the whole file. */
TransferRequest ReadRequest(const std::string &FileName, const ServerCheckRequest &Check) {
  TransferRequest Request;
  Request.FileName = FileName;
  Request.BlockSize = DriverBlockSize;
  Request.AskSize = true;
  Request.MostBytes = MostBytes;
  Request.Timeout = Check.Timeout;
  return Request;
}

RequestReport Run(const LinkOpener &OpenLink, const ServerCheckRequest &Check, const TransferRequest &Request) {
  RequestReport Report;
  Report.FileName = Request.FileName;
  Report.Options = RequestOptions(Request);
  std::string Error;
  std::unique_ptr<DatagramLink> Link = OpenLink(Error);
  if (!Link) {
    Report.Result.End = TransferEnd::SendFailed;
    Report.Result.Problem = Error;
    return Report;
  }
  Report.Result = RunTransfer(*Link, Check.Server, Request);
  return Report;
}

/* True when the server sent nothing at all for the request. */
bool Unanswered(const TransferResult &Result) {
  return Result.End == TransferEnd::Timeout && !Result.OptionsAcknowledged && Result.Blocks == 0;
}

bool ErrorNotFound(const TransferResult &Result) {
  return Result.End == TransferEnd::ServerError && Result.ErrorCode == FileNotFound;
}

/* Adds Note unless the report has it already: a server treats every file alike. */
void AddNote(ServerReport &Server, const std::string &Note) {
  if (std::find(Server.Notes.begin(), Server.Notes.end(), Note) == Server.Notes.end()) {
    Server.Notes.push_back(Note);
  }
}

/* Notes and warnings on how the server sent a file that the driver does receive. */
void AddTransferFindings(ServerReport &Server, const std::string &Name, const RequestReport &SizeQuery,
                         const RequestReport &Read, std::vector<Warning> &Warnings) {
  const TransferResult &Got = Read.Result;
  if (Got.End != TransferEnd::Complete) {
    return;
  }
  if (Got.DataAtOnce) {
    AddNote(Server, "the server ignored the read's options and sent 512-byte blocks at once");
  } else if (Got.BlockSize < DriverBlockSize) {
    AddNote(Server, "the server agreed to " + std::to_string(Got.BlockSize) + "-byte blocks, not " +
                        std::to_string(DriverBlockSize) + ": transfers take up to " +
                        std::to_string((DriverBlockSize + Got.BlockSize - 1) / Got.BlockSize) +
                        " times as many round trips (servers cap the block size by their interface MTU or a "
                        "setting: dnsmasq --tftp-mtu, tftpd-hpa --blocksize)");
  }
  const std::optional<uint64_t> Size = SizeQuery.Result.SizeAnswer;
  if (SizeQuery.Result.End == TransferEnd::SizeAnswered && Size && *Size > Got.Received) {
    Warnings.push_back({"size-answer", 0,
                        Name + ": the size query answered " + std::to_string(*Size) + " bytes but the server sent " +
                            std::to_string(Got.Received) + ": callers allocate " + std::to_string(*Size) +
                            " bytes, and a buffer of the real size gets EFI_OUT_OF_RESOURCES"});
  }
}

NumberedFileCheck CheckNumberedFile(const LinkOpener &OpenLink, const ServerCheckRequest &Check,
                                    const std::string &Identifier, int64_t Number) {
  NumberedFileCheck File;
  File.Number = Number;
  File.Name = NameFile(RecordedMachineId(Identifier), Number).Name;
  File.SizeQuery = Run(OpenLink, Check, SizeQueryRequest(File.Name, Check));
  const MtftpAnswer SizeAnswer = SizeQueryAnswer(File.SizeQuery.Result);
  std::optional<MtftpAnswer> ReadResult;
  if (Check.ReadNumberedFiles) {
    File.Read = Run(OpenLink, Check, ReadRequest(File.Name, Check));
    File.Read->Result.Data.clear();
    File.Read->Result.Data.shrink_to_fit();
    ReadResult = ReadAnswer(File.Read->Result, SizeAnswer.Size);
  }
  File.Missing = ErrorNotFound(File.SizeQuery.Result) && (!File.Read || ErrorNotFound(File.Read->Result));
  File.Download = NumberedFileVerdict(SizeAnswer, ReadResult);
  return File;
}

/* The numbered files: those asked for, or a scan that stops at the first file that cannot be had. */
bool CheckNumberedFiles(const LinkOpener &OpenLink, const ServerCheckRequest &Check, const ReportRequest &Request,
                        ServerReport &Server, std::vector<Warning> &Warnings) {
  Server.FilesScanned = Request.FileNumbers.empty();
  std::vector<int64_t> Numbers = Request.FileNumbers;
  for (int64_t Number = 0; Server.FilesScanned && Number < ScannedFiles; Number++) {
    Numbers.push_back(Number);
  }
  bool AllDownload = true;
  for (int64_t Number : Numbers) {
    Server.Files.push_back(CheckNumberedFile(OpenLink, Check, *Request.Identifier, Number));
    const NumberedFileCheck &File = Server.Files.back();
    if (File.Download.Succeeds && File.Read) {
      AddTransferFindings(Server, File.Name, File.SizeQuery, *File.Read, Warnings);
    }
    // The end of a scan is the first missing file, not a fault.
    AllDownload = AllDownload && (File.Download.Succeeds || (Server.FilesScanned && File.Missing));
    if (Server.FilesScanned && !File.Download.Succeeds) {
      break;
    }
  }
  return AllDownload;
}

} // namespace

ConfigurationReport CheckServer(const LinkOpener &OpenLink, const ServerCheckRequest &Check,
                                const ReportRequest &Request) {
  const std::string ConfigName = TOLVANE_CONFIGURATION_FILE_NAME;
  ServerReport Server;
  Server.Server = EndpointText(Check.Server);
  Server.TimeoutMilliseconds = static_cast<uint64_t>(Check.Timeout.count());
  Server.MachineGiven = Request.Identifier.has_value();
  Server.SizeQuery = Run(OpenLink, Check, SizeQueryRequest(ConfigName, Check));
  Server.Read = Run(OpenLink, Check, ReadRequest(ConfigName, Check));

  const std::string Shown = "tftp://" + Server.Server + "/" + ConfigName;
  const TransferResult &Got = Server.Read.Result;
  ConfigurationReport Report = Got.End == TransferEnd::Complete
                                   ? AnalyzeConfiguration(Shown, Got.Data, Request)
                                   : UnreadableReport(Shown, "not received: " + DescribeTransferEnd(Got));
  Server.Read.Result.Data.clear();

  const MtftpAnswer SizeAnswer = SizeQueryAnswer(Server.SizeQuery.Result);
  const std::optional<bool> SectionFound =
      Report.Machine ? std::optional<bool>(Report.Machine->SectionFound) : std::nullopt;
  Server.Fetch = FetchVerdict(SizeAnswer, ReadAnswer(Got, SizeAnswer.Size), SectionFound);
  AddTransferFindings(Server, ConfigName, Server.SizeQuery, Server.Read, Report.Warnings);

  bool FilesDownload = true;
  if (Unanswered(Server.SizeQuery.Result) && Unanswered(Server.Read.Result)) {
    // Waiting out every numbered file as well would only double the time to the same verdict.
    Server.Notes.push_back("nothing came from the server: numbered files not checked");
  } else if (Request.Identifier) {
    FilesDownload = CheckNumberedFiles(OpenLink, Check, Request, Server, Report.Warnings);
  }
  const bool SectionOnly = Server.Fetch.Step == 5;
  if ((!Server.Fetch.Succeeds && !SectionOnly) || !FilesDownload) {
    Report.Outcome = ReportOutcome::FetchFails;
  } else if (Report.Outcome == ReportOutcome::Clean && !Report.Warnings.empty()) {
    Report.Outcome = ReportOutcome::Warnings;
  }
  Report.Server = std::move(Server);
  return Report;
}

std::optional<ConfigurationReport> CheckServerAt(const std::string &Text, const ServerCheckRequest &Settings,
                                                 const ReportRequest &Request, std::string &Error) {
  const std::optional<Endpoint> Server = ResolveServer(Text, Error);
  if (!Server) {
    return std::nullopt;
  }
  ServerCheckRequest Check = Settings;
  Check.Server = *Server;
  return CheckServer(OpenUdpLink, Check, Request);
}

} // namespace RivariCheck
