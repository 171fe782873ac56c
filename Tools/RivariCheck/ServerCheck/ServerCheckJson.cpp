/* The server check as JSON: the configuration's report, the check's outcome, and the "server" object. */
#include "ServerCheckJson.h"

#include <nlohmann/json.hpp>

#include "DriverVerdict.h"
#include "FirmwareModel.h"
#include "ReportJson.h"
#include "ServerCheck.h"

namespace RivariCheck {

namespace {

using nlohmann::ordered_json;

const char *EndName(TransferEnd End) {
  switch (End) {
  case TransferEnd::Complete:
    return "complete";
  case TransferEnd::SizeAnswered:
    return "size-answered";
  case TransferEnd::DataInsteadOfSize:
    return "data-instead-of-size";
  case TransferEnd::ServerError:
    return "server-error";
  case TransferEnd::Timeout:
    return "timeout";
  case TransferEnd::BadPacket:
    return "bad-packet";
  case TransferEnd::UnknownOpcode:
    return "unknown-opcode";
  case TransferEnd::UnexpectedPacket:
    return "unexpected-packet";
  case TransferEnd::BadOptions:
    return "bad-options";
  case TransferEnd::TooLarge:
    return "too-large";
  case TransferEnd::SendFailed:
    return "send-failed";
  case TransferEnd::PortUnreachable:
    return "port-unreachable";
  }
  return "";
}

const char *KindName(VerdictKind Kind) {
  switch (Kind) {
  case VerdictKind::Succeeds:
    return "succeeds";
  case VerdictKind::Fails:
    return "fails";
  case VerdictKind::CannotTell:
    return "cannot-tell";
  }
  return ""; // every enumerator has its case above: the compiler names one added without
}

template <typename Type> ordered_json OrNull(const std::optional<Type> &Value) {
  return Value ? ordered_json(*Value) : ordered_json();
}

ordered_json RequestJson(const RequestReport &Request) {
  const TransferResult &Result = Request.Result;
  ordered_json Options = ordered_json::object();
  for (const TftpOption &Option : Request.Options) {
    Options[Option.first] = Option.second;
  }
  const bool ServerError = Result.End == TransferEnd::ServerError;
  return {{"file", Request.FileName},
          {"options", Options},
          {"end", EndName(Result.End)},
          {"options_acknowledged", Result.OptionsAcknowledged},
          {"data_at_once", Result.DataAtOnce},
          {"size_answer", OrNull(Result.SizeAnswer)},
          {"block_size_answer", OrNull(Result.BlockSizeAnswer)},
          {"window_size_answer", OrNull(Result.WindowAnswer)},
          {"block_size", Result.BlockSize},
          {"received", Result.Received},
          {"blocks", Result.Blocks},
          {"error",
           ServerError ? ordered_json{{"code", Result.ErrorCode}, {"message", Result.ErrorMessage}} : ordered_json()},
          {"problem", Result.Problem.empty() ? ordered_json() : ordered_json(Result.Problem)},
          {"silence_cut", Result.SilenceCut},
          {"resends", Result.Resends},
          {"ignored_packets", Result.IgnoredPackets},
          {"longest_wait_seconds", Result.LongestWait},
          {"seconds", Result.Seconds}};
}

ordered_json VerdictJson(const DriverVerdict &Verdict) {
  return {{"succeeds", Verdict.Kind == VerdictKind::Succeeds},
          {"verdict", KindName(Verdict.Kind)},
          {"status", Verdict.Status ? ordered_json(VerdictStatusText(Verdict)) : ordered_json()},
          {"step", OrNull(Verdict.Step)},
          {"reason", Verdict.Reason.empty() ? ordered_json() : ordered_json(Verdict.Reason)},
          {"measured", Verdict.Measured},
          {"pool_bytes", Verdict.PoolBytes == 0 ? ordered_json() : ordered_json(Verdict.PoolBytes)}};
}

ordered_json ServerJson(const ServerReport &Server) {
  ordered_json Files;
  if (Server.MachineGiven) {
    Files = ordered_json::array();
    for (const NumberedFileCheck &File : Server.Files) {
      Files.push_back({{"number", File.Number},
                       {"name", File.Name},
                       {"size_query", RequestJson(File.SizeQuery)},
                       {"read", File.Read ? RequestJson(*File.Read) : ordered_json()},
                       {"missing", File.Missing},
                       {"download", VerdictJson(File.Download)}});
    }
  }
  return {{"address", Server.Server},
          {"timeout_seconds", double(Server.TimeoutMilliseconds) / 1000},
          {"timeout_shortened", Server.TimeoutShortened},
          {"over_loopback", Server.OverLoopback},
          {"size_query", RequestJson(Server.SizeQuery)},
          {"read", RequestJson(Server.Read)},
          {"fetch", VerdictJson(Server.Fetch)},
          {"notes", Server.Notes},
          {"files_scanned", Server.FilesScanned},
          {"numbered_files", Files}};
}

} // namespace

std::string FirmwareModelAsJson() {
  ordered_json Requests = ordered_json::object();
  for (const auto &[Request, Name] :
       {std::pair{FirmwareRequest::SizeQuery, "size_query"}, std::pair{FirmwareRequest::Read, "read"}}) {
    ordered_json Options = ordered_json::array();
    for (const FirmwareOption &Option : FirmwareOptions(Request)) {
      Options.push_back({Option.Name, Option.Value});
    }
    Requests[Name] = Options;
  }
  ordered_json Answers = ordered_json::array();
  for (const FirmwareAnswerRow &Row : FirmwareAnswers()) {
    const auto OrNullText = [](const char *Text) { return Text ? ordered_json(Text) : ordered_json(); };
    Answers.push_back({{"request", Row.Request == FirmwareRequest::SizeQuery ? "size_query" : "read"},
                       {"behaviour", BehaviourName(Row.Behaviour)},
                       {"status", StatusName(Row.Status)},
                       {"status_value", StatusValue(Row.Status)},
                       {"fault", OrNullText(Row.Fault)},
                       {"scenario", OrNullText(Row.Scenario)},
                       {"server", OrNullText(Row.Server)},
                       {"assumed", OrNullText(Row.Assumed)}});
  }
  const ordered_json Model = {{"requests", Requests},
                              {"sends", FirmwareSends},
                              {"resend_interval_seconds", FirmwareResendInterval.count() / 1000.0},
                              {"pool_limit_bytes", FirmwarePoolLimit},
                              {"answers", Answers}};
  return Model.dump(2) + "\n";
}

std::string ServerCheckAsJson(const ServerCheckReport &Report) {
  // The configuration's own report: the server check fills its outcome and "server" member.
  ordered_json Json = ReportJsonObject(Report.Configuration);
  if (Report.Outcome == ServerOutcome::FetchFails) {
    Json["outcome"] = "fetch-fails";
  } else if (Report.Outcome == ServerOutcome::CannotTell) {
    Json["outcome"] = "cannot-tell";
  }
  Json["exit_status"] = ServerExitStatus(Report);
  Json["server"] = ServerJson(Report.Server);
  return JsonText(Json);
}

} // namespace RivariCheck
