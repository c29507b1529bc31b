// The base of the output names: the input path without its last extension
// and without enclosing double quotes.
#include "tests/support/test.h"

TEST(BaseFileName, CutsTheExtensionOfTheFileNameOnly) {
    const std::pair<std::string, std::string> cases[] = {
        {"/data/in.ts", "/data/in"}, {"in.ts.bak", "in.ts"}, {"in", "in"}, {".ts", ".ts"}, {"x.", "x"},
        {"a.b/c", "a.b/c"}, {"./.ts", "./.ts"}, {"../in", "../in"}, {"./rec.d/x.ts", "./rec.d/x"}, {"dir.x\\file", "dir.x\\file"},
        {"\"in.ts\"", "in"}, {"'in'", "in'"}, {"\"", ""}, {"\"in.ts", "\"in"}, {"", ""},
    };
    static char out[TS_NAME_BUFFER_SIZE];
    for (const auto& [path, base] : cases) {
        ASSERT_EQ(GetBaseFileName(out, path.c_str()), 0) << path;
        EXPECT_EQ(out, base) << path;
    }
    EXPECT_EQ(GetBaseFileName(out, std::string(TS_NAME_BUFFER_SIZE, 'a').c_str()), -2);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(GetBaseFileName(out, nullptr), -1);
}
