/*
 * A configuration text laid out as the driver reads it: its encoding, its
 * lines as the driver's reader returns them, each with its tokens from the
 * driver's tokenizer and the physical lines (as an editor numbers them) it
 * spans.
 */
#ifndef TOLVANE_TOOLS_TEXT_LAYOUT_H
#define TOLVANE_TOOLS_TEXT_LAYOUT_H

#include <cstdint>
#include <string>
#include <vector>

#include "TextReader.h"

namespace RivariCheck {

/* One line as ReadTextLine returns it. Offsets are in bytes from the start of the text. */
struct LogicalLine {
  uint64_t Start = 0;     // first byte of the line
  uint64_t End = 0;       // byte after the line's last character (before its line breaks)
  uint64_t FirstLine = 0; // physical line of Start
  uint64_t LastLine = 0;  // physical line of the line's last character
  std::u16string Text;
  std::vector<std::u16string> Tokens;
};

struct TextLayout {
  TextEncoding Encoding = TextEncodingBytes;
  std::vector<LogicalLine> Lines;
  std::vector<uint64_t> PhysicalStarts; // byte offset of each physical line; [0] is line 1
  bool Complete = true;                 // FALSE when the pool ran dry before the end
};

/* Reads Text line by line with the driver's reader and tokenizer. */
TextLayout LayOutText(const std::vector<uint8_t> &Text);

/* The physical line (from 1) that holds the byte at Offset. */
uint64_t PhysicalLineAt(const TextLayout &Layout, uint64_t Offset);

/* The encoding's name in reports: "bytes", "utf8-bom" or "utf16". */
std::string EncodingName(TextEncoding Encoding);

/* The encoding of that name, for a person. */
std::string EncodingText(const std::string &Name);

/*
 * TRUE when Text, which the reader takes for 8-bit text, is UTF-16BE: it
 * opens with the big-endian byte order mark FE FF, or its first two units
 * have zero high bytes in big-endian order.
 */
bool LooksUtf16BigEndian(const std::vector<uint8_t> &Text, TextEncoding Encoding);

/* TRUE when the line's first token begins with an opening bracket: it ends any section before it. */
bool IsHeaderLine(const LogicalLine &Line);

} // namespace RivariCheck

#endif
