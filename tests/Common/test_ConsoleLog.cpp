// Console output through the fixed 10,000-byte buffer.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>

#include "Common/ConsoleLog.h"

TEST(ConsoleLog, FormatsLikePrintfAndAddsNoLineBreak) {
    testing::internal::CaptureStdout();
    consoleLog("abc");
    consoleLog(" %d-%s-%x\n", -4, "x", 255u);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "abc -4-x-ff\n");
}

TEST(ConsoleLog, LongTextIsCutAtTheBuffer) {
    // 9,999 characters and the terminating zero fill the buffer.
    const std::string longText(25000, 'q');
    testing::internal::CaptureStdout();
    consoleLog("%s|%s", longText.c_str(), "tail");
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, std::string(9999, 'q'));

    const std::string fits(9999, 'r');
    testing::internal::CaptureStdout();
    consoleLog("%s", fits.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStdout(), fits);
}

TEST(ConsoleLog, LinesFromTwoThreadsDoNotInterleave) {
    constexpr int kLines = 200;
    const std::string a(120, 'a');
    const std::string b(120, 'b');
    testing::internal::CaptureStdout();
    std::thread other([&] {
        for (int i = 0; i < kLines; ++i) {
            consoleLog("%s\n", a.c_str());
        }
    });
    for (int i = 0; i < kLines; ++i) {
        consoleLog("%s\n", b.c_str());
    }
    other.join();
    std::istringstream out(testing::internal::GetCapturedStdout());
    int as = 0;
    int bs = 0;
    for (std::string line; std::getline(out, line);) {
        if (line == a) {
            ++as;
        } else if (line == b) {
            ++bs;
        } else {
            ADD_FAILURE() << "mixed line: " << line;
        }
    }
    EXPECT_EQ(as, kLines);
    EXPECT_EQ(bs, kLines);
}
