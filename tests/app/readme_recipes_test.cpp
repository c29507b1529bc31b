// The front page's recipes, run as written. Each block behind a line
// "<!-- recipe: FILE... -->" runs in a fresh folder on the stream the page
// tells how to make, and must leave those files; the engine's block may call
// only what split.h declares.
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "tests/support/test.h"

namespace {

struct Recipe {
    std::string files;  // shell words, as the marker lists them
    std::string language;
    std::string code;
};

std::vector<Recipe> recipes(const std::string& page) {
    static const std::regex marked("<!-- recipe: ([^>]*) -->\n```(\\w+)\n([^`]*)```");
    std::vector<Recipe> found;
    for (std::sregex_iterator it(page.begin(), page.end(), marked), end; it != end; ++it)
        found.push_back({(*it)[1], (*it)[2], (*it)[3]});
    return found;
}

// The TS_ functions `code` calls that split.h does not declare.
std::string undeclared(const std::string& code) {
    static const std::regex call("TS_\\w+(?=\\()");
    std::string header = text(RIVULET_SOURCE_DIR "/ts/include/rivulet/split.h");
    std::string missing;
    for (std::sregex_iterator it(code.begin(), code.end(), call), end; it != end; ++it)
        if (header.find(it->str() + "(") == std::string::npos) missing += it->str() + " ";
    return missing;
}

std::string toolFolders() {
    std::string folders;
    for (const char* tool : {RIVULET_TOOL, RIVULET_TS_TOOL, RIVULET_SAMPLE_TOOL})
        folders += std::filesystem::path(tool).parent_path().string() + ":";
    return folders;
}

}  // namespace

TEST(ReadmeRecipes, RunAsWrittenAndLeaveTheFilesTheyPromise) {
    for (const char* tool : {RIVULET_TOOL, RIVULET_TS_TOOL, RIVULET_SAMPLE_TOOL})
        if (::access(tool, X_OK) != 0) GTEST_SKIP() << "no " << tool;
    std::vector<Recipe> all = recipes(text(RIVULET_SOURCE_DIR "/README.md"));
    EXPECT_EQ(all.size(), 7u);  // a mistyped marker would hide its recipe
    for (const Recipe& recipe : all) {
        SCOPED_TRACE(recipe.code);
        if (recipe.language == "cpp") {
            EXPECT_EQ(undeclared(recipe.code), "");
            continue;
        }
        TempDir dir;
        std::string script = "cd \"$0\"\nPATH=\"$1$PATH\"\nrivulet-sample --playable --changes rec.ts 3\n" + recipe.code +
                             "for f in " + recipe.files + "; do test -f \"$f\" || { echo \"no $f\"; exit 1; }; done\n";
        Outcome run = runTool({"/bin/sh", "-ec", script, dir.path(), toolFolders()});
        EXPECT_EQ(run.status, 0) << run.out << run.err;
    }
}
