/* Warnings about the file as a whole: stray lines, malformed and repeated headers, unclosed double quotes. */
#include "LayoutWarnings.h"

#include <algorithm>
#include <map>

#include "CharacterClasses.h"
#include "WideText.h"

namespace RivariCheck {

namespace {

/* The physical lines a logical line is made of, split as an editor splits them. */
std::vector<std::u16string> PhysicalPieces(const std::u16string &Text) {
  std::vector<std::u16string> Pieces(1);
  for (size_t Index = 0; Index < Text.size(); Index++) {
    if (!IsLineBreak(Text[Index])) {
      Pieces.back().push_back(Text[Index]);
      continue;
    }
    if (Text[Index] == CharacterCarriageReturn && Index + 1 < Text.size() && Text[Index + 1] == CharacterLineFeed) {
      Index++;
    }
    Pieces.emplace_back();
  }
  return Pieces;
}

/* Whether the double quote left open at the first line break of Text stands in a comment. */
bool OpenQuoteInComment(const std::u16string &Text) {
  bool Quoted = false;
  bool Comment = false;
  for (size_t Index = 0; Index < Text.size() && !IsLineBreak(Text[Index]); Index++) {
    if (Text[Index] == CharacterQuote) {
      Quoted = !Quoted;
    } else if (!Quoted && IsCommentStart(Text[Index])) {
      Comment = true;
    }
  }
  return Comment;
}

/* The headers among the physical lines after the first of Pieces, as " (headers ... included)". */
std::string SwallowedHeaders(const std::vector<std::u16string> &Pieces, uint64_t FirstLine) {
  std::string Headers;
  for (size_t Index = 1; Index < Pieces.size(); Index++) {
    const std::u16string &Piece = Pieces[Index];
    const auto Start = std::find_if_not(Piece.begin(), Piece.end(), IsSeparator);
    if (Start == Piece.end() || *Start != CharacterOpenBracket) {
      continue;
    }
    const auto End =
        std::find_if(Start, Piece.end(), [](char16_t Unit) { return IsSeparator(Unit) || IsCommentStart(Unit); });
    Headers += (Headers.empty() ? "" : ", ") + DisplayText(std::u16string(Start, End)) + " on line " +
               std::to_string(FirstLine + Index);
  }
  return Headers.empty() ? "" : " (header " + Headers + " included)";
}

std::string LineRange(uint64_t First, uint64_t Last) {
  return First == Last ? "line " + std::to_string(First)
                       : "lines " + std::to_string(First) + " to " + std::to_string(Last);
}

void AddQuoteWarning(const LogicalLine &Line, std::vector<Warning> &Warnings) {
  const size_t Quotes = std::count(Line.Text.begin(), Line.Text.end(), CharacterQuote);
  const bool Odd = Quotes % 2 != 0;
  if (Line.LastLine == Line.FirstLine) {
    if (Odd) {
      Warnings.push_back({"unclosed-quote", Line.FirstLine,
                          "double quote is never closed: the token keeps it and runs to the end of the line"});
    }
    return;
  }
  const std::vector<std::u16string> Pieces = PhysicalPieces(Line.Text);
  const std::string Where = OpenQuoteInComment(Line.Text) ? "double quote in a comment" : "double quote";
  const std::string Swallowed = LineRange(Line.FirstLine + 1, Line.LastLine);
  const char *Verb = Line.LastLine == Line.FirstLine + 1 ? "is" : "are";
  std::string Message;
  if (Odd) {
    Message = Where + " is never closed: " + Swallowed + ", the rest of the file, " + Verb + " read as part of line " +
              std::to_string(Line.FirstLine);
  } else {
    Message = Where + " is closed only on line " + std::to_string(Line.LastLine) + ": " + Swallowed + " " + Verb +
              " read as part of line " + std::to_string(Line.FirstLine);
  }
  Warnings.push_back({"unclosed-quote", Line.FirstLine, Message + SwallowedHeaders(Pieces, Line.FirstLine)});
}

/* A header whose brackets hold blanks: its first token opens the bracket and a later token closes it. */
void AddHeaderBlanksWarning(const LogicalLine &Line, const std::u16string *MachineHeader,
                            std::vector<Warning> &Warnings) {
  if (Line.Tokens[0].find(u']') != std::u16string::npos) {
    return;
  }
  std::u16string Joined;
  for (const std::u16string &Token : Line.Tokens) {
    const size_t Close = Token.find(u']');
    Joined += Token.substr(0, Close == std::u16string::npos ? Token.size() : Close + 1);
    if (Close == std::u16string::npos) {
      continue;
    }
    // Shown as the file holds it, blanks and all: the joined form is only for the comparison below.
    const size_t Open = Line.Text.find(CharacterOpenBracket);
    const size_t Shut = Line.Text.find(u']', Open);
    const std::u16string AsWritten =
        Open == std::u16string::npos || Shut == std::u16string::npos ? Joined : Line.Text.substr(Open, Shut - Open + 1);
    std::string Message = "header " + DisplayText(AsWritten) + " has blanks inside its brackets: its first token is " +
                          DisplayText(Line.Tokens[0]) +
                          ", so it is no machine's header (it still ends the section "
                          "before it)";
    if (MachineHeader != nullptr && UpperCased(Joined) == *MachineHeader) {
      Message += "; without the blanks it would be this machine's header";
    }
    Warnings.push_back({"header-blanks", Line.FirstLine, Message});
    return;
  }
}

} // namespace

void AddLayoutWarnings(const TextLayout &Layout, const std::u16string *MachineHeader, std::vector<Warning> &Warnings) {
  bool SeenHeader = false;
  for (const LogicalLine &Line : Layout.Lines) {
    AddQuoteWarning(Line, Warnings);
    if (Line.Tokens.empty()) {
      continue;
    }
    if (IsHeaderLine(Line)) {
      SeenHeader = true;
      AddHeaderBlanksWarning(Line, MachineHeader, Warnings);
    } else if (!SeenHeader) {
      Warnings.push_back(
          {"before-first-header", Line.FirstLine, "line stands before the first section header: no machine reads it"});
    }
  }
}

void AddDuplicateHeaderWarnings(const TextLayout &Layout, const std::u16string *Only, std::vector<Warning> &Warnings) {
  std::map<std::u16string, uint64_t> FirstLines;
  for (const LogicalLine &Line : Layout.Lines) {
    if (!IsHeaderLine(Line) || (Only != nullptr && Line.Tokens[0] != *Only)) {
      continue;
    }
    auto [First, Inserted] = FirstLines.try_emplace(Line.Tokens[0], Line.FirstLine);
    if (!Inserted) {
      Warnings.push_back({"duplicate-header", Line.FirstLine,
                          "header " + DisplayText(Line.Tokens[0]) + " is already on line " +
                              std::to_string(First->second) +
                              "; the lookup stops at the first, this section is "
                              "ignored"});
    }
  }
}

} // namespace RivariCheck
