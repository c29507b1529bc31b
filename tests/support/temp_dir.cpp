#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "rivulet-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    for (const auto& entry : fs::recursive_directory_iterator(path_, ignored)) {
        if (entry.is_directory(ignored)) fs::permissions(entry.path(), fs::perms::owner_all, ignored);
    }
    fs::permissions(path_, fs::perms::owner_all, ignored);
    fs::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, const tsb::Bytes& bytes) const {
    tsb::writeFile(file(name), bytes);
    return file(name);
}

std::map<std::string, tsb::Bytes> TempDir::outputs() const {
    std::map<std::string, tsb::Bytes> files;
    for (const auto& entry : fs::directory_iterator(path_)) {
        if (entry.path().filename() != "in.ts") files[entry.path().filename()] = tsb::readFile(entry.path());
    }
    return files;
}

std::vector<std::string> TempDir::names() const {
    std::vector<std::string> names;
    for (const auto& [name, bytes] : outputs()) names.push_back(name);
    return names;
}

void expectFiles(const TempDir& dir, const std::map<std::string, tsb::Bytes>& want) {
    std::map<std::string, tsb::Bytes> got = dir.outputs();
    std::map<std::string, size_t> gotSizes, wantSizes;  // names and sizes print readably
    for (const auto& [name, bytes] : got) gotSizes[name] = bytes.size();
    for (const auto& [name, bytes] : want) wantSizes[name] = bytes.size();
    EXPECT_EQ(gotSizes, wantSizes);
    for (const auto& [name, bytes] : want) EXPECT_TRUE(got[name] == bytes) << name << " differs";
}
