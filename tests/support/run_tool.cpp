#include "tests/support/run_tool.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tests/support/stream_builder.h"

namespace tsb {
namespace {

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

}  // namespace

ToolResult runTool(const std::vector<std::string>& argv, const std::string& shellPrefix) {
    std::string dir = makeTempDir("run");
    std::string outPath = dir + "/stdout", errPath = dir + "/stderr";
    pid_t child = ::fork();
    if (child == 0) {
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, 1);
        ::dup2(err, 2);
        if (!shellPrefix.empty()) {
            std::string cmd = shellPrefix + " exec";
            for (const std::string& a : argv) cmd += " " + quote(a);
            ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
        } else {
            std::vector<char*> args;
            for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execv(args[0], args.data());
        }
        ::_exit(127);
    }
    int wstatus = 0;
    ::waitpid(child, &wstatus, 0);
    ToolResult result;
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    Bytes out = readFile(outPath), err = readFile(errPath);
    result.out.assign(out.begin(), out.end());
    result.err.assign(err.begin(), err.end());
    removeTree(dir);
    return result;
}

std::string toolPath() { return RIVULET_TOOL; }

}  // namespace tsb
