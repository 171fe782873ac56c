/* Why a first token that is not an entry number never matches an index. */
#ifndef TOLVANE_TOOLS_ENTRY_NUMBERS_H
#define TOLVANE_TOOLS_ENTRY_NUMBERS_H

#include <string>

namespace RivariCheck {

/* Why a first token that is not an entry number never matches an index, as a phrase. */
std::string UnmatchableReason(const std::u16string &Token);

} // namespace RivariCheck

#endif
