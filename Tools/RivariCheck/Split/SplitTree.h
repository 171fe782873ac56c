/*
 * The output folder of a split, written safely. A run first reads the
 * folder in use and leaves it alone while every file it makes is already
 * there as it should be; at its first change the new tree is started in a
 * sibling folder seeded from the one in use, and it is swapped in by rename
 * only when the run has succeeded, so a failed or interrupted run leaves the
 * folder in use as it was. Every path is opened from the folder itself
 * without following links, and a manifest of what the split made lets the
 * next run remove the client files it no longer makes and leave everything
 * else alone.
 */
#ifndef TOLVANE_TOOLS_SPLIT_SPLIT_TREE_H
#define TOLVANE_TOOLS_SPLIT_SPLIT_TREE_H

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace RivariCheck {

/*
 * The manifest's name: beside the output folder, as ".NAME" + this for an
 * output folder NAME, so that the server (which serves the output folder)
 * never hands it out. An earlier run's manifest inside the folder under
 * this name alone is read once and removed.
 */
inline constexpr const char *SplitManifestName = ".rivari-split-manifest";

/* What a run did to the folder. */
struct TreeCounts {
  uint64_t Written = 0;   // files created or replaced
  uint64_t Unchanged = 0; // files that already held what they should
  uint64_t Removed = 0;   // files of an earlier run no longer made
};

struct SplitTree {
  int Folder = -1;               // where the run reads and writes: the folder in use until its first change, then
                                 // the new tree (beside the output folder)
  int Present = -1;              // the folder in use, open (-1: there is none yet)
  bool Building = false;         // the new tree exists and Folder is it
  int Parent = -1;               // the output folder's parent, open: the manifest's and the new tree's home
  std::string Name;              // the output folder's name in Parent
  std::string ManifestName;      // the manifest's name in Parent
  std::vector<uint8_t> Listed;   // the last run's manifest as read
  bool ManifestInside = false;   // the last run's manifest lies inside the folder in use
  std::string Failure;           // why the new tree could not be started (the run then fails)
  std::set<std::string> Earlier; // paths the last run made (from its manifest) that this run has not made yet
  std::set<std::string> Made;    // paths this run made or kept
  TreeCounts Counts;
};

/*
 * Opens the output folder at Path (a new tree is started at once when it
 * does not exist yet) and reads the manifest beside it. False with Error
 * set when the folder cannot be used; nothing is then left behind.
 */
bool OpenSplitTree(const std::string &Path, SplitTree &Tree, std::string &Error);

/*
 * Checks that Relative ("name" or "folder/name") can be written: no link or
 * non-folder on the way, and nothing there that an earlier run did not make
 * (unless Force). Empty when it can; otherwise why not.
 */
std::string TreePathProblem(SplitTree &Tree, const std::string &Relative, bool Force);

/* Writes Content at Relative (creating its folder). Empty on success; otherwise why not. */
std::string WriteTreeFile(SplitTree &Tree, const std::string &Relative, const std::vector<uint8_t> &Content);

/*
 * Puts the file at Source (outside the tree) at Relative as a hard link,
 * or as a copy where the file system allows no link. Empty on success.
 */
std::string LinkTreeFile(SplitTree &Tree, const std::string &Relative, const std::string &Source);

/*
 * When Keep: removes from the new tree what the earlier run made and this
 * one did not (folders only when empty), swaps it in for the output folder
 * and writes the new manifest; a run that changed nothing leaves the folder
 * in use where it is. Otherwise (or when that fails) removes the new tree
 * and leaves the output folder as it was. Closes the tree either way. Empty
 * on success.
 */
std::string CloseSplitTree(SplitTree &Tree, bool Keep);

} // namespace RivariCheck

#endif
