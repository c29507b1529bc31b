// The one temporary folder of the tests: made fresh per test, removed with
// everything in it (read-only folders included) when the test ends.
#ifndef RIVULET_TESTS_TEMP_DIR_H
#define RIVULET_TESTS_TEMP_DIR_H

#include <map>
#include <string>

#include "tools/stream_builder.h"

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Writes `bytes` as `name` and returns its path.
    std::string write(const std::string& name, const tsb::Bytes& bytes) const;
    // The files in the folder other than the input in.ts, by name, with their bytes.
    std::map<std::string, tsb::Bytes> outputs() const;
    // Their names, in order.
    std::vector<std::string> names() const;

private:
    std::string path_;
};

// The files a run left in `dir` are `want`, byte for byte.
void expectFiles(const TempDir& dir, const std::map<std::string, tsb::Bytes>& want);

#endif
