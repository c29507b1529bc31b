// Output names: the input path without its extension is the stem of every
// output file, so that outputs land beside the input, or in a folder.
#ifndef RIVULET_OUTPUT_NAMES_H
#define RIVULET_OUTPUT_NAMES_H

#include <cstddef>

#include "ts/core/log_sink.h"

namespace rivulet {

// Whether outputs named from `path` with suffixes of up to `longestSuffix`
// characters fit the name buffers; false after "Error: File name too long.".
bool outputNamesFit(const char* path, size_t longestSuffix, const LogSink& log);

// The stem of every output name: the input's path without its extension,
// or, with a folder, the input's file name so in that folder; with a `name`,
// that name in place of the input's (in the folder, or in the input's). The
// caller has checked with outputNamesFit that it fits.
void outputStem(char* stem, const char* path, const char* folder, const char* name);
bool isFolder(const char* path);

// Makes `name` (a file name without its extension) safe to create: '/',
// control characters (C0, DEL and, in UTF-8, C1) become '_', and so does a
// leading '.'; an empty name becomes "_".
void safeFileName(char* name);
// Cuts `name` at a UTF-8 character boundary to at most `maxBytes` bytes.
void cutName(char* name, size_t maxBytes);
// An input that is not a regular file (a pipe, a device), or one named
// through /dev or /proc (/dev/stdin, /proc/self/fd/0): it has no folder to
// write beside, so its outputs go into the current one.
bool isLiveInput(const char* path);

}  // namespace rivulet

#endif
