#include "ts/stream/stop_request.h"

#include "rivulet/common.h"

volatile sig_atomic_t rivulet::g_stopRequested = 0;

void TS_RequestStop(void) { rivulet::g_stopRequested = 1; }

void TS_WithdrawStop(void) { rivulet::g_stopRequested = 0; }
