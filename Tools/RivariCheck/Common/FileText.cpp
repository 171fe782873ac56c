/* The whole of a file as bytes, as the tool's commands read their input. */
#include "FileText.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace RivariCheck {

bool ReadWholeFile(const std::string &Path, std::vector<uint8_t> &Text, std::string &Error) {
  const bool Standard = Path == "-";
  std::FILE *File = Standard ? stdin : std::fopen(Path.c_str(), "rb");
  if (File == nullptr) {
    Error = std::strerror(errno);
    return false;
  }
  uint8_t Block[65536];
  size_t Got = 0;
  while ((Got = std::fread(Block, 1, sizeof(Block), File)) > 0) {
    Text.insert(Text.end(), Block, Block + Got);
  }
  const bool Failed = std::ferror(File) != 0;
  const int Reason = errno;
  if (!Standard) {
    std::fclose(File);
  }
  if (Failed) {
    Error = std::strerror(Reason);
  }
  return !Failed;
}

} // namespace RivariCheck
