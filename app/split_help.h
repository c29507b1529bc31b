// What rivulet prints instead of splitting: its banner, --help (whose option
// list is made from the parser's own table), --version, a usage error.
#ifndef RIVULET_SPLIT_HELP_H
#define RIVULET_SPLIT_HELP_H

#include "app/split_plan.h"

namespace rivulet {

// Prints the answer to a command that asks for no split; its exit status.
int printAnswer(const ParsedCommand& command);

}  // namespace rivulet

#endif
