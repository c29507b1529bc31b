#include "app/common/process.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "app/exit_status.h"
#include "rivulet/ts.h"

namespace rivulet {
namespace {

constexpr int kSignalExitBase = 128;

volatile sig_atomic_t g_stopSignal = 0;

void onStopSignal(int signal) {
    g_stopSignal = signal;
    TS_RequestStop();
}

void openClosedStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1) continue;
        int opened = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        // open() takes the lowest free descriptor: this one, if nothing else went wrong.
        if (opened >= 0 && opened != fd) ::close(opened);
    }
}

}  // namespace

void prepareProcess() {
    openClosedStandardDescriptors();
    ::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: a blocking read returns, and the walk sees the request
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

bool stopRequested() { return g_stopSignal != 0; }

int interruptedExitStatus() { return kSignalExitBase + (g_stopSignal ? int(g_stopSignal) : SIGINT); }

int finishStandardOutput(int status) {
    std::cout.flush();
    bool failed = !std::cout.good();
    failed = std::fflush(stdout) != 0 || std::ferror(stdout) || failed;
    if (!failed) return status;
    std::fputs("Error: Failed write standard output.\n", stderr);
    return status == kExitOk ? kExitFailed : status;
}

}  // namespace rivulet
