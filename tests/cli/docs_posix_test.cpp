// docs_posix_test.cpp -- the README and the man page say what the code does: the example
// host in the README is examples/host.c, and both list every exit code as the command's
// status table gives it.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "status_text.h"

namespace hedgerow::cli {
namespace {

std::string ReadText(const std::string& relative) {
    std::ifstream in(std::string(HEDGEROW_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(DocsTest, ReadmeAndManPageListEveryExitCode) {
    const std::string readme = ReadText("README.md");
    const std::string man = ReadText("cli/hedgerow.1");
    ASSERT_FALSE(readme.empty());
    ASSERT_FALSE(man.empty());
    for (const StatusInfo& info : StatusTable()) {
        SCOPED_TRACE(info.name);
        const std::string code = std::to_string(info.exit_code);
        EXPECT_NE(readme.find("| " + code + " | `" + std::string(info.name) + "` (" + std::to_string(info.status) +
                              ") | " + info.sentence + " |"),
                  std::string::npos);
        if (info.status != 0) {
            EXPECT_NE(man.find(".B " + code + " (" + std::string(info.name) + ")\n" + info.sentence), std::string::npos);
        }
    }
    for (const int code : {kExitHostError, kExitUsage, kExitIncomplete, kExitUnknownStatus}) {
        EXPECT_NE(readme.find("| " + std::to_string(code) + " | "), std::string::npos) << code;
        EXPECT_NE(man.find(".B " + std::to_string(code) + "\n"), std::string::npos) << code;
    }
}

TEST(DocsTest, ReadmeShowsTheExampleHostAsItIs) {
    const std::string host = ReadText("examples/host.c");
    ASSERT_FALSE(host.empty());
    EXPECT_NE(ReadText("README.md").find("```c\n" + host + "```\n"), std::string::npos);
}

}  // namespace
}  // namespace hedgerow::cli
