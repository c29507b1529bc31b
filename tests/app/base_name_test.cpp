#include <gtest/gtest.h>

#include <string>

#include "rivulet/ts.h"

namespace {

std::string baseOf(const std::string& path) {
    static char out[TS_NAME_BUFFER_SIZE];
    EXPECT_EQ(GetBaseFileName(out, path.c_str()), 0);
    return out;
}

}  // namespace

TEST(BaseFileName, CutsTheLastExtensionOfTheFileName) {
    EXPECT_EQ(baseOf("/data/in.ts"), "/data/in");
    EXPECT_EQ(baseOf("in.ts.bak"), "in.ts");
    EXPECT_EQ(baseOf("in"), "in");
    EXPECT_EQ(baseOf(".ts"), ".ts");
    EXPECT_EQ(baseOf("x."), "x");
    EXPECT_EQ(baseOf("dir.x\\file"), "dir.x\\file");
}

TEST(BaseFileName, DirectorySeparatorsBoundTheSearch) {
    EXPECT_EQ(baseOf("a.b/c"), "a.b/c");
    EXPECT_EQ(baseOf("../in"), "../in");
    EXPECT_EQ(baseOf("./rec.d/x.ts"), "./rec.d/x");
}

TEST(BaseFileName, Quotes) {
    EXPECT_EQ(baseOf("\"in.ts\""), "in");
    EXPECT_EQ(baseOf("'in'"), "in'");
    EXPECT_EQ(baseOf("\""), "");
    EXPECT_EQ(baseOf(""), "");
    EXPECT_EQ(baseOf("\"in.ts"), "\"in");  // unmatched: kept
}

TEST(BaseFileName, RefusesNullAndOversizedNames) {
    char out[8] = "keep";
    EXPECT_EQ(GetBaseFileName(nullptr, "a"), -1);
    EXPECT_EQ(GetBaseFileName(out, nullptr), -1);
    EXPECT_STREQ(out, "keep");
    std::string huge(TS_NAME_BUFFER_SIZE, 'a');
    static char big[TS_NAME_BUFFER_SIZE];
    EXPECT_EQ(GetBaseFileName(big, huge.c_str()), -2);
    EXPECT_STREQ(big, "");
}
