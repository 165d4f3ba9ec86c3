// The in-process host answers every reading line of a start-up as a host
// does, and nothing it was not given.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <stdexcept>
#include <string>

#include "MemoryHost.h"

namespace {
constexpr std::size_t kNameLength = 16;

class MemoryHostTest : public ::testing::Test {
  protected:
    // The host's answer to `line` as text; "(null)" for null.
    std::string answer(const std::string& line) {
        std::string copy = line;
        const void* result = host.deliver(copy.data(), tovi_type::kCommand);
        return result == nullptr ? "(null)" : static_cast<const char*>(result);
    }

    MemoryHost host{kNameLength};
};

TEST_F(MemoryHostTest, AnswersTheThreeDevicesByInstanceName) {
    EXPECT_EQ(answer("SD 'StC SDI Router'"), "3");
    EXPECT_EQ(answer("SD 'CTA Tally Infodriver'"), "57");
    EXPECT_EQ(answer("SD 'StC_UMD_Names_DriverID'"), "12");
    EXPECT_EQ(answer("SD 'StC SDI Router 2'"), "(null)");
    EXPECT_EQ(answer("SD 'StC'"), "(null)");
}

TEST_F(MemoryHostTest, AnswersEveryReadOfAStartUpWithADistinctNameOfTheStudiosLength) {
    const std::pair<int, int> databases[] = {{3, 0},  {3, 2},  {12, 1}, {12, 2}, {12, 3}, {12, 4},
                                             {12, 5}, {12, 6}, {12, 7}, {12, 8}, {12, 9}};
    std::set<std::string> seen;
    for (const auto& [device, database] : databases) {
        for (int index = 1; index <= 128; ++index) {
            const std::string line = "RN " + std::to_string(device) + " " +
                                     std::to_string(database) + " " + std::to_string(index);
            const std::string name = answer(line);
            ASSERT_EQ(name.size(), kNameLength) << line;
            EXPECT_EQ(name, host.name(device, database, index));
            seen.insert(name);
        }
    }
    EXPECT_EQ(seen.size(), 11u * 128u);
}

TEST_F(MemoryHostTest, ReadsOutsideTheStudioAreAnsweredWithNull) {
    EXPECT_EQ(answer("RN 3 0 0"), "(null)");
    EXPECT_EQ(answer("RN 3 0 129"), "(null)");
    EXPECT_EQ(answer("RN 3 1 5"), "(null)");
    EXPECT_EQ(answer("RN 12 0 5"), "(null)");
    EXPECT_EQ(answer("RN 12 10 5"), "(null)");
    EXPECT_EQ(answer("RN 57 1 5"), "(null)");
    EXPECT_EQ(answer("RN 0 0 1"), "(null)");
    EXPECT_EQ(answer("RN -3 0 1"), "(null)");
    EXPECT_EQ(answer("RN 3 0 99999999999"), "(null)");
    EXPECT_EQ(answer("RN 3 0"), "(null)");
    EXPECT_EQ(answer("RN x"), "(null)");
}

TEST_F(MemoryHostTest, AnswersTheTextOfControlsItWasGivenOnly) {
    EXPECT_EQ(answer("TG '2' 'KB_1' 'text'"), "(null)");
    host.setControlText("KB_1", "Camera 1");
    host.setControlText("PostEdit", "");
    EXPECT_EQ(answer("TG '2' 'KB_1' 'text'"), "text=Camera 1");
    EXPECT_EQ(answer("TG '2' 'PostEdit' 'text'"), "text=");
    EXPECT_EQ(answer("TG '2' 'KB_1' 'index'"), "(null)");
    EXPECT_EQ(answer("TG '2' 'KB_2' 'text'"), "(null)");
    EXPECT_EQ(answer("TG '2' 'KB_1'"), "(null)");
    host.setControlText("KB_1", "Camera 12");
    EXPECT_EQ(answer("TG '1' 'KB_1' 'text'"), "text=Camera 12");
}

TEST_F(MemoryHostTest, RefusesTextsItCannotHold) {
    EXPECT_THROW(MemoryHost(0), std::invalid_argument);
    EXPECT_THROW(MemoryHost(MemoryHost::kMaxTextLength + 1), std::invalid_argument);
    EXPECT_THROW(host.setControlText("KB_1", std::string(65, 'x').c_str()), std::invalid_argument);
    host.setControlText("a", "");
    host.setControlText("b", "");
    host.setControlText("c", "");
    host.setControlText("d", "");
    EXPECT_THROW(host.setControlText("e", ""), std::length_error);
    EXPECT_NO_THROW(host.setControlText("a", "again"));
}

TEST_F(MemoryHostTest, PanelCommandsAreTrueAndOtherCommandsGetNull) {
    EXPECT_NE(answer("PI '1' 'Selector.tovi_ui'"), "(null)");
    EXPECT_NE(answer("PS '1' 'Selector.tovi_ui'"), "(null)");
    EXPECT_NE(answer("PR '1'"), "(null)");
    EXPECT_EQ(answer("CD '2' 'KB_1'"), "(null)");
    EXPECT_EQ(answer("RR 12 1 128"), "(null)");
    EXPECT_EQ(host.deliver(nullptr, tovi_type::kCommand), nullptr);
}

TEST_F(MemoryHostTest, CountsLinesAnswersAndHandBacks) {
    answer("PI '1' 'Selector.tovi_ui'");
    answer("SD 'StC SDI Router'");
    answer("RN 3 0 1");
    answer("RN 3 0 0");
    host.deliver(nullptr, tovi_type::kRelease);
    EXPECT_EQ(host.lines(), 4u);
    EXPECT_EQ(host.textAnswers(), 2u);
    EXPECT_EQ(host.handBacks(), 1u);
    host.resetCounts();
    EXPECT_EQ(host.lines(), 0u);
    EXPECT_EQ(host.textAnswers(), 0u);
    EXPECT_EQ(host.handBacks(), 0u);
}

TEST_F(MemoryHostTest, TheDigestTellsLineSequencesApart) {
    const auto digestOf = [this](std::initializer_list<const char*> lines) {
        host.resetCounts();
        host.setDigesting(true);
        for (const char* line : lines) {
            answer(line);
        }
        host.setDigesting(false);
        return host.digest();
    };
    const auto ab = digestOf({"CD '2' 'A'", "CD '2' 'B'"});
    EXPECT_EQ(ab, digestOf({"CD '2' 'A'", "CD '2' 'B'"}));
    EXPECT_NE(ab, digestOf({"CD '2' 'B'", "CD '2' 'A'"}));
    EXPECT_NE(ab, digestOf({"CD '2' 'A'"}));
    EXPECT_NE(digestOf({"AB", "C"}), digestOf({"A", "BC"}));
    // Lines sent while digesting is off leave the digest alone.
    host.resetCounts();
    answer("CD '2' 'A'");
    EXPECT_EQ(host.digest(), digestOf({}));
}

}  // namespace
