/*
 * One machine's own rivari.ini, cut from the fleet's file, and the proof
 * that it changes nothing: the configuration core's section lookup, entry
 * scan and count answer on the client's file exactly as on the whole file.
 */
#ifndef TOLVANE_TOOLS_SPLIT_MACHINE_SPLIT_H
#define TOLVANE_TOOLS_SPLIT_MACHINE_SPLIT_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "FleetSections.h"

namespace RivariCheck {

/* Why a machine gets no file of its own without --force. Line is a line of the whole file (0: none). */
struct SplitReason {
  std::string Code;
  uint64_t Line = 0;
  std::string Message;
};

/* What the driver answers for one machine: the lookup, the count, and GetEntry for every index that matters. */
struct MachineAnswers {
  bool SectionFound = false;
  uint64_t Count = 0;
  std::map<int32_t, std::u16string> Values; // index → value copied (a lone 0xFFFF unit: found without a value)
};

struct MachineSplit {
  std::string Identifier;
  std::u16string Header;       // the first token the lookup looks for
  uint64_t HeaderLine = 0;     // physical line of the header in the whole file (0: not found)
  std::vector<uint8_t> Client; // the client's rivari.ini
  MachineAnswers Answers;      // on the whole file
  bool Equivalent = false;     // the client's file gives the same answers
  std::vector<SplitReason> Reasons;
};

/*
 * Cuts Identifier's section out of Fleet into a file of the same encoding
 * and checks it with the core: the answers of the section found from the
 * pass's record against the answers of the client's file by the core's
 * lookup. A machine without a section gets a file without one (the
 * driver's answer is the same: no section).
 */
MachineSplit SplitMachine(FleetText &Fleet, const std::string &Identifier);

/* The core's answers for Identifier over the configuration text Text, by the core's own section lookup. */
MachineAnswers AnswersFor(const std::vector<uint8_t> &Text, const std::u16string &Header);

/* The count and every named entry's value over a section the lookup copied, which it releases. */
MachineAnswers AnswersOfSection(TextReader *Section);

} // namespace RivariCheck

#endif
