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

// Starts `argv` with standard input from `stdinFD` (when not negative) and
// standard error into the file `err`; `finish` waits for it and gives its
// exit status (128 + signal).
int spawn(const std::vector<std::string>& argv, int stdinFD, const std::string& err);
int finish(int child);

// Replaces the current process with `argv`.
[[noreturn]] void execute(const std::vector<std::string>& argv);

// A file's bytes as text.
std::string text(const std::string& path);

// `text` with every "{in}" replaced by `in`.
std::string withInput(std::string text, const std::string& in);

// Where the sample captures live; empty when they are absent.
std::string samplesDir();

#endif
