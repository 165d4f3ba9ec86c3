#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TallyBoard.h"

using namespace std::chrono_literals;
using panelhost::TallyBoard;
using tsl::TallyColour;
using tsl::TslTally;

namespace {

tsl::TslInput input(const std::string& text) {
    std::string error;
    const auto parsed = tsl::TslInput::parse(text, error);
    EXPECT_TRUE(parsed) << error;
    return parsed.value_or(tsl::TslInput{});
}

tsl::TslInputPacket packet(std::vector<tsl::TslInputMessage> messages) {
    tsl::TslInputPacket p;
    p.messages = std::move(messages);
    return p;
}

const TslTally kRed = TslTally::from5(TallyColour::Red, TallyColour::Off, TallyColour::Off);
const TslTally kGreen = TslTally::from31(TslTally::kTally2);

}  // namespace

TEST(TallyBoardTest, MapsAddressesMergesInputsAndGoesStale) {
    TallyBoard board({input("udp:1"), input("udp31:2,offset=1,sources=10-20,text=use")}, 1, 2s);
    const TallyBoard::Clock::time_point start{};
    bool revived = false;

    // Address 5 of the 5.0 input at the default offset 1 is source 5.
    EXPECT_EQ(board.apply(0, packet({{5, 0, kRed, "LABEL"}}), start, revived), std::vector<int>{5});
    EXPECT_EQ(board.tally(5), kRed);
    EXPECT_EQ(board.label(5), "") << "labels are ignored without text=use";
    // The same state again changes nothing.
    EXPECT_TRUE(board.apply(0, packet({{5, 0, kRed, ""}}), start, revived).empty());

    // The 3.1 input's address 1 is source 10; address 12 is beyond its sources.
    EXPECT_EQ(board.apply(1, packet({{1, 0, kGreen, "PVW"}, {12, 0, kRed, "X"}}), start, revived),
              std::vector<int>{10});
    EXPECT_EQ(board.label(10), "PVW");
    EXPECT_FALSE(board.tally(21).anyOn());
    board.apply(0, packet({{10, 0, kRed, ""}}), start + 1s, revived);
    EXPECT_EQ(board.tally(10).right, TallyColour::Amber);
    EXPECT_EQ(board.tally(10).left, TallyColour::Green);
    EXPECT_EQ(board.inputsOf(10),
              (std::vector<std::string>{"udp:1", "udp31:2,offset=1,sources=10-20,text=use"}));

    // Display index 0xFFFF addresses every source of the input.
    EXPECT_EQ(board.apply(0, packet({{0xFFFF, 0, kGreen, ""}}), start + 1s, revived).size(), 128u);
    EXPECT_EQ(board.tally(128), kGreen);

    // The 3.1 input is silent from `start`: stale after 2 s, its lamp and label go.
    std::vector<int> changed;
    EXPECT_FALSE(board.expire(1, start + 1s, changed));
    EXPECT_TRUE(board.expire(1, start + 2s, changed));
    EXPECT_EQ(changed, std::vector<int>{10});
    EXPECT_EQ(board.tally(10), kGreen) << "the 5.0 input's lamp stays";
    EXPECT_EQ(board.label(10), "");
    EXPECT_FALSE(board.expire(1, start + 10s, changed)) << "stale once";
    EXPECT_TRUE(board.inputs(start + 3s)[1].stale);
    board.apply(1, packet({}), start + 4s, revived);
    EXPECT_TRUE(revived);
    EXPECT_FALSE(board.inputs(start + 4s)[1].stale);

    board.noteDropped(0);
    EXPECT_EQ(board.inputs(start)[0].dropped, 1u);
    EXPECT_EQ(board.inputs(start)[0].packets, 4u);
}
