/* Running a split from the command's request to the written folder. */
#include "SplitRun.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <set>

#include "FileText.h"
#include "MachineIdentity.h"
#include "MachineView.h"
#include "TextLayout.h"

namespace RivariCheck {

namespace {

/* The whole file at Path, or false with Error naming it and why it cannot be read. */
bool ReadFile(const std::string &Path, std::vector<uint8_t> &Content, std::string &Error) {
  // The fleet's numbered files are found beside its file, and the map is read once: both come from files.
  if (Path == "-") {
    Error = "-: the split reads files, not standard input";
    return false;
  }
  std::string Why;
  if (!ReadWholeFile(Path, Content, Why)) {
    Error = Path + ": " + Why;
    return false;
  }
  return true;
}

std::string UpperCase(std::string Text) {
  for (char &Byte : Text) {
    Byte = Byte >= 'a' && Byte <= 'z' ? static_cast<char>(Byte - 'a' + 'A') : Byte;
  }
  return Text;
}

/* The numbered files beside the fleet's file, by identifier, and how each identifier is spelt there. */
struct NumberedFiles {
  std::map<std::string, std::vector<std::string>> Named;  // names exactly what the driver asks for a file number
  std::map<std::string, std::set<std::string>> Spellings; // upper-cased identifier → identifiers of names there
};

/*
 * The numbered files of each identifier beside the fleet's file: names that
 * are exactly what the driver asks for some file number.
 */
NumberedFiles NumberedFilesBeside(const std::string &FilePath, const std::set<std::string> &Identifiers) {
  NumberedFiles Result;
  std::map<std::string, std::vector<std::string>> &Files = Result.Named;
  std::error_code Failure;
  const std::filesystem::path Folder = std::filesystem::absolute(FilePath).parent_path();
  for (const auto &Item : std::filesystem::directory_iterator(Folder, Failure)) {
    const std::string Name = Item.path().filename().string();
    const size_t Point = Name.find('.');
    if (Point == MachineIdLength) {
      Result.Spellings[UpperCase(Name.substr(0, Point))].insert(Name.substr(0, Point));
    }
    if (Point != MachineIdLength || Identifiers.count(Name.substr(0, Point)) == 0 || !Item.is_regular_file(Failure)) {
      continue;
    }
    const std::string Number = Name.substr(Point + 1);
    if (Number.empty() || Number.size() > 11 || Number.find_first_not_of("-0123456789") != std::string::npos) {
      continue;
    }
    const FileNameReport Asked = NameFile(RecordedMachineId(Name.substr(0, Point)), std::stoll(Number));
    if (Asked.Name == Name) {
      Files[Name.substr(0, Point)].push_back(Name);
    }
  }
  for (auto &[Identifier, Names] : Files) {
    std::sort(Names.begin(), Names.end());
  }
  return Result;
}

/*
 * The identifier-case reason for an identifier with lower-case letters: the
 * driver finds the upper-case header but asks for numbered files as the
 * caller spells the identifier, and the tree holds the files as they are
 * spelt beside the fleet's file.
 */
std::optional<SplitReason> IdentifierCaseReason(const ClientRow &Row, const NumberedFiles &Beside) {
  const std::string Upper = UpperCase(Row.Identifier);
  if (Upper == Row.Identifier) {
    return std::nullopt;
  }
  std::string There;
  const auto Spelt = Beside.Spellings.find(Upper);
  if (Spelt != Beside.Spellings.end()) {
    for (const std::string &Spelling : Spelt->second) {
      There += (There.empty() ? "" : ", ") + Spelling + ".N";
    }
  }
  const std::string Asked = NameFile(RecordedMachineId(Row.Identifier), 0).Name;
  std::string Message = "map row " + std::to_string(Row.Line) + ": " + Row.Identifier +
                        " has lower-case letters: the driver finds the header [" + Upper +
                        "] but asks for numbered files as " + Asked + ", ...; ";
  Message += There.empty() ? "no numbered file beside the file is spelt either way"
                           : "beside the file they are spelt " + There +
                                 ", which a server that tells letter case apart never serves as " + Asked;
  Message += ". Write the identifier in the map exactly as the caller passes it, and name the files so";
  return SplitReason{"identifier-case", 0, Message};
}

/* Refuses an output folder whose parent is missing (a mistyped path) unless the request creates parents. */
std::string MissingParentProblem(const SplitRequest &Request, const std::string &OutFolder) {
  std::error_code Failure;
  const std::filesystem::path Parent = std::filesystem::path(OutFolder).parent_path();
  if (Request.Parents || std::filesystem::exists(OutFolder, Failure) ||
      std::filesystem::is_directory(Parent, Failure)) {
    return "";
  }
  const std::string Typed = std::filesystem::path(Request.OutPath).lexically_normal().parent_path().string();
  return Request.OutPath + ": its parent folder " + (Typed.empty() ? Parent.string() : Typed) +
         " does not exist (a mistyped path?); create it, or pass --parents to create it with the output folder";
}

/* Writes one client's files when nothing holds them back; the reasons otherwise. */
void PlaceClient(const SplitRequest &Request, const MachineSplit &Split, const std::vector<std::string> &Numbered,
                 const std::string &SourceFolder, SplitTree &Tree, ClientResult &Client) {
  Client.ConfigurationPath = ClientConfigurationPath(Request.Kind, Client.Row.Address);
  for (const std::string &Name : Numbered) {
    Client.NumberedFiles.push_back(ClientNumberedFilePath(Request.Kind, Client.Row.Address, Name));
  }
  std::vector<std::string> Paths = Client.NumberedFiles;
  Paths.push_back(Client.ConfigurationPath);
  for (const std::string &Path : Paths) {
    const std::string Problem = TreePathProblem(Tree, Path, Request.Force);
    if (!Problem.empty()) {
      Client.Reasons.push_back({"output-path", 0, Problem});
      return;
    }
  }
  if (!Client.Reasons.empty() && !Request.Force) {
    return;
  }
  std::string Error = WriteTreeFile(Tree, Client.ConfigurationPath, Split.Client);
  for (size_t Index = 0; Error.empty() && Index < Numbered.size(); Index++) {
    Error = LinkTreeFile(Tree, Client.NumberedFiles[Index], SourceFolder + "/" + Numbered[Index]);
  }
  if (!Error.empty()) {
    Client.Reasons.push_back({"output-path", 0, Error});
    return;
  }
  Client.Written = true;
}

} // namespace

SplitReport RunSplit(const SplitRequest &Request) {
  const auto Start = std::chrono::steady_clock::now();
  SplitReport Report;
  Report.Request = Request;
  std::error_code Failure;
  Report.OutFolder = std::filesystem::absolute(Request.OutPath, Failure).lexically_normal().string();
  if (Report.OutFolder.size() > 1 && Report.OutFolder.back() == '/') {
    Report.OutFolder.pop_back();
  }
  Report.ServerLines = ServerConfigurationLines(Request.Kind, Report.OutFolder);
  Report.Error = MissingParentProblem(Request, Report.OutFolder);
  if (!Report.Error.empty()) {
    return Report;
  }

  std::vector<uint8_t> Text;
  {
    std::vector<uint8_t> MapText;
    if (!ReadFile(Request.FilePath, Text, Report.Error) || !ReadFile(Request.MapPath, MapText, Report.Error)) {
      return Report;
    }
    ClientMap Map = ReadClientMap(std::string(MapText.begin(), MapText.end()), ClientAddressKind(Request.Kind));
    Report.MapErrors = std::move(Map.Errors);
    if (!Report.MapErrors.empty()) {
      Report.Error = Request.MapPath + ": " + std::to_string(Report.MapErrors.size()) + " rows cannot be used";
      return Report;
    }
    // The rows move into the report: a large fleet's map is held once.
    Report.Clients.resize(Map.Rows.size());
    for (size_t Index = 0; Index < Map.Rows.size(); Index++) {
      Report.Clients[Index].Row = std::move(Map.Rows[Index]);
    }
  }

  Report.Size = Text.size();
  FleetText Fleet = ReadFleetText(std::move(Text));
  Report.Encoding = EncodingName(Fleet.Whole.Encoding);
  NumberedFiles Beside;
  {
    std::set<std::string> Identifiers;
    for (const ClientResult &Client : Report.Clients) {
      Identifiers.insert(Client.Row.Identifier);
    }
    Beside = NumberedFilesBeside(Request.FilePath, Identifiers);
  }
  const auto &Numbered = Beside.Named;

  SplitTree Tree;
  if (!OpenSplitTree(Request.OutPath, Tree, Report.Error)) {
    Report.Clients.clear();
    return Report;
  }
  const std::string SourceFolder = std::filesystem::absolute(Request.FilePath).parent_path().string();
  for (ClientResult &Client : Report.Clients) {
    // Each client's file is made, proven and written in turn: only one is held at a time.
    const MachineSplit Split = SplitMachine(Fleet, Client.Row.Identifier);
    Client.Header = Split.Header;
    Client.HeaderLine = Split.HeaderLine;
    Client.EntryCount = Split.Answers.Count;
    Client.SectionFound = Split.Answers.SectionFound;
    Client.Equivalent = Split.Equivalent;
    Client.Reasons = Split.Reasons;
    if (std::optional<SplitReason> Case = IdentifierCaseReason(Client.Row, Beside)) {
      Client.Reasons.insert(Client.Reasons.begin(), std::move(*Case));
    }
    const auto Files = Numbered.find(Client.Row.Identifier);
    PlaceClient(Request, Split, Files == Numbered.end() ? std::vector<std::string>{} : Files->second, SourceFolder,
                Tree, Client);
  }
  if (Request.Kind == ServerKind::TftpdHpa) {
    const std::string MapFile = ServerMapFile(Request.Kind);
    std::string Problem = TreePathProblem(Tree, TftpdMapFileName, Request.Force);
    if (Problem.empty()) {
      Problem = WriteTreeFile(Tree, TftpdMapFileName, std::vector<uint8_t>(MapFile.begin(), MapFile.end()));
    }
    Report.MapFile = TftpdMapFileName;
    if (!Problem.empty()) {
      Report.Error = Problem;
    }
  }
  // Only a run that succeeded replaces the folder in use; otherwise it stays as it was.
  const std::string Closed = CloseSplitTree(Tree, Report.Error.empty());
  if (Report.Error.empty() && !Closed.empty()) {
    Report.Error = Closed;
  }
  if (Report.Error.empty()) {
    Report.Counts = Tree.Counts;
  } else {
    for (ClientResult &Client : Report.Clients) {
      Client.Written = false;
    }
  }
  Report.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  return Report;
}

int SplitExitStatus(const SplitReport &Report) {
  if (!Report.Error.empty()) {
    return 2;
  }
  const bool Reported = std::any_of(Report.Clients.begin(), Report.Clients.end(),
                                    [](const ClientResult &Client) { return !Client.Reasons.empty(); });
  return Reported ? 1 : 0;
}

} // namespace RivariCheck
