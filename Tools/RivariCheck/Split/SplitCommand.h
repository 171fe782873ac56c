/* rivari-check split: the subcommand's command line. */
#ifndef TOLVANE_TOOLS_SPLIT_SPLIT_COMMAND_H
#define TOLVANE_TOOLS_SPLIT_SPLIT_COMMAND_H

#include <string>

#include "SplitRun.h"

namespace CLI {
class App;
} // namespace CLI

namespace RivariCheck {

/* What "rivari-check split ..." was given. */
struct SplitCommandLine {
  SplitRequest Request;
  std::string Server = ServerKindName(ServerKinds[0]);
  bool Json = false;
  bool WithTime = false;
};

/* Adds the "split" subcommand, its options bound to Line, to Parent; returns it. */
CLI::App *AddSplitCommand(CLI::App &Parent, SplitCommandLine &Line);

/* Runs the split Line asks for; returns the exit status. */
int RunSplitCommand(SplitCommandLine &Line);

} // namespace RivariCheck

#endif
