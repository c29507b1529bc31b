// The exit statuses of both command-line tools.
#ifndef RIVULET_EXIT_STATUS_H
#define RIVULET_EXIT_STATUS_H

namespace rivulet {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;  // the work failed; the message is on standard error
constexpr int kExitUsage = 2;
constexpr int kExitStreamErrors = 3;  // a check with --fail-on-errors found continuity or transport errors

}  // namespace rivulet

#endif
