/*
 * Replacing a whole folder at once: a new tree is built in a sibling folder
 * (same parent, so a rename is atomic), seeded with links to the files of
 * the folder it replaces, and swapped in by rename at the end. Until then
 * the folder in use is never touched, whatever stops the run.
 */
#ifndef TOLVANE_TOOLS_SPLIT_TREE_SWAP_H
#define TOLVANE_TOOLS_SPLIT_TREE_SWAP_H

#include <string>

namespace RivariCheck {

/* The sibling names for a folder NAME: where the new tree is built, and where the old one waits to be removed. */
std::string NewTreeName(const std::string &Name);
std::string OldTreeName(const std::string &Name);

/*
 * Makes To hold what From holds: folders made anew (with their modes and,
 * where allowed, owners), files as hard links (a copy where no link can be
 * made), links as links. Files are only ever replaced by rename afterwards,
 * so nothing written under To reaches From. Empty on success.
 */
std::string CloneFolder(int From, int To);

/* Removes Name in Parent and everything under it, never following a link. */
void RemoveTree(int Parent, const std::string &Name);

/*
 * Puts the tree built at NewTreeName(Name) in place of Name (which may not
 * exist yet) and removes the tree it replaces. Name is never missing for
 * longer than two renames, and on failure it is as it was. Empty on success.
 */
std::string SwapInNewTree(int Parent, const std::string &Name);

/*
 * Clears what an interrupted swap left in Parent: a tree moved aside with
 * none in its place is put back, a half-built tree is removed.
 */
void RecoverInterruptedSwap(int Parent, const std::string &Name);

} // namespace RivariCheck

#endif
