#include <gtest/gtest.h>

#include "TslTarget.h"

using tsl::TslTarget;

TEST(TslTarget, ParsesUdpTcpHostNamesAndIpv6) {
    std::string error = "stale";
    auto udp = TslTarget::parse("udp:127.0.0.1:8900", error);
    ASSERT_TRUE(udp);
    EXPECT_EQ(udp->protocol, TslTarget::Protocol::Udp);
    EXPECT_EQ(udp->host, "127.0.0.1");
    EXPECT_EQ(udp->port, 8900);
    EXPECT_TRUE(error.empty());

    auto tcp = TslTarget::parse("tcp:mv-1.studio_a:65535", error);
    ASSERT_TRUE(tcp);
    EXPECT_EQ(tcp->protocol, TslTarget::Protocol::Tcp);
    EXPECT_EQ(tcp->host, "mv-1.studio_a");
    EXPECT_EQ(tcp->port, 65535);

    auto v6 = TslTarget::parse("udp:[fe80::1%eth0]:1", error);
    ASSERT_TRUE(v6);
    EXPECT_EQ(v6->host, "fe80::1%eth0");
    EXPECT_EQ(v6->port, 1);
}

TEST(TslTarget, ToStringRoundTrips) {
    std::string error;
    for (const char* targetText : {"udp:10.0.0.5:8900", "tcp:umd-router:9000", "tcp:[::1]:5727"}) {
        auto target = TslTarget::parse(targetText, error);
        ASSERT_TRUE(target) << targetText;
        EXPECT_EQ(target->toString(), targetText);
        EXPECT_EQ(TslTarget::parse(target->toString(), error), target);
    }
}

// Hosts agree on who drives a receiver by its receiver(): the same for
// every spelling and display option of one receiver, different for others.
TEST(TslTarget, ReceiverNamesTheReceiverWhateverTheTargetShows) {
    std::string error;
    const auto receiver = [&](const char* text) {
        const auto target = TslTarget::parse(text, error);
        EXPECT_TRUE(target) << text << ": " << error;
        return target ? target->receiver() : std::string();
    };
    EXPECT_EQ(receiver("udp:MV-1.Studio:8900"), "udp:mv-1.studio:8900");
    for (const char* same : {"udp:mv-1.studio:8900,sources=1-64,offset=1",
                             "udp31:mv-1.studio:8900,follow=router", "udp:MV-1.STUDIO:8900"}) {
        EXPECT_EQ(receiver(same), "udp:mv-1.studio:8900") << same;
    }
    EXPECT_EQ(receiver("tcp:mv-1.studio:8900"), "tcp:mv-1.studio:8900");
    EXPECT_EQ(receiver("udp:mv-1.studio:8901"), "udp:mv-1.studio:8901");
    EXPECT_EQ(receiver("tcp:[FE80::1]:5727,sources=5"), "tcp:[fe80::1]:5727");
    EXPECT_EQ(receiver("serial:/dev/ttyUSB0,baud=9600,sources=1-100"), "serial:/dev/ttyUSB0");
}

TEST(TslTarget, RejectsBadSpecsWithAReason) {
    const struct {
        const char* targetText;
        const char* reason;
    } cases[] = {
        {"127.0.0.1:8900", "unknown transport"}, {"http:host:80", "unknown transport"},
        {"UDP:host:80", "unknown transport"},    {"udp:host", "missing ':PORT'"},
        {"udp::8900", "missing host"},           {"udp:host:", "port must be"},
        {"udp:host:0", "port must be"},          {"udp:host:65536", "port must be"},
        {"udp:host:123456", "port must be"},     {"udp:host:12a", "port must be"},
        {"udp:host:-1", "port must be"},         {"udp:::1:8900", "in brackets"},
        {"udp:[::1:8900", "missing ']'"},        {"udp:[::1]8900", "missing ':PORT'"},
        {"udp:[]:8900", "missing host"},         {"udp:my host:8900", "characters"},
        {"tcp:a/b:8900", "characters"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(TslTarget::parse(c.targetText, error)) << c.targetText;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.targetText << ": " << error;
        EXPECT_NE(error.find(std::string("\"") + c.targetText + "\""), std::string::npos) << error;
    }
}

TEST(TslTarget, Version31TargetsTakeSourceRangesOffsetsAndLineSettings) {
    std::string error;
    const auto bus = TslTarget::parse(
        "serial:/dev/serial/by-id/usb-1,sources=65-128,offset=0,baud=19200,parity=odd,stop=2",
        error);
    ASSERT_TRUE(bus) << error;
    EXPECT_EQ(bus->protocol, TslTarget::Protocol::Serial31);
    EXPECT_TRUE(bus->version31());
    EXPECT_EQ(bus->device, "/dev/serial/by-id/usb-1");
    EXPECT_EQ(bus->firstSource, 65);
    EXPECT_EQ(bus->lastSource, 128);
    EXPECT_EQ(bus->offset, 0);
    EXPECT_EQ(bus->serial.describe(), "19200 8O2");

    EXPECT_EQ(TslTarget::parse(bus->toString(), error), bus);
    const auto plain = TslTarget::parse("serial:/dev/ttyUSB0,stop=1,parity=even,baud=38400", error);
    ASSERT_TRUE(plain) << error;
    EXPECT_EQ(plain->serial.describe(), "38400 8E1");
    EXPECT_EQ(plain->toString(), "serial:/dev/ttyUSB0");

    for (const char* targetText : {"udp31:[::1]:5727,sources=7", "serial:/dev/ttyS0,parity=none",
                                   "udp:10.0.0.5:8900,sources=1-64,offset=1",
                                   "udp31:host:5727,sources=1-16,follow=router"}) {
        const auto target = TslTarget::parse(targetText, error);
        ASSERT_TRUE(target) << targetText << ": " << error;
        EXPECT_EQ(target->toString(), targetText);
    }

    const struct {
        const char* targetText;
        const char* reason;
    } cases[] = {
        {"serial:ttyUSB0", "full path"},
        {"serial:/dev/ttyS0,baud=12345", "baud must be"},
        {"serial:/dev/ttyS0,parity=mark", "parity must be"},
        {"serial:/dev/ttyS0,stop=3", "stop must be"},
        {"udp31:host:5727,baud=9600", "for serial targets only"},
        {"udp31:host:5727,offset=127", "offset must be a number from 0 to 126"},
        {"udp:host:8900,offset=65408", "offset must be a number from 0 to 65407"},
        {"serial:/dev/ttyS0,sources=0-5", "sources must be"},
        {"serial:/dev/ttyS0,sources=1-129", "sources must be"},
        {"serial:/dev/ttyS0,sources=1-64,sources=65-128", "given twice"},
        {"serial:/dev/ttyS0,offset", "needs a value"},
        {"serial:/dev/ttyS0,speed=9600", "unknown option \"speed\""},
        {"rs422:/dev/ttyS0", "unknown transport"},
        {"udp:host:8900,follow=mixer", "follow must be router"},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(TslTarget::parse(c.targetText, error)) << c.targetText;
        EXPECT_NE(error.find(c.reason), std::string::npos) << c.targetText << ": " << error;
    }
}
