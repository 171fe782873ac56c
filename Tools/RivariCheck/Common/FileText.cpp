/* The whole of a file as bytes, as the tool's commands read their input. */
#include "FileText.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace RivariCheck {

bool ReadWholeFile(const std::string &Path, std::vector<uint8_t> &Text, std::string &Error) {
  const bool Standard = Path == "-";
  std::FILE *File = Standard ? stdin : std::fopen(Path.c_str(), "rb");
  if (File == nullptr) {
    Error = std::strerror(errno);
    return false;
  }
  struct stat Status {};
  const bool Known = fstat(fileno(File), &Status) == 0;
  if (Known && S_ISDIR(Status.st_mode)) {
    if (!Standard) {
      std::fclose(File);
    }
    Error = "is a folder, not a file";
    return false;
  }
  // A fleet's file may be large: the buffer is sized once from the file rather than grown by copies.
  if (Known && S_ISREG(Status.st_mode) && Status.st_size > 0) {
    Text.reserve(Text.size() + static_cast<size_t>(Status.st_size));
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
