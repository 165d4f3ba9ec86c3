#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <utility>
#include <vector>

#include "StderrCapture.h"

using panelhost::StderrCapture;

namespace {

class Lines {
  public:
    void add(int instance, const std::string& line) {
        const std::lock_guard<std::mutex> lock(mutex_);
        lines_.emplace_back(instance, line);
    }
    std::vector<std::pair<int, std::string>> taken() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

  private:
    std::mutex mutex_;
    std::vector<std::pair<int, std::string>> lines_;
};

}  // namespace

TEST(StderrCapture, LinesWrittenInAScriptCallBelongToItsInstance) {
    Lines lines;
    {
        StderrCapture capture(
            [&lines](int instance, const std::string& line) { lines.add(instance, line); });
        capture.enteringScript(3);
        std::fputs("RM 12 5 37 'Guest' 0\n", stderr);
        std::fputs("textGet: no line end", stderr);
        capture.leftScript(3);
        // Everything of the call has been handed on once the call is over.
        EXPECT_EQ(lines.taken(), (std::vector<std::pair<int, std::string>>{
                                     {3, "RM 12 5 37 'Guest' 0"}, {3, "textGet: no line end"}}));
        std::fputs("outside\x1f a call\n", stderr);
    }
    EXPECT_EQ(lines.taken().back(), (std::pair<int, std::string>{0, "outside\x1f a call"}));
}
