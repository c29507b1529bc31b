// The progress line of the command-line tools: shown on standard error while
// a toolkit driver walks its input, only when standard error is a terminal.
#ifndef RIVULET_PROGRESS_TERMINAL_H
#define RIVULET_PROGRESS_TERMINAL_H

namespace rivulet {

// Hooks the line to the toolkit's file walks when standard error is a
// terminal; does nothing otherwise.
void progressStartOnTerminal();
// Unhooks it and erases the line.
void progressStop();

}  // namespace rivulet

#endif
