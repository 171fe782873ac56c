/* The whole of a file as bytes, as the tool's commands read their input. */
#ifndef TOLVANE_TOOLS_FILE_TEXT_H
#define TOLVANE_TOOLS_FILE_TEXT_H

#include <cstdint>
#include <string>
#include <vector>

namespace RivariCheck {

/* The whole file ("-": standard input) appended to Text, or false with Error set to the system's reason. */
bool ReadWholeFile(const std::string &Path, std::vector<uint8_t> &Text, std::string &Error);

} // namespace RivariCheck

#endif
