#include "tests/support/run.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "tests/support/temp_dir.h"

namespace {

std::string text(const std::string& path) {
    tsb::Bytes bytes = tsb::readFile(path);
    return std::string(bytes.begin(), bytes.end());
}

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// Points `fd` at `path` until restored; stdio buffers are flushed on both ends.
class Redirect {
public:
    Redirect(int fd, const std::string& path) : fd_(fd), saved_(::dup(fd)) {
        std::fflush(nullptr);
        int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(file, fd);
        ::close(file);
    }
    ~Redirect() {
        std::fflush(nullptr);
        ::dup2(saved_, fd_);
        ::close(saved_);
    }

private:
    int fd_, saved_;
};

}  // namespace

Outcome captured(const std::function<int32_t()>& body) {
    TempDir dir;
    Outcome o;
    {
        Redirect out(1, dir.file("out")), err(2, dir.file("err"));
        o.status = body();
    }
    o.out = text(dir.file("out"));
    o.err = text(dir.file("err"));
    return o;
}

Outcome runTool(const std::vector<std::string>& argv, const std::string& shellPrefix) {
    TempDir dir;
    std::fflush(nullptr);
    pid_t child = ::fork();
    if (child == 0) {
        Redirect out(1, dir.file("out")), err(2, dir.file("err"));
        std::vector<char*> args;
        std::string command = shellPrefix + " exec";
        for (const std::string& a : argv) command += " " + quote(a);
        if (!shellPrefix.empty()) {
            ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        }
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    int wstatus = 0;
    ::waitpid(child, &wstatus, 0);
    return {WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus), text(dir.file("out")),
            text(dir.file("err"))};
}

std::string samplesDir() {
    const char* env = std::getenv("RIVULET_SAMPLES");
    std::string dir = env ? env : RIVULET_SAMPLES_DIR;
    struct stat st;
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? dir : "";
}
