/* Writing the output folder of a split without leaving it. */
#include "SplitTree.h"
#include "TreeSwap.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace RivariCheck {

namespace {

/* Temporary names start with this; a name the split makes never does. */
constexpr const char *TemporaryPrefix = ".rivari-split-new.";

std::string SystemError(const std::string &What) { return What + ": " + std::strerror(errno); }

/* A name inside one folder: not empty, no slash, not "." or "..". */
bool IsPlainName(const std::string &Name) {
  return !Name.empty() && Name.find('/') == std::string::npos && Name != "." && Name != "..";
}

/* Splits "folder/name" or "name"; false for anything deeper, absolute or climbing. */
bool SplitRelative(const std::string &Relative, std::string &FolderName, std::string &Name) {
  const size_t Slash = Relative.find('/');
  FolderName = Slash == std::string::npos ? "" : Relative.substr(0, Slash);
  Name = Slash == std::string::npos ? Relative : Relative.substr(Slash + 1);
  return IsPlainName(Name) && (Slash == std::string::npos || IsPlainName(FolderName));
}

/* The folder of Relative opened without following a link (created when Create); -1 with errno set. */
int OpenFolder(const SplitTree &Tree, const std::string &FolderName, bool Create) {
  if (FolderName.empty()) {
    return dup(Tree.Folder);
  }
  if (Create && mkdirat(Tree.Folder, FolderName.c_str(), 0755) != 0 && errno != EEXIST) {
    return -1;
  }
  return openat(Tree.Folder, FolderName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

/* The whole content of Name in Folder when it is a regular file (not a link). */
bool ReadRegularFile(int Folder, const std::string &Name, std::vector<uint8_t> &Content) {
  const int File = openat(Folder, Name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (File < 0) {
    return false;
  }
  struct stat Status {};
  bool Regular = fstat(File, &Status) == 0 && S_ISREG(Status.st_mode);
  uint8_t Block[65536];
  ssize_t Got = 0;
  while (Regular && (Got = read(File, Block, sizeof(Block))) > 0) {
    Content.insert(Content.end(), Block, Block + Got);
  }
  close(File);
  return Regular && Got == 0;
}

/* Writes Content to a new temporary file in Folder and renames it to Name. */
std::string ReplaceFile(int Folder, const std::string &Name, const std::vector<uint8_t> &Content) {
  const std::string Temporary = TemporaryPrefix + Name;
  unlinkat(Folder, Temporary.c_str(), 0);
  const int File = openat(Folder, Temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (File < 0) {
    return SystemError(Name);
  }
  size_t Done = 0;
  while (Done < Content.size()) {
    const ssize_t Put = write(File, Content.data() + Done, Content.size() - Done);
    if (Put <= 0) {
      const std::string Error = SystemError(Name);
      close(File);
      unlinkat(Folder, Temporary.c_str(), 0);
      return Error;
    }
    Done += static_cast<size_t>(Put);
  }
  if (close(File) != 0 || renameat(Folder, Temporary.c_str(), Folder, Name.c_str()) != 0) {
    const std::string Error = SystemError(Name);
    unlinkat(Folder, Temporary.c_str(), 0);
    return Error;
  }
  return "";
}

/* Records Relative, and its folder, as made by this run. */
void NoteMade(SplitTree &Tree, const std::string &Relative, const std::string &FolderName) {
  // What this run makes leaves the earlier run's list: what stays there at the end is stale, and a large fleet's
  // paths are held once.
  Tree.Earlier.erase(Relative);
  Tree.Made.insert(Relative);
  if (!FolderName.empty()) {
    Tree.Earlier.erase(FolderName + "/");
    Tree.Made.insert(FolderName + "/");
  }
}

/* The manifest's paths: one a line, each checked like a path the split makes. */
std::set<std::string> ParseManifest(const std::vector<uint8_t> &Content) {
  std::set<std::string> Paths;
  std::string Line;
  for (uint8_t Byte : Content) {
    if (Byte != '\n') {
      Line += static_cast<char>(Byte);
      continue;
    }
    std::string FolderName;
    std::string Name;
    const bool IsFolder = !Line.empty() && Line.back() == '/';
    if (IsFolder ? IsPlainName(Line.substr(0, Line.size() - 1)) : SplitRelative(Line, FolderName, Name)) {
      Paths.insert(Line);
    }
    Line.clear();
  }
  return Paths;
}

/* The manifest listing Paths, one a line. */
std::vector<uint8_t> ManifestText(const std::set<std::string> &Paths) {
  std::vector<uint8_t> Manifest;
  for (const std::string &Relative : Paths) {
    Manifest.insert(Manifest.end(), Relative.begin(), Relative.end());
    Manifest.push_back('\n');
  }
  return Manifest;
}

/*
 * Starts the new tree beside the output folder, seeded from the folder in
 * use, and makes it where the run writes. A tree that could not be started
 * fails the run: its later writes and its close report why.
 */
std::string StartNewTree(SplitTree &Tree) {
  if (!Tree.Failure.empty() || Tree.Building) {
    return Tree.Failure;
  }
  struct stat Status {};
  const bool Seeded = Tree.Present >= 0 && fstat(Tree.Present, &Status) == 0;
  const std::string New = NewTreeName(Tree.Name);
  const int Folder = mkdirat(Tree.Parent, New.c_str(), 0700) == 0
                         ? openat(Tree.Parent, New.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)
                         : -1;
  if (Folder < 0) {
    Tree.Failure = SystemError("the new tree beside the output folder (" + New + ")");
    return Tree.Failure;
  }
  Tree.Folder = Folder;
  Tree.Building = true;
  if (Seeded) {
    (void)fchown(Folder, Status.st_uid, Status.st_gid);
    Tree.Failure = CloneFolder(Tree.Present, Folder);
  }
  if (Tree.Failure.empty() && fchmod(Folder, Seeded ? Status.st_mode & 07777 : 0755) != 0) {
    Tree.Failure = SystemError("the new tree beside the output folder (" + New + ")");
  }
  return Tree.Failure;
}

/* The folder FolderName of the new tree (started now if need be), made if missing; -1 with Error set. */
int FolderToWrite(SplitTree &Tree, const std::string &FolderName, std::string &Error) {
  Error = StartNewTree(Tree);
  const int Folder = Error.empty() ? OpenFolder(Tree, FolderName, true) : -1;
  if (Folder < 0 && Error.empty()) {
    Error = SystemError(FolderName);
  }
  return Folder;
}

/* True when Name in the folder FolderName of the folder in use already holds Content. */
bool HoldsAlready(const SplitTree &Tree, const std::string &FolderName, const std::string &Name,
                  const std::vector<uint8_t> &Content) {
  const int Folder = OpenFolder(Tree, FolderName, false);
  if (Folder < 0) {
    return false;
  }
  std::vector<uint8_t> Present;
  const bool Holds = ReadRegularFile(Folder, Name, Present) && Present == Content;
  close(Folder);
  return Holds;
}

/* True when something the earlier run made and this one did not is still there. */
bool StaleLeft(const SplitTree &Tree) {
  struct stat Status {};
  for (const std::string &Relative : Tree.Earlier) {
    if (fstatat(Tree.Folder, Relative.c_str(), &Status, AT_SYMLINK_NOFOLLOW) == 0) {
      return true;
    }
  }
  return false;
}

} // namespace

bool OpenSplitTree(const std::string &Path, SplitTree &Tree, std::string &Error) {
  std::error_code Failure;
  // A folder reached through a link is replaced where it really is: only a rename beside it is atomic.
  std::filesystem::path Folder = std::filesystem::absolute(Path).lexically_normal();
  if (std::filesystem::is_symlink(Folder.has_filename() ? Folder : Folder.parent_path(), Failure)) {
    Folder = std::filesystem::canonical(Folder, Failure);
  }
  if (!Folder.has_filename()) {
    Folder = Folder.parent_path();
  }
  Tree.Name = Folder.filename().string();
  if (!IsPlainName(Tree.Name)) {
    Error = Path + ": cannot be the output folder";
    return false;
  }
  const std::string ParentPath = Folder.parent_path().string();
  std::filesystem::create_directories(ParentPath, Failure);
  Tree.Parent = open(ParentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (Tree.Parent < 0) {
    Error = SystemError(ParentPath);
    return false;
  }
  RecoverInterruptedSwap(Tree.Parent, Tree.Name);
  Tree.Present = openat(Tree.Parent, Tree.Name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (Tree.Present < 0 && errno != ENOENT) {
    Error = SystemError(Path);
    close(Tree.Parent);
    Tree.Parent = -1;
    return false;
  }
  Tree.Folder = Tree.Present;
  Tree.ManifestName = "." + Tree.Name + SplitManifestName;
  struct stat Status {};
  Tree.ManifestInside =
      Tree.Present >= 0 && fstatat(Tree.Present, SplitManifestName, &Status, AT_SYMLINK_NOFOLLOW) == 0;
  if (!ReadRegularFile(Tree.Parent, Tree.ManifestName, Tree.Listed)) {
    Tree.Listed.clear();
    if (Tree.ManifestInside && !ReadRegularFile(Tree.Present, SplitManifestName, Tree.Listed)) {
      Tree.Listed.clear();
    }
  }
  Tree.Earlier = ParseManifest(Tree.Listed);
  // With no folder in use there is nothing to compare with: the new tree is made from the start.
  if (Tree.Present < 0 && !StartNewTree(Tree).empty()) {
    Error = Tree.Failure;
    CloseSplitTree(Tree, false);
    return false;
  }
  return true;
}

std::string TreePathProblem(SplitTree &Tree, const std::string &Relative, bool Force) {
  std::string FolderName;
  std::string Name;
  if (!SplitRelative(Relative, FolderName, Name)) {
    return Relative + ": not a path inside the output folder";
  }
  const int Folder = OpenFolder(Tree, FolderName, false);
  if (Folder < 0) {
    return errno == ENOENT ? "" : SystemError(FolderName + " (a link or not a folder)");
  }
  struct stat Status {};
  const bool Exists = fstatat(Folder, Name.c_str(), &Status, AT_SYMLINK_NOFOLLOW) == 0;
  close(Folder);
  if (!Exists) {
    return "";
  }
  if (!S_ISREG(Status.st_mode) && !S_ISLNK(Status.st_mode)) {
    return Relative + " exists and is not a file";
  }
  if (!Force && Tree.Earlier.count(Relative) == 0 && Tree.Made.count(Relative) == 0) {
    return Relative + " exists and was not made by rivari-check split";
  }
  return "";
}

std::string WriteTreeFile(SplitTree &Tree, const std::string &Relative, const std::vector<uint8_t> &Content) {
  std::string FolderName;
  std::string Name;
  if (!SplitRelative(Relative, FolderName, Name)) {
    return Relative + ": not a path inside the output folder";
  }
  if (!Tree.Building && HoldsAlready(Tree, FolderName, Name, Content)) {
    Tree.Counts.Unchanged++;
    NoteMade(Tree, Relative, FolderName);
    return "";
  }
  std::string Error;
  const int Folder = FolderToWrite(Tree, FolderName, Error);
  if (Folder < 0) {
    return Error;
  }
  std::vector<uint8_t> Present;
  if (ReadRegularFile(Folder, Name, Present) && Present == Content) {
    Tree.Counts.Unchanged++;
  } else if ((Error = ReplaceFile(Folder, Name, Content)).empty()) {
    // Proven where it lies: what the server will read is what was cut and proven.
    Present.clear();
    if (!ReadRegularFile(Folder, Name, Present) || Present != Content) {
      Error = Relative + ": does not read back as written";
    }
    Tree.Counts.Written++;
  }
  close(Folder);
  if (Error.empty()) {
    NoteMade(Tree, Relative, FolderName);
  }
  return Error;
}

namespace {

/* True when Name in the folder FolderName of the tree is the file Wanted describes. */
bool IsSameFile(const SplitTree &Tree, const std::string &FolderName, const std::string &Name,
                const struct stat &Wanted) {
  const int Folder = OpenFolder(Tree, FolderName, false);
  if (Folder < 0) {
    return false;
  }
  struct stat Present {};
  const bool Same = fstatat(Folder, Name.c_str(), &Present, AT_SYMLINK_NOFOLLOW) == 0 &&
                    Present.st_dev == Wanted.st_dev && Present.st_ino == Wanted.st_ino;
  close(Folder);
  return Same;
}

} // namespace

std::string LinkTreeFile(SplitTree &Tree, const std::string &Relative, const std::string &Source) {
  std::string FolderName;
  std::string Name;
  if (!SplitRelative(Relative, FolderName, Name)) {
    return Relative + ": not a path inside the output folder";
  }
  struct stat Wanted {};
  if (stat(Source.c_str(), &Wanted) != 0) {
    return SystemError(Source);
  }
  if (IsSameFile(Tree, FolderName, Name, Wanted)) {
    Tree.Counts.Unchanged++;
    // The source itself, when the output folder is the source's: never the split's to remove later.
    if (Tree.Earlier.count(Relative) != 0 || Tree.Made.count(Relative) != 0) {
      NoteMade(Tree, Relative, FolderName);
    }
    return "";
  }
  std::string Error;
  const int Folder = FolderToWrite(Tree, FolderName, Error);
  if (Folder < 0) {
    return Error;
  }
  const std::string Temporary = TemporaryPrefix + Name;
  unlinkat(Folder, Temporary.c_str(), 0);
  if (linkat(AT_FDCWD, Source.c_str(), Folder, Temporary.c_str(), AT_SYMLINK_FOLLOW) == 0) {
    if (renameat(Folder, Temporary.c_str(), Folder, Name.c_str()) != 0) {
      Error = SystemError(Relative);
      unlinkat(Folder, Temporary.c_str(), 0);
    }
  } else {
    // No link across file systems, or on one without them: a copy serves the same bytes.
    std::vector<uint8_t> Content;
    const int SourceFolder = open(std::filesystem::path(Source).parent_path().c_str(), O_RDONLY | O_DIRECTORY);
    const bool Read =
        SourceFolder >= 0 && ReadRegularFile(SourceFolder, std::filesystem::path(Source).filename().string(), Content);
    if (SourceFolder >= 0) {
      close(SourceFolder);
    }
    Error = Read ? ReplaceFile(Folder, Name, Content) : Source + ": cannot be read";
  }
  close(Folder);
  if (Error.empty()) {
    Tree.Counts.Written++;
    NoteMade(Tree, Relative, FolderName);
  }
  return Error;
}

namespace {

/* Removes from the new tree what the earlier run made and this one did not. */
void RemoveStale(SplitTree &Tree) {
  // Files first, so that the folders they were in can go when nothing else is left in them.
  for (int Pass = 0; Pass < 2; Pass++) {
    for (const std::string &Relative : Tree.Earlier) {
      const bool IsFolder = Relative.back() == '/';
      if (Tree.Made.count(Relative) != 0 || IsFolder != (Pass == 1)) {
        continue;
      }
      std::string FolderName;
      std::string Name;
      if (IsFolder) {
        unlinkat(Tree.Folder, Relative.substr(0, Relative.size() - 1).c_str(), AT_REMOVEDIR);
        continue;
      }
      if (!SplitRelative(Relative, FolderName, Name)) {
        continue;
      }
      const int Folder = OpenFolder(Tree, FolderName, false);
      if (Folder >= 0 && unlinkat(Folder, Name.c_str(), 0) == 0) {
        Tree.Counts.Removed++;
      }
      if (Folder >= 0) {
        close(Folder);
      }
    }
  }
}

} // namespace

std::string CloseSplitTree(SplitTree &Tree, bool Keep) {
  std::string Error = Keep ? Tree.Failure : "";
  Keep = Keep && Error.empty();
  // Stale files, or a manifest inside the served folder, change the folder: that takes a new tree too.
  if (Keep && !Tree.Building && (Tree.ManifestInside || StaleLeft(Tree))) {
    Error = StartNewTree(Tree);
  }
  if (Keep && Error.empty() && Tree.Building) {
    RemoveStale(Tree);
    // A manifest an earlier run kept inside the served folder: the server would hand it to anyone.
    unlinkat(Tree.Folder, SplitManifestName, 0);
    // While the trees change places the manifest lists what either holds: an interruption leaves no file orphaned.
    std::vector<uint8_t> Either = Tree.Listed;
    if (!Either.empty() && Either.back() != '\n') {
      Either.push_back('\n');
    }
    const std::vector<uint8_t> Made = ManifestText(Tree.Made);
    Either.insert(Either.end(), Made.begin(), Made.end());
    syncfs(Tree.Folder);
    Error = ReplaceFile(Tree.Parent, Tree.ManifestName, Either);
    if (Error.empty()) {
      Error = SwapInNewTree(Tree.Parent, Tree.Name);
    }
    if (Error.empty()) {
      Error = ReplaceFile(Tree.Parent, Tree.ManifestName, Made);
    }
  } else if (Keep && Error.empty()) {
    // The folder in use already holds everything this run makes: it stays where it is, untouched.
    const std::vector<uint8_t> Made = ManifestText(Tree.Made);
    if (Made != Tree.Listed) {
      Error = ReplaceFile(Tree.Parent, Tree.ManifestName, Made);
    }
  }
  if (Tree.Folder >= 0 && Tree.Folder != Tree.Present) {
    close(Tree.Folder);
  }
  if (Tree.Present >= 0) {
    close(Tree.Present);
  }
  if (Tree.Parent >= 0) {
    // Whatever is left of the new tree (all of it unless swapped in, or its folder alone when it failed) goes.
    if (Tree.Building || !Tree.Failure.empty()) {
      RemoveTree(Tree.Parent, NewTreeName(Tree.Name));
    }
    close(Tree.Parent);
  }
  Tree.Folder = -1;
  Tree.Present = -1;
  Tree.Parent = -1;
  return Error;
}

} // namespace RivariCheck
