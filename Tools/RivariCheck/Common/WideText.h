/* Tokens and values (CHAR16 units) as text for people and for UTF-8 output. */
#ifndef TOLVANE_TOOLS_WIDE_TEXT_H
#define TOLVANE_TOOLS_WIDE_TEXT_H

#include <string>

namespace RivariCheck {

/* Text in UTF-8 for a token or value: each unit as the code point of its number. */
std::string Utf8Text(const std::u16string &Units);

/* Text for a person: printable ASCII as it stands, every other unit as \uXXXX. */
std::string DisplayText(const std::u16string &Units);

/* Bytes for a person: printable ASCII as it stands, every other byte as \xHH. */
std::string DisplayBytes(const std::string &Bytes);

/* Text with the letters a to z made upper case, as the lookup makes its header (tokens hold no 0). */
std::u16string UpperCased(std::u16string Text);

} // namespace RivariCheck

#endif
