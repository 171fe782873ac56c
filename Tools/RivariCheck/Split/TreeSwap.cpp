/* Building a folder's replacement beside it and swapping it in by rename. */
#include "TreeSwap.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace RivariCheck {

namespace {

std::string SystemError(const std::string &What) { return What + ": " + std::strerror(errno); }

/* One name in a folder and its kind as the listing gives it (DT_UNKNOWN where the file system does not say). */
struct FolderEntry {
  std::string Name;
  unsigned char Kind = DT_UNKNOWN;
};

/* The entries of Folder, without "." and "..". */
bool ListFolder(int Folder, std::vector<FolderEntry> &Entries) {
  const int Copy = dup(Folder);
  DIR *Listing = Copy < 0 ? nullptr : fdopendir(Copy);
  if (Listing == nullptr) {
    if (Copy >= 0) {
      close(Copy);
    }
    return false;
  }
  rewinddir(Listing);
  while (const dirent *Entry = readdir(Listing)) {
    const std::string Name = Entry->d_name;
    if (Name != "." && Name != "..") {
      Entries.push_back({Name, Entry->d_type});
    }
  }
  closedir(Listing);
  return true;
}

/* A copy of the regular file Name of From as Name in To, with its mode. */
std::string CopyFile(int From, int To, const std::string &Name, const struct stat &Status) {
  const int Source = openat(From, Name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  const int Target =
      openat(To, Name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, Status.st_mode & 07777);
  bool Done = Source >= 0 && Target >= 0;
  char Block[65536];
  ssize_t Got = 0;
  while (Done && (Got = read(Source, Block, sizeof(Block))) > 0) {
    Done = write(Target, Block, static_cast<size_t>(Got)) == Got;
  }
  const std::string Error = Done && Got == 0 ? "" : SystemError(Name);
  if (Source >= 0) {
    close(Source);
  }
  if (Target >= 0 && close(Target) != 0 && Error.empty()) {
    return SystemError(Name);
  }
  return Error;
}

} // namespace

std::string NewTreeName(const std::string &Name) { return "." + Name + ".rivari-split-new"; }

std::string OldTreeName(const std::string &Name) { return "." + Name + ".rivari-split-old"; }

std::string CloneFolder(int From, int To) {
  std::vector<FolderEntry> Entries;
  if (!ListFolder(From, Entries)) {
    return SystemError("the output folder cannot be listed");
  }
  for (const FolderEntry &Entry : Entries) {
    const char *Name = Entry.Name.c_str();
    // A file is linked as the listing names it; anything else (or a file the link refuses) is looked at first.
    if (Entry.Kind == DT_REG && linkat(From, Name, To, Name, 0) == 0) {
      continue;
    }
    struct stat Status {};
    if (fstatat(From, Name, &Status, AT_SYMLINK_NOFOLLOW) != 0) {
      return SystemError(Entry.Name);
    }
    if (S_ISDIR(Status.st_mode)) {
      const mode_t Mode = Status.st_mode & 07777;
      // Made writable by its owner while it is filled; its own mode is set after, where it differs.
      if (mkdirat(To, Name, Mode | S_IRWXU) != 0) {
        return SystemError(Entry.Name);
      }
      const int Inner = openat(From, Name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      const int Copy = openat(To, Name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      std::string Error = Inner < 0 || Copy < 0 ? SystemError(Entry.Name) : CloneFolder(Inner, Copy);
      struct stat Made {};
      if (Copy >= 0) {
        // The server reads as its own user: the folder keeps the owner and mode it had (the owner where allowed).
        const bool Known = fstat(Copy, &Made) == 0;
        const bool Owned = Known && Made.st_uid == Status.st_uid && Made.st_gid == Status.st_gid;
        if (!Owned) {
          (void)fchown(Copy, Status.st_uid, Status.st_gid);
        }
        if ((!Owned || (Made.st_mode & 07777) != Mode) && fchmod(Copy, Mode) != 0 && Error.empty()) {
          Error = SystemError(Entry.Name);
        }
        close(Copy);
      }
      if (Inner >= 0) {
        close(Inner);
      }
      if (!Error.empty()) {
        return Error;
      }
    } else if (S_ISREG(Status.st_mode)) {
      // A file the listing named was offered a link above already: what is left is a copy.
      if (Entry.Kind == DT_REG || linkat(From, Name, To, Name, 0) != 0) {
        const std::string Error = CopyFile(From, To, Entry.Name, Status);
        if (!Error.empty()) {
          return Error;
        }
      }
    } else if (S_ISLNK(Status.st_mode)) {
      char Target[PATH_MAX + 1];
      const ssize_t Length = readlinkat(From, Name, Target, PATH_MAX);
      if (Length < 0) {
        return SystemError(Entry.Name);
      }
      Target[Length] = '\0';
      if (symlinkat(Target, To, Name) != 0) {
        return SystemError(Entry.Name);
      }
    } else {
      return Entry.Name + ": neither a file, a folder nor a link; the output folder cannot be rebuilt around it";
    }
  }
  return "";
}

void RemoveTree(int Parent, const std::string &Name) {
  const int Folder = openat(Parent, Name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (Folder < 0) {
    unlinkat(Parent, Name.c_str(), 0);
    return;
  }
  std::vector<FolderEntry> Entries;
  ListFolder(Folder, Entries);
  for (const FolderEntry &Entry : Entries) {
    if (Entry.Kind == DT_DIR || unlinkat(Folder, Entry.Name.c_str(), 0) != 0) {
      RemoveTree(Folder, Entry.Name);
    }
  }
  close(Folder);
  unlinkat(Parent, Name.c_str(), AT_REMOVEDIR);
}

std::string SwapInNewTree(int Parent, const std::string &Name) {
  const std::string New = NewTreeName(Name);
  struct stat Status {};
  if (fstatat(Parent, Name.c_str(), &Status, AT_SYMLINK_NOFOLLOW) != 0) {
    if (renameat(Parent, New.c_str(), Parent, Name.c_str()) != 0) {
      return SystemError(Name);
    }
    return "";
  }
  // One exchange where the file system offers it: the served folder is never missing.
  if (renameat2(Parent, New.c_str(), Parent, Name.c_str(), RENAME_EXCHANGE) == 0) {
    RemoveTree(Parent, New);
    return "";
  }
  const std::string Old = OldTreeName(Name);
  RemoveTree(Parent, Old);
  if (renameat(Parent, Name.c_str(), Parent, Old.c_str()) != 0) {
    return SystemError(Name);
  }
  if (renameat(Parent, New.c_str(), Parent, Name.c_str()) != 0) {
    const std::string Error = SystemError(Name);
    renameat(Parent, Old.c_str(), Parent, Name.c_str());
    return Error;
  }
  RemoveTree(Parent, Old);
  return "";
}

void RecoverInterruptedSwap(int Parent, const std::string &Name) {
  struct stat Status {};
  const std::string Old = OldTreeName(Name);
  if (fstatat(Parent, Name.c_str(), &Status, AT_SYMLINK_NOFOLLOW) != 0 &&
      fstatat(Parent, Old.c_str(), &Status, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(Status.st_mode)) {
    renameat(Parent, Old.c_str(), Parent, Name.c_str());
  }
  RemoveTree(Parent, Old);
  RemoveTree(Parent, NewTreeName(Name));
}

} // namespace RivariCheck
