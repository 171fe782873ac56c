/* rivari-check split: the subcommand's command line. */
#ifndef TOLVANE_TOOLS_SPLIT_SPLIT_COMMAND_H
#define TOLVANE_TOOLS_SPLIT_SPLIT_COMMAND_H

namespace RivariCheck {

/* Runs "rivari-check split ..." (Arguments[0] is "split"); returns the exit status. */
int RunSplitCommand(int Count, char **Arguments);

} // namespace RivariCheck

#endif
