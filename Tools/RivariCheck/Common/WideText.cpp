/* CHAR16 text shown to people and written into JSON. */
#include "WideText.h"

#include <cstdio>

#include "SectionLookup.h"

namespace RivariCheck {

namespace {

bool IsHighSurrogate(char16_t Unit) { return Unit >= 0xD800 && Unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t Unit) { return Unit >= 0xDC00 && Unit <= 0xDFFF; }

void AppendUtf8(std::string &Out, char32_t Point) {
  if (Point < 0x80) {
    Out += static_cast<char>(Point);
  } else if (Point < 0x800) {
    Out += static_cast<char>(0xC0 | (Point >> 6));
    Out += static_cast<char>(0x80 | (Point & 0x3F));
  } else if (Point < 0x10000) {
    Out += static_cast<char>(0xE0 | (Point >> 12));
    Out += static_cast<char>(0x80 | ((Point >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Point & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (Point >> 18));
    Out += static_cast<char>(0x80 | ((Point >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((Point >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (Point & 0x3F));
  }
}

} // namespace

/* A pair of surrogates becomes its code point; a lone surrogate becomes U+FFFD. */
std::string Utf8Text(const std::u16string &Units) {
  std::string Out;
  for (size_t Index = 0; Index < Units.size(); Index++) {
    const char16_t Unit = Units[Index];
    if (IsHighSurrogate(Unit) && Index + 1 < Units.size() && IsLowSurrogate(Units[Index + 1])) {
      AppendUtf8(Out, 0x10000 + ((Unit - 0xD800) << 10) + (Units[Index + 1] - 0xDC00));
      Index++;
    } else if (IsHighSurrogate(Unit) || IsLowSurrogate(Unit)) {
      AppendUtf8(Out, 0xFFFD);
    } else {
      AppendUtf8(Out, Unit);
    }
  }
  return Out;
}

std::string DisplayText(const std::u16string &Units) {
  std::string Out;
  for (char16_t Unit : Units) {
    if (Unit >= 0x20 && Unit <= 0x7E) {
      Out += static_cast<char>(Unit);
      continue;
    }
    char Escape[8];
    std::snprintf(Escape, sizeof(Escape), "\\u%04X", static_cast<unsigned>(Unit));
    Out += Escape;
  }
  return Out;
}

std::string DisplayBytes(const std::string &Bytes) {
  std::string Out;
  for (char Byte : Bytes) {
    const unsigned char Value = static_cast<unsigned char>(Byte);
    if (Value >= 0x20 && Value <= 0x7E) {
      Out += Byte;
      continue;
    }
    char Escape[8];
    std::snprintf(Escape, sizeof(Escape), "\\x%02X", static_cast<unsigned>(Value));
    Out += Escape;
  }
  return Out;
}

std::u16string UpperCased(std::u16string Text) {
  UpperCaseAsciiLetters(Text.data());
  return Text;
}

} // namespace RivariCheck
