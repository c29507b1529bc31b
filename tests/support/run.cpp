#include "tests/support/run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "tests/support/temp_dir.h"

namespace {

// Points descriptor `fd` at `path` (stdio flushed first); returns a copy of the old one.
int redirect(int fd, const std::string& path) {
    std::fflush(nullptr);
    int saved = ::dup(fd);
    int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(file, fd);
    ::close(file);
    return saved;
}

void restore(int fd, int saved) {
    std::fflush(nullptr);
    ::dup2(saved, fd);
    ::close(saved);
}

}  // namespace

std::string text(const std::string& path) {
    tsb::Bytes bytes = tsb::readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

std::string withInput(std::string text, const std::string& in) {
    for (size_t at = text.find("{in}"); at != std::string::npos; at = text.find("{in}", at + in.size())) text.replace(at, 4, in);
    return text;
}

void execute(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
}

int spawn(const std::vector<std::string>& argv, int stdinFD, const std::string& err) {
    pid_t child = ::fork();
    if (child == 0) {
        if (stdinFD >= 0) ::dup2(stdinFD, 0);
        int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(e, 2);
        execute(argv);
    }
    return child;
}

int finish(int child) {
    int wstatus = 0;
    ::waitpid(child, &wstatus, 0);
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

Outcome captured(const std::function<int32_t()>& body) {
    TempDir dir;
    int out = redirect(1, dir.file("out"));
    int err = redirect(2, dir.file("err"));
    int32_t status = body();
    restore(1, out);
    restore(2, err);
    return {status, text(dir.file("out")), text(dir.file("err"))};
}

Outcome runTool(const std::vector<std::string>& argv, const std::string& shellPrefix) {
    TempDir dir;
    std::vector<std::string> all = argv;
    if (!shellPrefix.empty()) all.insert(all.begin(), {"/bin/sh", "-c", shellPrefix + " exec \"$@\"", "sh"});
    pid_t child = ::fork();
    if (child == 0) {
        redirect(1, dir.file("out"));
        redirect(2, dir.file("err"));
        execute(all);
    }
    int status = finish(child);
    return {status, text(dir.file("out")), text(dir.file("err"))};
}

std::string samplesDir() {
    const char* env = std::getenv("RIVULET_SAMPLES");
    std::string dir = env ? env : RIVULET_SAMPLES_DIR;
    struct stat st;
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? dir : "";
}
