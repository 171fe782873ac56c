/* Per-code control of the warnings a run reports: left out, or reported as errors. */
#include "WarningControl.h"

#include <algorithm>

namespace RivariCheck {

namespace {

bool Holds(const std::vector<std::string> &Codes, const std::string &Code) {
  return std::find(Codes.begin(), Codes.end(), Code) != Codes.end();
}

} // namespace

const std::vector<std::string> &WarningCodes() {
  static const std::vector<std::string> Codes = {
      "header-case",       "header-blanks",  "unmatchable-header",  "duplicate-header", "gap",
      "unmatchable-entry", "negative-entry", "duplicate-entry",     "missing-value",    "value-cut",
      "non-ascii-value",   "unclosed-quote", "before-first-header", "identifier",       "identifier-case",
      "file-name-cut",     "size-answer"};
  return Codes;
}

bool IsWarningCode(const std::string &Code) { return Holds(WarningCodes(), Code); }

void ApplyWarningControl(ConfigurationReport &Report, const WarningControl &Control) {
  const bool IgnoreAll = Holds(Control.Ignored, "all");
  std::erase_if(Report.Warnings, [&](const Warning &Item) { return IgnoreAll || Holds(Control.Ignored, Item.Code); });
  for (Warning &Item : Report.Warnings) {
    Item.Error = Holds(Control.Errors, "all") || Holds(Control.Errors, Item.Code);
  }
  if (Report.Outcome == ReportOutcome::Warnings && Report.Warnings.empty()) {
    Report.Outcome = ReportOutcome::Clean;
  }
}

} // namespace RivariCheck
