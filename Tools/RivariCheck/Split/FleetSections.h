/*
 * The fleet's file read once with the driver's reader and tokenizer: for
 * each first token of a header line, where the driver's section lookup
 * finds that section, so that every machine's section is taken from its
 * own place instead of a lookup over the whole file per machine.
 */
#ifndef TOLVANE_TOOLS_SPLIT_FLEET_SECTIONS_H
#define TOLVANE_TOOLS_SPLIT_FLEET_SECTIONS_H

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "TextReader.h"

namespace RivariCheck {

/* The first line whose first token is a given header, as the lookup meets it. */
struct FleetHeader {
  uint64_t Offset = 0;        // where the reader stands before that line (it reads the header line next)
  uint64_t Line = 0;          // physical line of the header
  uint64_t DuplicateLine = 0; // physical line of the next line with the same first token (0: none)
};

/* A header that stands at the start of a physical line but inside a line an open double quote joined. */
struct SwallowedHeader {
  uint64_t Line = 0;      // physical line where it stands
  uint64_t QuoteLine = 0; // physical line where the logical line that swallowed it begins (its open quote)
};

/*
 * The whole file in the driver's reader, with its headers. The reader's
 * pool copy is the one copy of the file held: the holder of a FleetText
 * owns it.
 */
class FleetText {
public:
  FleetText() = default;
  FleetText(const FleetText &) = delete;
  FleetText &operator=(const FleetText &) = delete;
  FleetText(FleetText &&Other) noexcept;
  FleetText &operator=(FleetText &&Other) noexcept;
  ~FleetText();

  TextReader Whole{};                                         // the driver's reader over the file
  std::unordered_map<std::u16string, FleetHeader> Headers;    // first token of each header line → first such line
  std::unordered_map<std::u16string, SwallowedHeader> Hidden; // headers swallowed by a quote → first such line
  uint64_t FirstContentBeforeHeader = 0; // physical line of the first token line before any header (0: none)
  bool Complete = true;                  // false: the reader stopped at a failure, and no header after it is found
};

/*
 * Reads Text once, line by line, with the configuration core's reader and
 * tokenizer (the lines the section lookup reads, in its order), and
 * records its headers. Text is released as soon as the reader holds its
 * copy.
 */
FleetText ReadFleetText(std::vector<uint8_t> Text);

/*
 * The section Header's lookup copies from the whole file, found from the
 * place the pass recorded: the header line is read again and the core's
 * ExtractSection copies the section after it. EFI_NOT_FOUND when the
 * lookup finds no such header; EFI_OUT_OF_RESOURCES.
 */
EFI_STATUS FleetSection(FleetText &Fleet, const std::u16string &Header, TextReader *Section);

} // namespace RivariCheck

#endif
