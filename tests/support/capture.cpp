#include "tests/support/capture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "tests/support/stream_builder.h"

namespace tsb {
namespace {

std::string captureFd(FILE* stream, int fd, const std::function<void()>& body) {
    std::fflush(stream);
    std::string dir = makeTempDir("capture");
    std::string path = dir + "/out.txt";
    int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (file < 0) throw std::runtime_error("cannot open capture file");
    int saved = ::dup(fd);
    ::dup2(file, fd);
    ::close(file);
    body();
    std::fflush(stream);
    ::dup2(saved, fd);
    ::close(saved);
    Bytes data = readFile(path);
    removeTree(dir);
    return std::string(data.begin(), data.end());
}

}  // namespace

std::string captureStdout(const std::function<void()>& body) { return captureFd(stdout, 1, body); }
std::string captureStderr(const std::function<void()>& body) { return captureFd(stderr, 2, body); }

std::string samplesDir() {
    const char* env = std::getenv("RIVULET_SAMPLES");
    std::string candidates[] = {env ? env : "", RIVULET_SAMPLES_DIR, "/work/shared/samples"};
    for (const std::string& dir : candidates) {
        struct stat st;
        if (!dir.empty() && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return dir;
    }
    return "";
}

}  // namespace tsb
