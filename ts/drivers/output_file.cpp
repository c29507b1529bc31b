#include "ts/drivers/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace rivulet {
namespace {

void rememberPath(OutputFile* file, const char* path) {
    std::snprintf(file->strPath, sizeof file->strPath, "%s", path);
}

int32_t failWrite(OutputFile* file) {
    file->u8Failed = 1;
    std::fprintf(stderr, "Error: Failed write %s.\n", file->strPath);
    return TS_ERR_WRITE;
}

// write() until every byte is out; false on an error or a write that makes no
// progress (a full disk, a file size limit).
bool writeAll(int fd, const uint8_t* data, uint32_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= uint32_t(n);
    }
    return true;
}

}  // namespace

void outputReset(OutputFile* file) {
    file->nFD = -1;
    file->u32Used = 0;
    file->u8Failed = 0;
    file->strPath[0] = '\0';
}

bool isSameFile(const char* path, int inputFD) {
    struct stat out, in;
    if (inputFD < 0 || ::stat(path, &out) != 0 || ::fstat(inputFD, &in) != 0) return false;
    return out.st_dev == in.st_dev && out.st_ino == in.st_ino;
}

OpenResult outputOpen(OutputFile* file, const char* path, int inputFD) {
    outputReset(file);
    rememberPath(file, path);
    if (isSameFile(path, inputFD)) return OpenResult::IsInput;
    int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return OpenResult::Failed;
    file->nFD = fd;
    return OpenResult::Opened;
}

int32_t outputFlush(OutputFile* file) {
    if (file->nFD < 0 || file->u8Failed) return file->u8Failed ? TS_ERR_WRITE : 0;
    uint32_t used = file->u32Used;
    file->u32Used = 0;
    if (used && !writeAll(file->nFD, file->lu8Buffer, used)) return failWrite(file);
    return 0;
}

int32_t outputWrite(OutputFile* file, const uint8_t* data, uint32_t size) {
    if (file->nFD < 0) return 0;
    if (file->u8Failed) return TS_ERR_WRITE;
    if (file->u32Used + size > kOutputBufferSize) {
        int32_t status = outputFlush(file);
        if (status != 0) return status;
        if (size > kOutputBufferSize) return writeAll(file->nFD, data, size) ? 0 : failWrite(file);
    }
    std::memcpy(file->lu8Buffer + file->u32Used, data, size);
    file->u32Used += size;
    return 0;
}

int32_t outputClose(OutputFile* file) {
    if (file->nFD < 0) return 0;
    int32_t status = file->u8Failed ? TS_ERR_WRITE : outputFlush(file);
    if (::close(file->nFD) != 0 && status == 0) status = failWrite(file);
    file->nFD = -1;
    file->u32Used = 0;
    return status;
}

}  // namespace rivulet
