/* The report as JSON, in the shape documented in Tools/RivariCheck/README.md. */
#include "ReportJson.h"

#include <nlohmann/json.hpp>

#include "WideText.h"

namespace RivariCheck {

namespace {

using nlohmann::ordered_json;

/* Format marker; raised only when a field changes meaning or disappears. */
constexpr const char *JsonFormat = "rivari-check/1";

ordered_json LineOrNull(uint64_t Line) { return Line == 0 ? ordered_json() : ordered_json(Line); }

const char *OutcomeName(ReportOutcome Outcome) {
  switch (Outcome) {
  case ReportOutcome::Clean:
    return "clean";
  case ReportOutcome::Warnings:
    return "warnings";
  case ReportOutcome::SectionMissing:
    return "section-missing";
  case ReportOutcome::Unreadable:
    return "unreadable";
  }
  return ""; // every enumerator has its case above: the compiler names one added without
}

ordered_json MachineJson(const MachineReport &Machine) {
  ordered_json Entries = ordered_json::array();
  for (const EntryReport &Entry : Machine.Entries) {
    Entries.push_back({{"index", Entry.Index},
                       {"line", Entry.Line},
                       {"value", Entry.Value ? ordered_json(Utf8Text(*Entry.Value)) : ordered_json()},
                       {"value_size", Entry.Value ? ordered_json(Entry.ValueSize) : ordered_json()}});
  }
  ordered_json Files = ordered_json::array();
  for (const FileNameReport &File : Machine.Files) {
    Files.push_back({{"number", File.Number}, {"name", File.Name}, {"cut", File.Cut}});
  }
  ordered_json Json = {{"identifier", Machine.Identifier},
                       {"machine_id", Utf8Text(Machine.MachineId)},
                       {"header", Utf8Text(Machine.Header)},
                       {"section_found", Machine.SectionFound},
                       {"header_line", LineOrNull(Machine.HeaderLine)},
                       {"entry_count", Machine.EntryCount},
                       {"entries", Entries},
                       {"files", Files}};
  // Present only for a section a double quote swallowed.
  if (Machine.SwallowedLine != 0) {
    Json["swallowed_line"] = Machine.SwallowedLine;
    Json["swallowing_line"] = Machine.SwallowingLine;
  }
  return Json;
}

ordered_json SectionsJson(const std::vector<SectionReport> &Sections) {
  ordered_json Result = ordered_json::array();
  for (const SectionReport &Section : Sections) {
    Result.push_back({{"header", Utf8Text(Section.Header)},
                      {"line", Section.Line},
                      {"entry_count", Section.EntryCount},
                      {"duplicate", Section.Duplicate}});
  }
  return Result;
}

} // namespace

ordered_json ReportJsonObject(const ConfigurationReport &Report) {
  ordered_json Warnings = ordered_json::array();
  for (const Warning &Item : Report.Warnings) {
    Warnings.push_back({{"code", Item.Code},
                        {"line", LineOrNull(Item.Line)},
                        {"message", Item.Message},
                        {"severity", Item.Error ? "error" : "warning"}});
  }
  const bool Read = Report.Error.empty();
  ordered_json Json = {
      {"format", JsonFormat},
      {"file", Report.FileName},
      {"size", Read ? ordered_json(Report.Size) : ordered_json()},
      {"encoding", Read ? ordered_json(Report.Encoding) : ordered_json()},
      {"machine", Report.Machine ? MachineJson(*Report.Machine) : ordered_json()},
      {"sections", Report.Sections ? SectionsJson(*Report.Sections) : ordered_json()},
      {"warnings", Warnings},
      {"outcome", OutcomeName(Report.Outcome)},
      {"exit_status", ExitStatus(Report)},
      {"error", Read ? ordered_json() : ordered_json(Report.Error)},
      {"server", ordered_json()}, // the server check fills it in
  };
  // Present only when there is something to say, so that the reports of every other file keep their shape.
  if (!Report.EncodingNote.empty()) {
    Json["encoding_note"] = Report.EncodingNote;
  }
  return Json;
}

std::string ReportAsJson(const ConfigurationReport &Report) { return JsonText(ReportJsonObject(Report)); }

std::string JsonText(const ordered_json &Json) {
  // Invalid UTF-8 in a file name or identifier is replaced rather than refused.
  return Json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

} // namespace RivariCheck
