#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "RecordingHost.h"
#include "TestScript.h"
#include "decodeTOVIString.h"

namespace {

using Strings = std::vector<std::string>;

Strings fieldsOf(const char* text, char quote = '\'') {
    decodeTOVIString parsed(text, quote);
    Strings fields;
    for (int i = 0; i < parsed.fieldCount; ++i) {
        fields.emplace_back(parsed.fields[i]);
    }
    return fields;
}

TEST(DecodeToviString, BlanksSeparateAndQuotesGroup) {
    EXPECT_EQ(fieldsOf("a 'b c' d"), (Strings{"a", "b c", "d"}));
    EXPECT_EQ(fieldsOf("a '' d"), (Strings{"a", "", "d"}));
    EXPECT_EQ(fieldsOf("57 3"), (Strings{"57", "3"}));
    EXPECT_EQ(fieldsOf("a   b"), (Strings{"a", "b"}));
    EXPECT_EQ(fieldsOf("   a"), (Strings{"", "a"}));
    EXPECT_EQ(fieldsOf("   "), Strings{""});
    EXPECT_EQ(fieldsOf("ab'cd'"), (Strings{"ab", "cd"}));
    EXPECT_EQ(fieldsOf("'ab'cd"), (Strings{"", "ab", "cd"}));
    EXPECT_EQ(fieldsOf("'unclosed group runs on"), (Strings{"", "unclosed group runs on"}));
    EXPECT_EQ(fieldsOf("a\tb\nc"), Strings{"a\tb\nc"});
    EXPECT_EQ(fieldsOf("a \"b c\"", '\''), (Strings{"a", "\"b", "c\""}));
    EXPECT_EQ(fieldsOf("a \"b c\"", '"'), (Strings{"a", "b c"}));
}

TEST(DecodeToviString, NullAndEmptyTexts) {
    for (const char* text : {static_cast<const char*>(nullptr), ""}) {
        decodeTOVIString parsed(text, '\'');
        EXPECT_EQ(parsed.fieldCount, 0);
        EXPECT_EQ(parsed.buffer, nullptr);
        for (const char* field : parsed.fields) {
            EXPECT_STREQ(field, "");
        }
    }
}

TEST(DecodeToviString, ThirtyTwoFieldsAtMost) {
    std::string text;
    for (int i = 1; i <= 40; ++i) {
        text += "w" + std::to_string(i) + " ";
    }
    decodeTOVIString parsed(text.c_str(), '\'');
    EXPECT_EQ(parsed.fieldCount, 32);
    EXPECT_STREQ(parsed.fields[31], "w32");
}

class FindDevice : public ::testing::Test {
protected:
    RecordingHost host;
    TestScript script{&host, ""};
    int device = -1;
    int second = -1;

    bool find(const std::string& answer) {
        host.answerDevice("StC SDI Router", answer);
        return script.findDevice("StC SDI Router", &device, &second);
    }
    void TearDown() override { EXPECT_EQ(host.protocolErrors(), Strings{}); }
};

TEST_F(FindDevice, ReadsTheFirstTwoFieldsAsNumbers) {
    EXPECT_TRUE(find("57"));
    EXPECT_EQ(device, 57);
    EXPECT_EQ(second, 0);
    EXPECT_TRUE(find("57 3"));
    EXPECT_EQ(second, 3);
    EXPECT_TRUE(find("-5"));
    EXPECT_EQ(device, -5);
    EXPECT_TRUE(find(" 57"));
    EXPECT_EQ(device, 0);
    EXPECT_EQ(second, 57);
    EXPECT_TRUE(find("'57'"));
    EXPECT_EQ(device, 0);
    EXPECT_EQ(second, 57);
    EXPECT_TRUE(find(""));
    EXPECT_EQ(device, 0);
    EXPECT_TRUE(find("abc"));
    EXPECT_EQ(device, 0);
    EXPECT_EQ(host.commands().front(), "SD 'StC SDI Router'");
    EXPECT_EQ(host.handBacks(), 7);
}

TEST_F(FindDevice, NullAnswerFailsWithZeroesAndNoHandBack) {
    device = second = 9;
    EXPECT_FALSE(script.findDevice("Unknown Device", &device, &second));
    EXPECT_EQ(device, 0);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(host.commands(), Strings{"SD 'Unknown Device'"});
    EXPECT_EQ(host.handBacks(), 0);
}

TEST_F(FindDevice, OutputsMayBeNull) {
    host.answerDevice("CTA Tally Infodriver", "57");
    EXPECT_TRUE(script.findDevice("CTA Tally Infodriver", nullptr, nullptr));
    EXPECT_EQ(host.handBacks(), 1);
}

TEST(FindDeviceWithoutHost, FailsWithZeroes) {
    TestScript script(nullptr, "");
    int device = 9, second = 9;
    EXPECT_FALSE(script.findDevice("StC SDI Router", &device, &second));
    EXPECT_EQ(device, 0);
    EXPECT_EQ(second, 0);
}

}  // namespace
