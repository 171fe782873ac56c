/* Writing a split's report as text and as JSON. */
#include "SplitOutput.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "TextLayout.h"
#include "WideText.h"

namespace RivariCheck {

namespace {

using nlohmann::ordered_json;

constexpr const char *JsonFormat = "rivari-check-split/1";

uint64_t CountClients(const SplitReport &Report, bool Written) {
  return static_cast<uint64_t>(std::count_if(Report.Clients.begin(), Report.Clients.end(),
                                             [&](const ClientResult &Client) { return Client.Written == Written; }));
}

uint64_t CountEquivalent(const SplitReport &Report) {
  return static_cast<uint64_t>(
      std::count_if(Report.Clients.begin(), Report.Clients.end(),
                    [](const ClientResult &Client) { return Client.Written && Client.Equivalent; }));
}

std::string Seconds(double Value) {
  char Text[32];
  std::snprintf(Text, sizeof(Text), "%.2f", Value);
  return Text;
}

bool SameReason(const SplitReason &Left, const SplitReason &Right) {
  return Left.Code == Right.Code && Left.Line == Right.Line && Left.Message == Right.Message;
}

bool HasReason(const ClientResult &Client, const SplitReason &Reason) {
  return std::any_of(Client.Reasons.begin(), Client.Reasons.end(),
                     [&](const SplitReason &Item) { return SameReason(Item, Reason); });
}

/* The reasons every client of a split of more than one shares: a line that holds back the whole fleet. */
std::vector<SplitReason> SharedReasons(const SplitReport &Report) {
  std::vector<SplitReason> Shared;
  if (Report.Clients.size() < 2) {
    return Shared;
  }
  for (const SplitReason &Reason : Report.Clients.front().Reasons) {
    if (std::all_of(Report.Clients.begin(), Report.Clients.end(),
                    [&](const ClientResult &Client) { return HasReason(Client, Reason); })) {
      Shared.push_back(Reason);
    }
  }
  return Shared;
}

std::string ReasonLine(const SplitReason &Reason) {
  return Reason.Code + (Reason.Line == 0 ? "" : " (line " + std::to_string(Reason.Line) + ")") + ": " + Reason.Message;
}

std::string ClientLine(const ClientResult &Client) {
  std::string Line = Client.Row.Identifier + "  " + Client.Row.Address + "  ";
  if (!Client.Written) {
    return Line + "held back";
  }
  Line += Client.ConfigurationPath + ", " + std::to_string(Client.EntryCount) + " entries";
  if (!Client.NumberedFiles.empty()) {
    Line += ", numbered files";
    for (const std::string &File : Client.NumberedFiles) {
      Line += " " + File;
    }
  }
  return Line + (Client.Equivalent ? ", same answers" : ", answers differ (forced)");
}

} // namespace

std::string SplitReportAsText(const SplitReport &Report, bool WithTime) {
  std::string Text;
  if (!Report.MapErrors.empty()) {
    for (const MapError &Error : Report.MapErrors) {
      Text += Report.Request.MapPath + ":" + std::to_string(Error.Line) + ": " + Error.Message + "\n";
    }
  }
  if (!Report.Error.empty()) {
    return Text + Report.Error + "\nNothing was written.\n";
  }
  Text += Report.Request.FilePath + ": " + std::to_string(Report.Size) + " bytes, " + EncodingText(Report.Encoding) +
          "; " + std::to_string(Report.Clients.size()) + " clients for " + ServerKindName(Report.Request.Kind) + "\n";
  const std::vector<SplitReason> Shared = SharedReasons(Report);
  for (const SplitReason &Reason : Shared) {
    Text += "Every client: " + ReasonLine(Reason) + "\n";
    Text += Reason.Line == 0
                ? "  this holds back all " + std::to_string(Report.Clients.size()) + " clients\n"
                : "  line " + std::to_string(Reason.Line) + " holds back all " + std::to_string(Report.Clients.size()) +
                      " clients: mend or delete it and split again\n";
  }
  for (const ClientResult &Client : Report.Clients) {
    Text += ClientLine(Client) + "\n";
    for (const SplitReason &Reason : Client.Reasons) {
      const bool SaidOnce =
          std::any_of(Shared.begin(), Shared.end(), [&](const SplitReason &Item) { return SameReason(Item, Reason); });
      if (!SaidOnce) {
        Text += "  " + ReasonLine(Reason) + "\n";
      }
    }
  }
  Text += "Server configuration:\n";
  for (const std::string &Line : Report.ServerLines) {
    Text += "  " + Line + "\n";
  }
  Text += std::to_string(CountClients(Report, true)) + " clients written, " +
          std::to_string(CountClients(Report, false)) + " held back; " + std::to_string(CountEquivalent(Report)) +
          " of them proven to give the same answers; files: " + std::to_string(Report.Counts.Written) + " written, " +
          std::to_string(Report.Counts.Unchanged) + " unchanged, " + std::to_string(Report.Counts.Removed) + " removed";
  if (WithTime) {
    Text += "; " + Seconds(Report.Seconds) + " s";
  }
  return Text + "\n";
}

std::string SplitReportAsJson(const SplitReport &Report, bool WithTime) {
  ordered_json Json;
  Json["format"] = JsonFormat;
  Json["file"] = Report.Request.FilePath;
  Json["map"] = Report.Request.MapPath;
  Json["server"] = ServerKindName(Report.Request.Kind);
  Json["error"] = Report.Error.empty() ? ordered_json() : ordered_json(Report.Error);
  ordered_json MapErrors = ordered_json::array();
  for (const MapError &Error : Report.MapErrors) {
    MapErrors.push_back({{"line", Error.Line}, {"message", Error.Message}});
  }
  Json["map_errors"] = MapErrors;
  Json["size"] = Report.Size;
  Json["encoding"] = Report.Encoding.empty() ? ordered_json() : ordered_json(Report.Encoding);
  ordered_json Clients = ordered_json::array();
  for (const ClientResult &Client : Report.Clients) {
    ordered_json Reasons = ordered_json::array();
    for (const SplitReason &Reason : Client.Reasons) {
      Reasons.push_back({{"code", Reason.Code},
                         {"line", Reason.Line == 0 ? ordered_json() : ordered_json(Reason.Line)},
                         {"message", Reason.Message}});
    }
    Clients.push_back({{"identifier", Client.Row.Identifier},
                       {"address", Client.Row.Address},
                       {"map_line", Client.Row.Line},
                       {"header", Utf8Text(Client.Header)},
                       {"section_found", Client.SectionFound},
                       {"header_line", Client.HeaderLine == 0 ? ordered_json() : ordered_json(Client.HeaderLine)},
                       {"entry_count", Client.EntryCount},
                       {"same_answers", Client.Equivalent},
                       {"written", Client.Written},
                       {"configuration", Client.ConfigurationPath},
                       {"numbered_files", Client.NumberedFiles},
                       {"reasons", Reasons}});
  }
  Json["clients"] = Clients;
  ordered_json Shared = ordered_json::array();
  for (const SplitReason &Reason : SharedReasons(Report)) {
    Shared.push_back({{"code", Reason.Code},
                      {"line", Reason.Line == 0 ? ordered_json() : ordered_json(Reason.Line)},
                      {"message", Reason.Message}});
  }
  Json["shared_reasons"] = Shared;
  Json["server_lines"] = Report.ServerLines;
  Json["map_file"] = Report.MapFile.empty() ? ordered_json() : ordered_json(Report.MapFile);
  Json["files"] = {
      {"written", Report.Counts.Written}, {"unchanged", Report.Counts.Unchanged}, {"removed", Report.Counts.Removed}};
  if (WithTime) {
    Json["seconds"] = Report.Seconds;
  }
  return Json.dump(2) + "\n";
}

} // namespace RivariCheck
