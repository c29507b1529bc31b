// Runs a built tool in a child process and collects what it printed.
#ifndef RIVULET_TESTS_RUN_TOOL_H
#define RIVULET_TESTS_RUN_TOOL_H

#include <string>
#include <vector>

namespace tsb {

struct ToolResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs `argv` (argv[0] is the program path). `shellPrefix`, when given, runs
// the command through /bin/sh behind that prefix (for instance "ulimit -f 8;").
ToolResult runTool(const std::vector<std::string>& argv, const std::string& shellPrefix = "");

std::string toolPath();  // the rivulet executable under test

}  // namespace tsb

#endif
