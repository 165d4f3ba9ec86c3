#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "TslOutput.h"
#include "TslPacketReader.h"

using namespace std::chrono_literals;
using tsl::TslOutput;
using tsl::TslOutputConfig;

namespace {

// Records what the output hands to a transport.
struct Recorded {
    std::vector<std::vector<std::uint8_t>> packets;

    std::vector<tsl_test::ReadMessage> messages() const {
        std::vector<tsl_test::ReadMessage> all;
        for (const auto& p : packets) {
            const auto read = tsl_test::readPacket(p);
            all.insert(all.end(), read.messages.begin(), read.messages.end());
        }
        return all;
    }
};

class FakeTransport : public tsl::TslTransport {
  public:
    explicit FakeTransport(std::shared_ptr<Recorded> record) : record_(std::move(record)) {}
    void send(std::vector<std::uint8_t> packet) override {
        record_->packets.push_back(std::move(packet));
    }
    bool flush(std::chrono::milliseconds) override { return true; }
    tsl::TslTransportStatus status() const override { return {}; }

  private:
    std::shared_ptr<Recorded> record_;
};

class TslOutputTest : public ::testing::Test {
  protected:
    // An output with a recording transport per target; targets the test
    // does not name are 5.0 receivers of every source.
    std::unique_ptr<TslOutput> make(TslOutputConfig config, int transports = 1) {
        while (config.targets.size() < static_cast<std::size_t>(transports)) {
            config.targets.push_back(
                target("udp:127.0.0.1:" + std::to_string(8900 + config.targets.size())));
        }
        std::vector<std::unique_ptr<tsl::TslTransport>> list;
        for (std::size_t i = 0; i < config.targets.size(); ++i) {
            records.push_back(std::make_shared<Recorded>());
            list.push_back(std::make_unique<FakeTransport>(records.back()));
        }
        return std::make_unique<TslOutput>(
            config, std::move(list), [this](const std::string& line) { log.push_back(line); },
            [this] { return now; });
    }

    static TslOutput::Names names(const std::string& stem) {
        TslOutput::Names n;
        for (std::size_t i = 0; i < n.size(); ++i) {
            n[i] = stem + std::to_string(i + 1);
        }
        return n;
    }

    static int brightnessOf(const tsl_test::ReadMessage& m) { return m.control >> 6 & 3; }

    static tsl::TslTarget target(const std::string& text) {
        std::string error;
        const auto parsed = tsl::TslTarget::parse(text, error);
        EXPECT_TRUE(parsed) << error;
        return parsed.value_or(tsl::TslTarget{});
    }

    std::vector<std::shared_ptr<Recorded>> records;
    std::vector<std::string> log;
    std::chrono::steady_clock::time_point now{};
};

}  // namespace

TEST_F(TslOutputTest, WallGoesToEveryTargetWithOffsetScreenAndBrightness) {
    TslOutputConfig config;
    config.indexOffset = 1;
    config.screen = 4;
    auto output = make(config, 2);
    output->setWall(names("Cam "), 2);

    ASSERT_EQ(records[0]->packets, records[1]->packets);
    const auto messages = records[0]->messages();
    ASSERT_EQ(messages.size(), 128u);
    for (std::size_t i = 0; i < messages.size(); ++i) {
        EXPECT_EQ(messages[i].index, i + 1);
        EXPECT_EQ(messages[i].text, "Cam " + std::to_string(i + 1));
        EXPECT_EQ(brightnessOf(messages[i]), 2);
    }
    EXPECT_EQ(tsl_test::readPacket(records[0]->packets[0]).screen, 4);
    ASSERT_EQ(log.size(), records[0]->packets.size());
    EXPECT_EQ(log[0], "TSL full refresh 1/1: displays 1-128 (128), ASCII, " +
                          std::to_string(records[0]->packets[0].size()) + " bytes, brightness 2");

    const tsl::TslWallSnapshot snapshot = output->lastSent();
    EXPECT_EQ(snapshot.displays[36].index, 37);
    EXPECT_EQ(snapshot.displays[36].text, "Cam 37");
    EXPECT_EQ(snapshot.displays[36].brightness, 2);
    EXPECT_TRUE(snapshot.displays[36].sent);
    EXPECT_EQ(snapshot.fullRefreshes, 1u);
}

TEST_F(TslOutputTest, BrightnessLevelsMapToTheProtocol) {
    EXPECT_EQ(TslOutput::protocolBrightness(0), 3);
    EXPECT_EQ(TslOutput::protocolBrightness(1), 1);
    EXPECT_EQ(TslOutput::protocolBrightness(2), 2);
    EXPECT_EQ(TslOutput::protocolBrightness(3), 3);
    EXPECT_EQ(TslOutput::protocolBrightness(4), 3);
    EXPECT_EQ(TslOutput::protocolBrightness(-1), 3);
}

TEST_F(TslOutputTest, OneNameChangeSendsOneMessage) {
    auto output = make({});
    output->setWall(names("N"), 1);
    records[0]->packets.clear();
    log.clear();

    EXPECT_TRUE(output->setName(37, "Kamera S\xC3\xBC\x64"));
    const auto messages = records[0]->messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].index, 36);
    EXPECT_EQ(messages[0].text, "Kamera S\xC3\xBC\x64");
    EXPECT_EQ(brightnessOf(messages[0]), 1);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0],
              "TSL update 1/1: display 36 \"Kamera S\xC3\xBC\x64\", UTF-16, 32 bytes, "
              "brightness 1");
    EXPECT_EQ(output->lastSent().displays[36].text, "Kamera S\xC3\xBC\x64");

    EXPECT_FALSE(output->setName(0, "x"));
    EXPECT_FALSE(output->setName(129, "x"));
    EXPECT_EQ(records[0]->packets.size(), 1u);
}

TEST_F(TslOutputTest, FollowingTargetsShowTheRoutedNamesAndOnlyTheirChanges) {
    TslOutputConfig config;
    config.targets = {target("udp:127.0.0.1:8900"),
                      target("udp:127.0.0.1:8901,sources=1-16,offset=0,follow=router"),
                      target("udp31:127.0.0.1:8902,sources=1-16,follow=router")};
    config.indexOffset = 1;
    auto output = make(config);
    ASSERT_TRUE(output->followsRouter());
    output->setWall(names("Src "), names("Routed "), 2);

    const auto plain = records[0]->messages();
    const auto routed = records[1]->messages();
    ASSERT_EQ(plain.size(), 128u);
    ASSERT_EQ(routed.size(), 16u);
    EXPECT_EQ(plain[2].text, "Src 3");
    EXPECT_EQ(routed[2].index, 2);
    EXPECT_EQ(routed[2].text, "Routed 3");
    std::size_t messages31 = 0;
    for (const auto& packet : records[2]->packets) {
        messages31 += tsl_test::readMessages31(packet).size();
    }
    EXPECT_EQ(messages31, 16u);
    EXPECT_EQ(output->lastSent().routed[2].text, "Routed 3");
    EXPECT_EQ(output->lastSent().routed[2].index, 2);
    EXPECT_FALSE(output->lastSent().routed[16].sent);

    // A crosspoint change reaches the following targets alone, a name
    // change of a source the plain ones alone.
    for (const auto& record : records) {
        record->packets.clear();
    }
    EXPECT_TRUE(output->setRoutedName(3, "Kamera S\xC3\xBC\x64"));
    EXPECT_TRUE(records[0]->packets.empty());
    ASSERT_EQ(records[1]->messages().size(), 1u);
    EXPECT_EQ(records[1]->messages()[0].text, "Kamera S\xC3\xBC\x64");
    ASSERT_EQ(records[2]->packets.size(), 1u);
    EXPECT_EQ(tsl_test::readMessages31(records[2]->packets[0]).at(0).address, 3);
    EXPECT_FALSE(output->lastSent().routed[2].exact);
    EXPECT_EQ(output->lastSent().routed[2].shownAs, "Kamera Sud");
    EXPECT_EQ(output->lastSent().displays[2].text, "Src 3");

    EXPECT_TRUE(output->setName(3, "Other"));
    EXPECT_EQ(records[0]->messages().back().text, "Other");
    EXPECT_EQ(records[1]->messages().size(), 1u);
    EXPECT_FALSE(output->setRoutedName(129, "x"));

    // A plain setWall keeps what the following targets show.
    output->setWall(names("New "), 2);
    EXPECT_EQ(records[1]->messages().back().text, "Routed 16");
    EXPECT_EQ(records[1]->messages()[records[1]->messages().size() - 14].text,
              "Kamera S\xC3\xBC\x64");
}

TEST_F(TslOutputTest, BrightnessChangeResendsTheKnownWall) {
    auto output = make({});
    output->setBrightness(1);
    EXPECT_TRUE(records[0]->packets.empty());

    output->setWall(names("N"), 0);
    EXPECT_EQ(brightnessOf(records[0]->messages().back()), 3);
    records[0]->packets.clear();
    output->setBrightness(1);
    const auto messages = records[0]->messages();
    ASSERT_EQ(messages.size(), 128u);
    EXPECT_EQ(messages[5].text, "N6");
    EXPECT_EQ(brightnessOf(messages[5]), 1);
}

TEST_F(TslOutputTest, PeriodicRefreshAfterThePeriod) {
    TslOutputConfig config;
    config.refreshPeriod = 5s;
    auto output = make(config);
    output->tick();
    EXPECT_TRUE(records[0]->packets.empty());

    output->setWall(names("N"), 3);
    output->setName(2, "changed");
    const std::size_t afterStart = records[0]->packets.size();
    now += 4s;
    output->tick();
    EXPECT_EQ(records[0]->packets.size(), afterStart);
    now += 1s;
    output->tick();
    ASSERT_GT(records[0]->packets.size(), afterStart);
    EXPECT_EQ(records[0]->messages().back().index, 127);
    EXPECT_EQ(tsl_test::readPacket(records[0]->packets.back()).messages[1].text, "changed");
    EXPECT_EQ(log.back().rfind("TSL periodic refresh", 0), 0u);

    const std::size_t afterRefresh = records[0]->packets.size();
    now += 3s;
    output->setBrightness(2);  // a full send restarts the period
    now += 3s;
    output->tick();
    EXPECT_EQ(records[0]->packets.size(), afterRefresh + 1);
}

// Hosts that share a receiver take turns: one not driving a target sends it
// nothing at all, and one that starts to drive it sends it the wall at once.
TEST_F(TslOutputTest, OnlyDrivenTargetsAreSentAndANewlyDrivenOneGetsTheWholeWall) {
    TslOutputConfig config;
    config.drivenAtStart = false;
    config.refreshPeriod = 5s;
    auto output = make(config, 2);
    EXPECT_FALSE(output->driven(0));
    output->setDriven(1, true);
    EXPECT_TRUE(records[1]->packets.empty());  // no wall known yet

    output->setWall(names("N"), 2);
    output->setName(3, "changed");
    output->setBrightness(1);
    now += 5s;
    output->tick();
    EXPECT_TRUE(records[0]->packets.empty());
    EXPECT_FALSE(records[1]->packets.empty());

    const std::size_t toSecond = records[1]->packets.size();
    EXPECT_TRUE(output->setDriven(0, true));
    EXPECT_EQ(records[1]->packets.size(), toSecond);
    const auto wall = records[0]->messages();
    ASSERT_EQ(wall.size(), 128u);
    EXPECT_EQ(wall[2].text, "changed");
    EXPECT_EQ(brightnessOf(wall[2]), 1);
    EXPECT_EQ(log.back().rfind("TSL full refresh of a newly driven target", 0), 0u);
    EXPECT_NE(log.back().find(" to udp:127.0.0.1:8900"), std::string::npos);
    output->setDriven(0, true);  // already driven: nothing again
    EXPECT_EQ(records[0]->messages().size(), 128u);

    output->setDriven(0, false);
    EXPECT_FALSE(output->driven(0));
    output->setName(4, "unseen");
    now += 5s;
    output->tick();
    EXPECT_EQ(records[0]->messages().size(), 128u);
    EXPECT_EQ(records[1]->messages().back().index, 127);
    EXPECT_FALSE(output->setDriven(2, true));
}

TEST_F(TslOutputTest, ZeroPeriodTurnsRefreshOff) {
    TslOutputConfig config;
    config.refreshPeriod = 0s;
    auto output = make(config);
    output->setWall(names("N"), 3);
    now += 1h;
    output->tick();
    EXPECT_EQ(records[0]->packets.size(), 1u);
}

TEST_F(TslOutputTest, OffsetRangeKeepsIndexesBelowAllDisplays) {
    TslOutputConfig config;
    config.indexOffset = TslOutput::kMaxIndexOffset;
    auto output = make(config);
    output->setWall(names("N"), 3);
    EXPECT_EQ(records[0]->messages().back().index, 0xFFFE);

    config.indexOffset = TslOutput::kMaxIndexOffset + 1;
    EXPECT_THROW(make(config), std::invalid_argument);
    config.indexOffset = -1;
    EXPECT_THROW(make(config), std::invalid_argument);
    config.indexOffset = 0;
    config.refreshPeriod = -1s;
    EXPECT_THROW(make(config), std::invalid_argument);
}

TEST_F(TslOutputTest, OneMessagePerPacketWhenAsked) {
    TslOutputConfig config;
    config.maxMessagesPerPacket = 1;
    auto output = make(config);
    output->setWall(names("N"), 3);
    EXPECT_EQ(records[0]->packets.size(), 128u);
    EXPECT_EQ(log.size(), 128u);
    EXPECT_EQ(log[127].rfind("TSL full refresh 128/128: display 127 \"N128\"", 0), 0u);
}

TEST_F(TslOutputTest, Version31TargetsLeaveOutAddressesBeyond126AndSayWhatTheyShow) {
    TslOutputConfig config;
    config.indexOffset = 1;
    config.targets = {target("serial:/dev/ttyBusB,sources=65-128,offset=0"),
                      target("udp31:127.0.0.1:9000")};
    auto output = make(config);
    ASSERT_EQ(output->warnings().size(), 1u);
    EXPECT_NE(output->warnings()[0].find("udp31:127.0.0.1:9000: sources 127 to 128 would need "
                                         "addresses 127 to 128, beyond the TSL 3.1 range 0 to 126"),
              std::string::npos)
        << output->warnings()[0];

    TslOutput::Names wall = names("Cam ");
    wall[69] = "Caf\xC3\xA9 of twenty chars";
    output->setWall(wall, 2);
    std::vector<tsl_test::ReadMessage31> bus;
    std::vector<tsl_test::ReadMessage31> udp;
    for (const auto& packet : records[0]->packets) {
        const auto read = tsl_test::readMessages31(packet);
        bus.insert(bus.end(), read.begin(), read.end());
    }
    for (const auto& packet : records[1]->packets) {
        const auto read = tsl_test::readMessages31(packet);
        udp.insert(udp.end(), read.begin(), read.end());
    }
    ASSERT_EQ(bus.size(), 64u);
    ASSERT_EQ(udp.size(), 126u);
    EXPECT_EQ(bus.front().address, 0);
    EXPECT_EQ(bus[5].text, "Cafe of twenty c");
    EXPECT_EQ(bus[5].control, 2 << 4);
    EXPECT_EQ(udp.front().address, 1);
    EXPECT_EQ(udp.back().address, 126);

    const tsl::TslWallSnapshot sent = output->lastSent();
    EXPECT_TRUE(sent.displays[0].exact);
    EXPECT_FALSE(sent.displays[69].exact);
    EXPECT_EQ(sent.displays[69].shownAs, "Cafe of twenty c");
    EXPECT_EQ(sent.displays[69].index, 5);
    EXPECT_EQ(sent.displays[127].unsentTo, std::vector<std::string>{"udp31:127.0.0.1:9000"});

    // A name goes only where its source can be shown; the log says where.
    records[0]->packets.clear();
    records[1]->packets.clear();
    log.clear();
    output->setName(128, "Last");
    EXPECT_TRUE(records[1]->packets.empty());
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0],
              "TSL 3.1 update 1/1: address 63 \"Last\", 18 bytes, brightness 2 to "
              "serial:/dev/ttyBusB,sources=65-128,offset=0");

    // A default offset that leaves a 3.1 target no address at all.
    config.indexOffset = tsl::Tsl31Encoder::kMaxAddress + 1;
    EXPECT_THROW(make(config), std::invalid_argument);
}

TEST_F(TslOutputTest, EveryMessageCarriesTheLampsOfItsSource) {
    TslOutputConfig config;
    config.targets = {target("udp:127.0.0.1:8900"), target("udp31:127.0.0.1:8901"),
                      target("udp:127.0.0.1:8902,follow=router")};
    config.refreshPeriod = 5s;
    auto output = make(config);
    const tsl::TslTally red =
        tsl::TslTally::from5(tsl::TallyColour::Red, tsl::TallyColour::Off, tsl::TallyColour::Red);
    TslOutput::Tallies tallies{};
    TslOutput::Tallies routed{};
    tallies[4] = red;
    routed[9] = tsl::TslTally::from31(tsl::TslTally::kTally2);
    output->setTallies(tallies, routed);
    output->setWall(names("N"), names("R"), 2);
    const auto lampsOf = [&](std::size_t target, int index) {
        int control = -1;
        for (const auto& m : records[target]->messages()) {
            control = m.index == index ? m.control & 0x3F : control;
        }
        return control;
    };
    const auto tallies31Of = [&](int address) {
        int control = -1;
        for (const auto& packet : records[1]->packets) {
            for (const auto& m : tsl_test::readMessages31(packet)) {
                control = m.address == address ? m.control & 0x0F : control;
            }
        }
        return control;
    };
    // Display 4 (source 5) lit; with the whole wall also display 5 dark
    // and the following display 9 (destination 10) green.
    const auto expectLit = [&](const char* when, bool whole = true) {
        EXPECT_EQ(lampsOf(0, 4), 1 | 1 << 4) << when;
        EXPECT_EQ(tallies31Of(4), tsl::TslTally::kTally1) << when;
        if (whole) {
            EXPECT_EQ(lampsOf(0, 5), 0) << when;
            EXPECT_EQ(lampsOf(2, 9), 2 | 2 << 4) << when;
        }
    };
    expectLit("whole wall");

    for (const auto& record : records) {
        record->packets.clear();
    }
    output->setName(5, "Renamed");
    expectLit("name of the lit source", false);
    EXPECT_EQ(records[0]->messages().at(0).text, "Renamed");
    EXPECT_EQ(output->lastSent().displays[4].tally, red);

    for (const auto& record : records) {
        record->packets.clear();
    }
    output->setBrightness(1);
    expectLit("brightness");
    now += 5s;
    for (const auto& record : records) {
        record->packets.clear();
    }
    output->tick();
    expectLit("periodic refresh");

    // A change of lamps sends that display alone, keeping our brightness.
    for (const auto& record : records) {
        record->packets.clear();
    }
    log.clear();
    output->setDisplays({{5, "Renamed", tsl::TslTally{}}}, false);
    ASSERT_EQ(records[0]->messages().size(), 1u);
    EXPECT_EQ(records[0]->messages()[0].control, 1 << 6);
    EXPECT_EQ(tallies31Of(4), 0);
    EXPECT_TRUE(records[2]->packets.empty()) << "the following target shows destinations";
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].find("TSL update 1/1: display 4 \"Renamed\""), 0u) << log[0];

    // The lamps of one packet from the mixer go out in one packet.
    records[0]->packets.clear();
    EXPECT_TRUE(output->setDisplays({{5, "Renamed", red}, {9, "N9", red}}, false));
    ASSERT_EQ(records[0]->packets.size(), 1u);
    EXPECT_EQ(records[0]->messages().size(), 2u);
    EXPECT_EQ(lampsOf(0, 8), 1 | 1 << 4);
    EXPECT_FALSE(output->setDisplays({{1, "A", red}, {129, "B", red}}, false));
    EXPECT_EQ(output->lastSent().displays[0].tally, tsl::TslTally{}) << "nothing taken";
}
