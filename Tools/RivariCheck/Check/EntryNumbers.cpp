/* Why a first token that names no index never matches an entry look-up. */
#include "EntryNumbers.h"

#include <algorithm>

#include "CharacterClasses.h"

namespace RivariCheck {

namespace {

bool IsDigit(char16_t Unit) { return Unit >= u'0' && Unit <= u'9'; }

bool AllDigits(const std::u16string &Text) { return !Text.empty() && std::all_of(Text.begin(), Text.end(), IsDigit); }

} // namespace

/* Phrased for first tokens that ParseEntryIndex rejects. */
std::string UnmatchableReason(const std::u16string &Token) {
  std::u16string Unquoted;
  std::copy_if(Token.begin(), Token.end(), std::back_inserter(Unquoted),
               [](char16_t Unit) { return Unit != CharacterQuote; });
  const bool Signed = !Unquoted.empty() && (Unquoted[0] == u'+' || Unquoted[0] == u'-');
  const std::u16string Digits = Signed ? Unquoted.substr(1) : Unquoted;
  if (!AllDigits(Digits)) {
    return "is not an entry number";
  }
  if (Unquoted.size() != Token.size()) {
    return "is quoted, and the quotes stay part of the token";
  }
  if (Token[0] == u'+') {
    return "has a plus sign, which an index is never written with";
  }
  if (Digits.size() > 1 && Digits[0] == u'0') {
    return "has a leading zero, which an index is never written with";
  }
  if (Token.size() > 4) {
    return "has more than 4 characters, but an index is looked up as its first 4 characters only";
  }
  return "is -0, which an index is never written as";
}

} // namespace RivariCheck
