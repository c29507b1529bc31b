// Runs a toolkit call in this process, or a tool in a child process, and
// collects its status and what it printed.
#ifndef RIVULET_TESTS_RUN_H
#define RIVULET_TESTS_RUN_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct Outcome {
    int32_t status = -1;  // the call's status, or the tool's exit status (128 + signal)
    std::string out;
    std::string err;
};

// Calls `body` with standard output and error captured.
Outcome captured(const std::function<int32_t()>& body);

// Runs `argv` (argv[0] is the program). `shellPrefix`, when given, runs the
// command through /bin/sh behind that prefix (for instance "ulimit -f 8;").
Outcome runTool(const std::vector<std::string>& argv, const std::string& shellPrefix = "");

// Where the sample captures live; empty when they are absent.
std::string samplesDir();

#endif
