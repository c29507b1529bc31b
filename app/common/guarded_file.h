// The rule every file a tool writes beside its outputs keeps (a report, a
// chart): never an input of the command, never a file the run has written,
// never through a symbolic link, never a FIFO, a device or a folder; and it
// appears whole or not at all, written under a temporary name in the same
// folder and renamed into place.
#ifndef RIVULET_GUARDED_FILE_H
#define RIVULET_GUARDED_FILE_H

#include <string>
#include <vector>

#include "rivulet/ts.h"

namespace rivulet {

// Whether `path` may be written: false when it names, through whatever path,
// one of `inputs` ("-" standing for standard input), a file `run` has written
// or protects (`run` may be null), or something that is not a regular file.
// A name nothing has taken yet may be written.
bool mayWriteAt(const char* path, const std::vector<const char*>& inputs, const TS_SplitRun* run);

// Writes `text` to `path` when mayWriteAt allows it, through a temporary file
// renamed into place. False after "Error: Failed open PATH." (refused, or no
// temporary file) or "Error: Failed write PATH." on standard error; `path`
// is then as it was.
bool writeGuarded(const char* path, const std::string& text, const std::vector<const char*>& inputs,
                  const TS_SplitRun* run);

}  // namespace rivulet

#endif
