// The baseline is a fair yardstick only if it does the panel's work: the
// same lines in the same order, the same answers copied and handed back.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "BaselinePanel.h"
#include "MemoryHost.h"
#include "PanelExport.h"

namespace {

// Keeps every line and hand-back, and answers from a studio or, without
// one, with null throughout.
class LineLog : public tovi_client_callback {
  public:
    explicit LineLog(MemoryHost* studio) : studio_(studio) {}

    void* deliver(void* data, int type) override {
        if (type == tovi_type::kCommand) {
            lines.emplace_back(static_cast<const char*>(data));
        } else if (type == tovi_type::kRelease) {
            ++handBacks;
        }
        return studio_ == nullptr ? nullptr : studio_->deliver(data, type);
    }

    std::vector<std::string> lines;
    int handBacks = 0;

  private:
    MemoryHost* studio_;
};

struct Transcript {
    std::vector<std::string> lines;
    int handBacks;
};

Transcript ofPanel(MemoryHost* studio, const char* path) {
    LineLog log(studio);
    delete load_tovi_client_script(&log, path);
    return {log.lines, log.handBacks};
}

Transcript ofBaseline(MemoryHost* studio, const char* path) {
    LineLog log(studio);
    delete new BaselinePanel(&log, path);
    return {log.lines, log.handBacks};
}

class BaselinePanelTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(BaselinePanelTest, SendsThePanelsLinesAndHandsBackAsOften) {
    const auto studio = std::make_unique<MemoryHost>(GetParam());
    for (const char* path : {"/srv/panels", "", static_cast<const char*>(nullptr)}) {
        SCOPED_TRACE(path == nullptr ? "null path" : path);
        const Transcript panel = ofPanel(studio.get(), path);
        const Transcript baseline = ofBaseline(studio.get(), path);
        ASSERT_EQ(panel.lines.size(), 1321u);
        EXPECT_EQ(baseline.lines, panel.lines);
        EXPECT_EQ(baseline.handBacks, panel.handBacks);
    }
}

INSTANTIATE_TEST_SUITE_P(NameLengths, BaselinePanelTest, ::testing::Values(12, 16, 24));

TEST(BaselinePanelWithoutAnswers, SendsThePanelsLinesForUnknownDevices) {
    const Transcript panel = ofPanel(nullptr, "/srv/panels");
    const Transcript baseline = ofBaseline(nullptr, "/srv/panels");
    EXPECT_EQ(baseline.lines, panel.lines);
    EXPECT_EQ(baseline.handBacks, panel.handBacks);
}

TEST(BaselinePanelWithALongPath, SendsLinesLongerThanItsBuffer) {
    const std::string path(300, 'p');
    MemoryHost studio(16);
    const Transcript panel = ofPanel(&studio, path.c_str());
    EXPECT_EQ(ofBaseline(&studio, path.c_str()).lines, panel.lines);
}

TEST(BaselinePanelWithoutAHost, SendsNothing) {
    EXPECT_NO_THROW(delete new BaselinePanel(nullptr, "/srv/panels"));
}

}  // namespace
