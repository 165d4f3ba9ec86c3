#include "tovi_string.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

std::string str(const tovi_string& s) { return std::string(s.data(), s.length()); }

TEST(ToviStringStorage, ShortAndLongTextsKeepTheirCharacters) {
    const std::string inlineMax(tovi_string::kInlineCapacity, 'a');
    const std::string heap(tovi_string::kInlineCapacity + 1, 'b');
    EXPECT_EQ(str(tovi_string(inlineMax.c_str())), inlineMax);
    EXPECT_EQ(str(tovi_string(heap.c_str())), heap);
    EXPECT_EQ(tovi_string(nullptr).length(), 0u);
    EXPECT_STREQ(static_cast<const char*>(tovi_string()), "");

    tovi_string grown("x");
    for (int i = 0; i < 100; ++i) {
        grown += "yz";
    }
    EXPECT_EQ(grown.length(), 201u);
    EXPECT_EQ(str(grown.right(3)), "zyz");
}

TEST(ToviStringStorage, CopiesMovesAndSelfAssignmentAreIndependent) {
    tovi_string longText("a text that certainly lives on the heap");
    tovi_string copy(longText);
    copy += "!";
    EXPECT_EQ(str(longText), "a text that certainly lives on the heap");
    tovi_string moved(std::move(copy));
    EXPECT_EQ(str(moved), "a text that certainly lives on the heap!");
    EXPECT_EQ(copy.length(), 0u);  // NOLINT: a moved-from string is empty

    tovi_string& self = moved;
    moved = self;
    moved += moved;
    EXPECT_EQ(moved.length(), 2 * 40u);
    moved = moved.data() + 2;  // assigning from its own characters
    EXPECT_EQ(str(moved).substr(0, 6), "text t");

    tovi_string shrink("a long text on the heap, more than 22");
    shrink = "short";
    EXPECT_EQ(str(shrink), "short");
}

TEST(ToviStringStorage, TruncateAndRight) {
    tovi_string name("Camera 1 Close-Up Wide");
    name.truncate(16);
    EXPECT_EQ(str(name), "Camera 1 Close-U");
    name.truncate(40);
    EXPECT_EQ(name.length(), 16u);
    EXPECT_EQ(str(tovi_string("Select_12").right(1)), "2");
    EXPECT_EQ(str(tovi_string("ab").right(5)), "ab");
    tovi_string heap("a long text on the heap, more than 22");
    heap.truncate(3);
    EXPECT_STREQ(heap.data(), "a l");
}

TEST(ToviStringNumbers, NumericConstructorFormats) {
    EXPECT_EQ(str(tovi_string(57, '\0', 0, 10)), "57");
    EXPECT_EQ(str(tovi_string(-5, '\0', 0, 10)), "-5");
    EXPECT_EQ(str(tovi_string(0, '\0', 0, 10)), "0");
    EXPECT_EQ(str(tovi_string(INT_MIN, '\0', 0, 10)), "-2147483648");
    EXPECT_EQ(str(tovi_string(255, '0', 4, 16)), "00ff");
    EXPECT_EQ(str(tovi_string(7, '\0', 3, 10)), "  7");
}

TEST(ToviStringNumbers, ToIntAcceptsOnlyWholeDecimalIntegers) {
    struct Case {
        const char* text;
        int value;
        bool ok;
    };
    const Case cases[] = {
        {"0", 0, true},          {"42", 42, true},       {"-7", -7, true},
        {"+3", 3, true},         {"02", 2, true},        {"2147483647", INT_MAX, true},
        {"-2147483648", INT_MIN, true},                  {"2147483648", 0, false},
        {"", 0, false},          {"-", 0, false},        {" 5", 0, false},
        {"5 ", 0, false},        {"5x", 0, false},       {"x", 0, false},
        {"1.5", 0, false},       {"99999999999999999999", 0, false},
    };
    for (const Case& c : cases) {
        bool ok = !c.ok;
        EXPECT_EQ(tovi_string(c.text).toInt(&ok), c.value) << c.text;
        EXPECT_EQ(ok, c.ok) << c.text;
        EXPECT_EQ(tovi_string(c.text).toInt(), c.value) << c.text;
    }
}

TEST(ToviStringCompare, TextsAndIntegers) {
    EXPECT_TRUE(tovi_string("1") == 1);
    EXPECT_TRUE(tovi_string("2") != 1);
    EXPECT_FALSE(tovi_string("x") == 0);  // not a number, even though toInt gives 0
    EXPECT_FALSE(tovi_string("") == 0);
    EXPECT_TRUE(tovi_string("Cancel") == "Cancel");
    EXPECT_TRUE(tovi_string("cancel") != "Cancel");
    EXPECT_TRUE("abc" == tovi_string("abc"));
    EXPECT_FALSE(tovi_string("abc") == tovi_string("abcd"));
    EXPECT_TRUE(tovi_string("NameSet_4").startsWith("NameSet_"));
    EXPECT_FALSE(tovi_string("NamesetName").startsWith("NameSet_"));
    EXPECT_FALSE(tovi_string("Name").startsWith("NameSet_"));
}

TEST(ToviStringConcatenation, AllForms) {
    const tovi_string a("UMDBright_");
    EXPECT_EQ(str(a + tovi_string("2")), "UMDBright_2");
    EXPECT_EQ(str(a + "3"), "UMDBright_3");
    EXPECT_EQ(str("Select_" + tovi_string("9")), "Select_9");
}

TEST(ToviStringArg, ReplacesEveryOccurrenceOfTheLowestMarker) {
    EXPECT_EQ(str(tovi_string("%2 %1 %1").arg("x")), "%2 x x");
    EXPECT_EQ(str(tovi_string("%2 %1").arg("a").arg("b")), "b a");
    EXPECT_EQ(str(tovi_string("Names_%1").arg(3, '\0', 0, 10)), "Names_3");
    EXPECT_EQ(str(tovi_string("no markers").arg("x")), "no markers");
    EXPECT_EQ(str(tovi_string("100% %0 %").arg("x")), "100% %0 %");
    EXPECT_EQ(str(tovi_string("%3 and %5").arg("a")), "a and %5");
}

TEST(ToviStringArg, ChainedFormRescansInsertedText) {
    // The single-value form works on the text as it stands, inserted text
    // included: this is why lines are filled in one pass instead.
    EXPECT_EQ(str(tovi_string("'%1' %2").arg("A%1B").arg("0")), "'A0B' %2");
}

TEST(ToviStringArg, OnePassFormNeverRescansValues) {
    EXPECT_EQ(str(tovi_string("RM %1 %2 %3 '%4' %5").arg({"12", "5", "37", "A%5B", "0"})),
              "RM 12 5 37 'A%5B' 0");
    EXPECT_EQ(str(tovi_string("%1=%2").arg({"%2", "%1"})), "%2=%1");
    // The lowest marker present takes the first value, as a chain would.
    EXPECT_EQ(str(tovi_string("%3-%7").arg({"a", "b"})), "a-b");
    EXPECT_EQ(str(tovi_string("%1 %2 %3").arg({"a"})), "a %2 %3");
    EXPECT_EQ(str(tovi_string("%1").arg({"a", "", "", ""})), "a");
    const std::string longValue(100, 'v');
    EXPECT_EQ(str(tovi_string("[%1]").arg({longValue.c_str()})), "[" + longValue + "]");
}

TEST(ToviStringSplit, AtTheFirstSeparator) {
    tovi_string left("stale"), right("stale");
    EXPECT_TRUE(tovi_string("text=Camera 1").split('=', left, right));
    EXPECT_EQ(str(left), "text");
    EXPECT_EQ(str(right), "Camera 1");
    EXPECT_TRUE(tovi_string("a=b=c").split('=', left, right));
    EXPECT_EQ(str(left), "a");
    EXPECT_EQ(str(right), "b=c");
    EXPECT_FALSE(tovi_string("no separator").split('=', left, right));
    EXPECT_EQ(str(left), "no separator");
    EXPECT_EQ(str(right), "");
    EXPECT_TRUE(tovi_string("=x").split('=', left, right));
    EXPECT_EQ(str(left), "");
    EXPECT_EQ(str(right), "x");
}

TEST(ToviStringSplit, OutputsMayAliasTheSource) {
    tovi_string text("name=value");
    tovi_string other;
    text.split('=', text, other);
    EXPECT_EQ(str(text), "name");
    EXPECT_EQ(str(other), "value");
}

}  // namespace
