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
