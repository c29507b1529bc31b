// The one request that crosses runs: a signal handler asks every walk in
// progress to stop at its next packet boundary.
#ifndef RIVULET_STOP_REQUEST_H
#define RIVULET_STOP_REQUEST_H

#include <signal.h>

namespace rivulet {

// Set by TS_RequestStop; cleared only by TS_WithdrawStop.
extern volatile sig_atomic_t g_stopRequested;

}  // namespace rivulet

#endif
