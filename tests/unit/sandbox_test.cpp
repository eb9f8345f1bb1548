// The tests' own guard: what a run leaves at the host's / is removed and fails the test that made it.
#include <gtest/gtest.h>
#include <gtest/gtest-spi.h>

#include <string>

#include "tests/unit/test_support.h"

namespace {

using namespace testing_support;

// The guard itself: what a run leaves at the host's / is removed, and the
// test that made it fails, naming it.
// A folder of its own stands for the host's /: every test beside this one
// checks the real one.
TEST(Sandbox, RemovesAndReportsWhatARunLeavesAtTheHostRoot) {
    static TempDir root;
    static const std::string host = root.path() + "/";
    EXPECT_NONFATAL_FAILURE(
        {
            Sandbox box(host);
            WriteFile(host + "Orvo Tool.lnk", "what a broken run would leave");
        },
        "a run wrote Orvo Tool.lnk to the host's /");
    EXPECT_FALSE(Exists(host + "Orvo Tool.lnk"));
}

}  // namespace
