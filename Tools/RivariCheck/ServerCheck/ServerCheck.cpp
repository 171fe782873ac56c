/* The driver's sequence against a TFTP server: size query and read of rivari.ini, then the numbered files. */
#include "ServerCheck.h"

#include <algorithm>

#include "DriverVerdict.h"
#include "MachineView.h"
#include "TransferWording.h"
#include "UdpLink.h"
#include "WideText.h"

namespace RivariCheck {

namespace {

/* A data packet's header before its block. */
constexpr uint64_t DataHeader = 4;
/* The largest path MTU a machine on Ethernet has, and the block size it carries without IP fragments. */
constexpr uint32_t EthernetMtu = 1500;
constexpr uint32_t EthernetBlockSize = EthernetMtu - 20 - 8 - DataHeader;

/* The most bytes the check takes of one file. */
constexpr uint64_t MostBytes = 256ull << 20;
/* The numbers a scan tries: 0 to 99. */
constexpr int64_t ScannedFiles = 100;
constexpr uint16_t FileNotFound = 1;

RequestReport Run(const LinkOpener &OpenLink, const ServerCheckRequest &Check, FirmwareRequest Kind,
                  const std::string &FileName) {
  TransferRequest Request = FirmwareTransfer(Kind, FileName, Check.MostSilence);
  Request.MostBytes = MostBytes;
  RequestReport Report;
  Report.FileName = FileName;
  Report.Options = Request.Options;
  std::string Error;
  std::unique_ptr<DatagramLink> Link = OpenLink(Error);
  if (!Link) {
    Report.Result.End = TransferEnd::SendFailed;
    Report.Result.Problem = Error;
    return Report;
  }
  Report.LinkShortfall = Link->Shortfall();
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

/* Adds Note unless it is empty or the report has it already: a server treats every file alike. */
void AddNote(ServerReport &Server, const std::string &Note) {
  if (!Note.empty() && std::find(Server.Notes.begin(), Server.Notes.end(), Note) == Server.Notes.end()) {
    Server.Notes.push_back(Note);
  }
}

/* The most bytes one window of the read brings at once: the window asked for, in blocks of the driver's size. */
uint64_t LargestWindowBytes() {
  uint64_t Window = 1;
  for (const FirmwareOption &Option : FirmwareOptions(FirmwareRequest::Read)) {
    if (std::string(Option.Name) == "windowsize") {
      Window = std::stoull(Option.Value);
    }
  }
  return Window * (DriverBlockSize + DataHeader);
}

/* What a read's block size means for a machine, when the check ran over loopback and the server capped it. */
std::string LoopbackBlockSizeNote(uint32_t BlockSize) {
  return "the check reached the server over loopback, whose MTU no machine's path has: the server agreed to " +
         std::to_string(BlockSize) +
         "-byte blocks here; a server that caps blocks by its interface's MTU (dnsmasq) "
         "grants a machine on Ethernet (MTU " +
         std::to_string(EthernetMtu) + ") " + std::to_string(EthernetBlockSize) +
         "-byte blocks, and those cross it unfragmented";
}

/* Notes and warnings on how the server sent a file: block size, fragments, path problems, size answers. */
void AddTransferFindings(ServerReport &Server, const std::string &Name, const RequestReport &SizeQuery,
                         const RequestReport &Read, std::vector<Warning> &Warnings) {
  const TransferResult &Got = Read.Result;
  if (!Read.LinkShortfall.empty()) {
    AddNote(Server, Read.LinkShortfall + ": one window of the read (" + std::to_string(LargestWindowBytes()) +
                        " bytes) may not fit, and blocks the check's own socket drops show as resends no machine "
                        "would see");
  }
  AddNote(Server, PathProblemNote(Name, Got));
  for (const TftpOption &Option : Got.UnaskedOptions) {
    AddNote(Server, "the server acknowledged " + DisplayBytes(Option.first) + "=" + DisplayBytes(Option.second) +
                        ", which no request asked for: the firmware passes over it, and so does the check");
  }
  if (Got.End != TransferEnd::Complete) {
    return;
  }
  const bool Capped = !Got.DataAtOnce && Got.BlockSize < DriverBlockSize;
  // Over loopback a capped block size says what the server allows here, not what a machine gets.
  const bool LoopbackCap = Capped && Server.OverLoopback && Got.BlockSize > EthernetBlockSize;
  if (Got.DataAtOnce) {
    AddNote(Server, "the server ignored the read's options and sent 512-byte blocks at once");
  } else if (LoopbackCap) {
    AddNote(Server, LoopbackBlockSizeNote(Got.BlockSize));
  } else if (Capped) {
    AddNote(Server, "the server agreed to " + std::to_string(Got.BlockSize) + "-byte blocks, not " +
                        std::to_string(DriverBlockSize) + ": transfers take up to " +
                        std::to_string((DriverBlockSize + Got.BlockSize - 1) / Got.BlockSize) +
                        " times as many round trips (servers cap the block size by their interface MTU or a "
                        "setting: dnsmasq --tftp-mtu, tftpd-hpa --blocksize)");
  }
  if (!LoopbackCap) {
    AddNote(Server, FragmentNote(Got.BlockSize));
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
  File.SizeQuery = Run(OpenLink, Check, FirmwareRequest::SizeQuery, File.Name);
  const MtftpAnswer SizeAnswer = SizeQueryAnswer(File.SizeQuery.Result);
  std::optional<MtftpAnswer> ReadResult;
  if (Check.ReadNumberedFiles) {
    File.Read = Run(OpenLink, Check, FirmwareRequest::Read, File.Name);
    File.Read->Result.Data.clear();
    File.Read->Result.Data.shrink_to_fit();
    ReadResult = ReadAnswer(File.Read->Result, SizeAnswer.Size);
  }
  File.Missing = ErrorNotFound(File.SizeQuery.Result) && (!File.Read || ErrorNotFound(File.Read->Result));
  File.Download = NumberedFileVerdict(SizeAnswer, ReadResult);
  return File;
}

/* Whether a file's name in the other case is there: a lower-case identifier keeps its case in file names. */
std::string OtherSpellingNote(const LinkOpener &OpenLink, const ServerCheckRequest &Check, const std::string &Name) {
  std::string Upper = Name;
  std::transform(Upper.begin(), Upper.end(), Upper.begin(),
                 [](char Letter) { return Letter >= 'a' && Letter <= 'z' ? char(Letter - 'a' + 'A') : Letter; });
  if (Upper == Name) {
    return "";
  }
  const RequestReport Other = Run(OpenLink, Check, FirmwareRequest::SizeQuery, Upper);
  if (Other.Result.End != TransferEnd::SizeAnswered) {
    return "";
  }
  return "the server has " + DisplayBytes(Upper) + " but the driver asks for " + DisplayBytes(Name) +
         ": numbered file names keep the identifier's case as the caller passes it (TFTP servers on Linux tell "
         "case apart); pass the identifier in upper case or name the files as the driver asks";
}

/* The numbered files: those asked for, or a scan that stops at the first file that cannot be had. */
void CheckNumberedFiles(const LinkOpener &OpenLink, const ServerCheckRequest &Check, const ReportRequest &Request,
                        ServerReport &Server, std::vector<Warning> &Warnings) {
  Server.FilesScanned = Request.FileNumbers.empty();
  std::vector<int64_t> Numbers = Request.FileNumbers;
  for (int64_t Number = 0; Server.FilesScanned && Number < ScannedFiles; Number++) {
    Numbers.push_back(Number);
  }
  for (int64_t Number : Numbers) {
    Server.Files.push_back(CheckNumberedFile(OpenLink, Check, *Request.Identifier, Number));
    const NumberedFileCheck &File = Server.Files.back();
    if (File.Read) {
      AddTransferFindings(Server, File.Name, File.SizeQuery, *File.Read, Warnings);
    }
    if (File.Missing && Server.Files.size() == 1) {
      AddNote(Server, OtherSpellingNote(OpenLink, Check, File.Name));
    }
    if (Server.FilesScanned && File.Download.Kind != VerdictKind::Succeeds) {
      break;
    }
  }
}

/* The check's outcome: a failure anywhere, else anything it cannot tell, else the file's own. */
ServerOutcome Outcome(const ServerReport &Server) {
  bool Fails = Server.Fetch.Kind == VerdictKind::Fails;
  bool CannotTell = Server.Fetch.Kind == VerdictKind::CannotTell;
  for (const NumberedFileCheck &File : Server.Files) {
    // The end of a scan is the first missing file, not a fault.
    if (Server.FilesScanned && File.Missing) {
      continue;
    }
    Fails = Fails || File.Download.Kind == VerdictKind::Fails;
    CannotTell = CannotTell || File.Download.Kind == VerdictKind::CannotTell;
  }
  return Fails ? ServerOutcome::FetchFails : CannotTell ? ServerOutcome::CannotTell : ServerOutcome::FromFile;
}

} // namespace

ServerCheckReport CheckServer(const LinkOpener &OpenLink, const ServerCheckRequest &Check,
                              const ReportRequest &Request) {
  const std::string ConfigName = TOLVANE_CONFIGURATION_FILE_NAME;
  ServerCheckReport Checked;
  ServerReport &Server = Checked.Server;
  Server.Server = EndpointText(Check.Server);
  Server.OverLoopback = Check.OverLoopback;
  const TransferRequest Schedule = FirmwareTransfer(FirmwareRequest::SizeQuery, ConfigName, Check.MostSilence);
  Server.TimeoutShortened = Schedule.MostSilence.has_value();
  Server.TimeoutMilliseconds = static_cast<uint64_t>(Schedule.MostSilence.value_or(FirmwarePatience).count());
  Server.MachineGiven = Request.Identifier.has_value();
  Server.SizeQuery = Run(OpenLink, Check, FirmwareRequest::SizeQuery, ConfigName);
  Server.Read = Run(OpenLink, Check, FirmwareRequest::Read, ConfigName);

  const std::string Shown = "tftp://" + Server.Server + "/" + ConfigName;
  const TransferResult &Got = Server.Read.Result;
  Checked.Configuration = Got.End == TransferEnd::Complete
                              ? AnalyzeConfiguration(Shown, Got.Data, Request)
                              : UnreadableReport(Shown, "not received: " + DescribeTransferEnd(Got));
  Server.Read.Result.Data.clear();
  ConfigurationReport &Report = Checked.Configuration;

  const MtftpAnswer SizeAnswer = SizeQueryAnswer(Server.SizeQuery.Result);
  const std::optional<bool> SectionFound =
      Report.Machine ? std::optional<bool>(Report.Machine->SectionFound) : std::nullopt;
  Server.Fetch = FetchVerdict(SizeAnswer, ReadAnswer(Got, SizeAnswer.Size), SectionFound);
  AddTransferFindings(Server, ConfigName, Server.SizeQuery, Server.Read, Report.Warnings);

  if (Unanswered(Server.SizeQuery.Result) && Unanswered(Server.Read.Result)) {
    // Waiting out every numbered file as well would only double the time to the same verdict.
    Server.Notes.push_back("nothing came from the server: numbered files not checked");
  } else if (Request.Identifier) {
    CheckNumberedFiles(OpenLink, Check, Request, Server, Report.Warnings);
  }
  Checked.Outcome = Outcome(Server);
  if (Checked.Outcome == ServerOutcome::FromFile && Report.Outcome == ReportOutcome::Clean &&
      !Report.Warnings.empty()) {
    Report.Outcome = ReportOutcome::Warnings;
  }
  return Checked;
}

std::optional<ServerCheckReport> CheckServerAt(const std::string &Text, const ServerCheckRequest &Settings,
                                               const ReportRequest &Request, std::string &Error) {
  const std::optional<Endpoint> Server = ResolveServer(Text, Error);
  if (!Server) {
    return std::nullopt;
  }
  ServerCheckRequest Check = Settings;
  Check.Server = *Server;
  Check.OverLoopback = RoutesOverLoopback(*Server);
  // Room for a whole window and one block more (a repeat), so that the socket drops nothing the firmware keeps.
  const uint64_t ReceiveBytes = LargestWindowBytes() + DriverBlockSize + DataHeader;
  return CheckServer([ReceiveBytes](std::string &Problem) { return OpenUdpLink(Problem, ReceiveBytes); }, Check,
                     Request);
}

int ServerExitStatus(const ServerCheckReport &Report) {
  switch (Report.Outcome) {
  case ServerOutcome::FetchFails:
    return 3;
  case ServerOutcome::CannotTell:
    return 4;
  default:
    return ExitStatus(Report.Configuration);
  }
}

} // namespace RivariCheck
