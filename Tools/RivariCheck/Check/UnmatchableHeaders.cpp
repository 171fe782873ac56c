/*
 * Section headers that no machine identifier can ever match, and why. Runs
 * after the layout warnings, whose header-blanks warning names the headers
 * split by a blank.
 */
#include "UnmatchableHeaders.h"

#include <algorithm>

#include "MachineIdentity.h"
#include "WideText.h"

namespace RivariCheck {

namespace {

bool IsLowerCaseLetter(char16_t Unit) { return Unit >= u'a' && Unit <= u'z'; }

/* A unit that no identifier byte becomes: bytes widen by sign, to 0x0000-0x007F or 0xFF80-0xFFFF. */
bool IsNeverWidened(char16_t Unit) { return Unit > 0x7F && Unit < 0xFF80; }

std::string Characters(size_t Count) { return std::to_string(Count) + (Count == 1 ? " character" : " characters"); }

/* The reason for a first token that is not an opening bracket, 8 characters and a closing bracket. */
std::string ShapeReason(const std::u16string &Token) {
  const size_t Close = Token.find(u']');
  const size_t Inside = (Close == std::u16string::npos ? Token.size() : Close) - 1;
  if (Close == std::u16string::npos) {
    if (Inside == MachineIdLength) {
      return "has no closing bracket: the driver looks for " + DisplayText(Token + u"]");
    }
    if (Inside > MachineIdLength) {
      return "has no closing bracket and " + Characters(Inside) + ", more than the 8 of an identifier";
    }
    return "has no closing bracket: only an identifier of " + Characters(Inside) +
           ", never the 8 a caller passes, finds it";
  }
  if (Inside < MachineIdLength) {
    return "has " + Characters(Inside) + " between its brackets, not 8: an identifier of " + Characters(Inside) +
           " is looked for as " + DisplayText(Token.substr(0, Close)) + ", without the closing bracket";
  }
  if (Inside > MachineIdLength) {
    return "has " + Characters(Inside) +
           " between its brackets, more than 8: the driver keeps only the first 8 of an identifier";
  }
  return "runs on after its closing bracket: the first token is the whole of " + DisplayText(Token) +
         "; put a blank after the bracket";
}

bool AlreadyNamed(const std::vector<Warning> &Warnings, uint64_t Line) {
  return std::any_of(Warnings.begin(), Warnings.end(), [Line](const Warning &Item) {
    return Item.Line == Line && (Item.Code == "header-blanks" || Item.Code == "header-case");
  });
}

/* Why no 8-character identifier's header is Token, as a phrase; empty when one is. */
std::string UnmatchableHeaderReason(const std::u16string &Token) {
  const bool Matchable = Token.size() == MachineIdLength + 2 && Token.back() == u']';
  if (!Matchable) {
    return ShapeReason(Token);
  }
  if (std::any_of(Token.begin(), Token.end(), IsLowerCaseLetter)) {
    return "holds lower-case letters, and the driver upper-cases the identifier before it looks";
  }
  if (std::any_of(Token.begin(), Token.end(), IsNeverWidened)) {
    return "holds a character that no identifier byte becomes";
  }
  return "";
}

} // namespace

std::optional<Warning> UnmatchableHeaderWarning(const LogicalLine &Line) {
  const std::string Reason = UnmatchableHeaderReason(Line.Tokens[0]);
  if (Reason.empty()) {
    return std::nullopt;
  }
  return Warning{"unmatchable-header", Line.FirstLine,
                 "no 8-character identifier finds header " + DisplayText(Line.Tokens[0]) + ": it " + Reason};
}

void AddUnmatchableHeaderWarnings(const TextLayout &Layout, std::vector<Warning> &Warnings) {
  for (const LogicalLine &Line : Layout.Lines) {
    if (!IsHeaderLine(Line) || AlreadyNamed(Warnings, Line.FirstLine)) {
      continue;
    }
    if (std::optional<Warning> Found = UnmatchableHeaderWarning(Line)) {
      Warnings.push_back(std::move(*Found));
    }
  }
}

} // namespace RivariCheck
