#include "tests/support/temp_dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
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
    for (const std::string& name : names()) {
        if (name != "in.ts") files[name] = tsb::readFile(file(name));
    }
    return files;
}

std::vector<std::string> TempDir::names() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

void expectFiles(const TempDir& dir, const std::map<std::string, tsb::Bytes>& want) {
    std::map<std::string, tsb::Bytes> got = dir.outputs();
    std::vector<std::string> gotNames, wantNames;
    for (const auto& [name, bytes] : got) gotNames.push_back(name);
    for (const auto& [name, bytes] : want) wantNames.push_back(name);
    EXPECT_EQ(gotNames, wantNames);
    for (const auto& [name, bytes] : want) {
        if (!got.count(name)) continue;
        EXPECT_EQ(got[name].size(), bytes.size()) << name;
        EXPECT_TRUE(got[name] == bytes) << name << " differs";
    }
}
