// What both command-line tools do around their work: a sane process at
// start (standard descriptors open, signals that stop work at a packet
// boundary), and a checked standard output at the end.
#ifndef RIVULET_PROCESS_H
#define RIVULET_PROCESS_H

namespace rivulet {

// Opens /dev/null onto any of descriptors 0 to 2 that is closed, so that no
// output file takes their place; ignores SIGXFSZ, so that a file size limit
// surfaces as a failed write; makes SIGINT and SIGTERM ask the driver at
// work to stop at the next packet boundary. Call first.
void prepareProcess();

// Whether SIGINT or SIGTERM has arrived.
bool stopRequested();

// 130 after SIGINT, 143 after SIGTERM.
int interruptedExitStatus();

// Flushes standard output; when anything written to it failed, prints
// "Error: Failed write standard output." and returns kExitFailed, else `status`.
int finishStandardOutput(int status);

}  // namespace rivulet

#endif
