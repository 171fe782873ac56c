/* Entry values the tokenizer cuts short at a separator or a comment start, and what the line loses. */
#include "ValueCut.h"

#include <algorithm>

#include "CharacterClasses.h"
#include "WideText.h"

namespace RivariCheck {

namespace {

/*
 * Where each token of Line ends in its text. The tokens are stretches of
 * the line itself, in order, each starting after separators that no token
 * starts with, so looking each up from the end of the one before finds it.
 */
std::vector<size_t> TokenEnds(const LogicalLine &Line) {
  std::vector<size_t> Ends;
  size_t Position = 0;
  for (const std::u16string &Token : Line.Tokens) {
    Position = Line.Text.find(Token, Position);
    if (Position == std::u16string::npos) {
      break;
    }
    Position += Token.size();
    Ends.push_back(Position);
  }
  return Ends;
}

/* The character that ended the value, as a phrase. */
std::string CutAt(char16_t Unit) {
  switch (Unit) {
  case CharacterSpace:
    return "a blank";
  case CharacterTab:
    return "a tab";
  case CharacterEqualsSign:
    return "an equals sign";
  case CharacterNumberSign:
    return "a '#', which starts a comment";
  default:
    return "a ';', which starts a comment";
  }
}

/* Text without double quotes, in one pair of them: how the whole text is kept as one token. */
std::u16string Quoted(const std::u16string &Text) {
  std::u16string Result(1, CharacterQuote);
  std::copy_if(Text.begin(), Text.end(), std::back_inserter(Result),
               [](char16_t Unit) { return Unit != CharacterQuote; });
  return Result + CharacterQuote;
}

} // namespace

std::optional<Warning> ValueCutWarning(const LogicalLine &Line, const std::string &EntryName) {
  const std::vector<size_t> Ends = TokenEnds(Line);
  if (Ends.size() < 2 || Ends.size() != Line.Tokens.size()) {
    return std::nullopt;
  }
  const std::u16string &Text = Line.Text;
  size_t DropEnd = Ends.back();
  // A comment that follows a token with no blank before it reads as part of the text the writer meant.
  if (DropEnd < Text.size() && IsCommentStart(Text[DropEnd])) {
    DropEnd = Text.size();
    while (DropEnd > Ends.back() && (IsSeparator(Text[DropEnd - 1]) || IsLineBreak(Text[DropEnd - 1]))) {
      DropEnd--;
    }
  }
  const size_t ValueEnd = Ends[1];
  if (DropEnd == ValueEnd) {
    return std::nullopt;
  }
  const std::u16string &Value = Line.Tokens[1];
  const size_t ValueStart = ValueEnd - Value.size();
  const std::u16string Dropped = Text.substr(ValueEnd, DropEnd - ValueEnd);
  const std::u16string Whole = Text.substr(ValueStart, DropEnd - ValueStart);
  return Warning{"value-cut", Line.FirstLine,
                 "value of " + EntryName + " is cut at " + CutAt(Text[ValueEnd]) + ": GetEntry returns " +
                     DisplayText(Value) + " and the line loses \"" + DisplayText(Dropped) +
                     "\"; to keep the whole text, put it in one pair of double quotes: " + DisplayText(Quoted(Whole)) +
                     " (GetEntry keeps the quotes)"};
}

} // namespace RivariCheck
