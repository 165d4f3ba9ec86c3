#include "tovi_stringlist.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> items(tovi_stringlist& list) {
    std::vector<std::string> out;
    for (const tovi_string& item : list) {
        out.emplace_back(item.data());
    }
    return out;
}

TEST(ToviStringList, SplitsAtEverySeparatorKeepingEmptyItems) {
    tovi_stringlist list(tovi_string("alm_1,alm_2,,alm_4,"), ',');
    EXPECT_EQ(items(list), (std::vector<std::string>{"alm_1", "alm_2", "", "alm_4", ""}));
    tovi_stringlist empty(tovi_string(""), ',');
    EXPECT_EQ(empty.count(), 0u);
    tovi_stringlist one("only", ',');
    EXPECT_EQ(items(one), std::vector<std::string>{"only"});
}

TEST(ToviStringList, AppendsJoinsAndCopies) {
    tovi_stringlist list;
    EXPECT_EQ(std::string(list.toString('\n').data()), "");
    for (int i = 0; i < 10; ++i) {
        list << tovi_string(i, '\0', 0, 10);
    }
    EXPECT_EQ(std::string(list.toString(',').data()), "0,1,2,3,4,5,6,7,8,9");
    tovi_stringlist copy(list);
    copy << copy[0];  // appending one of its own items while it grows
    list = copy;
    EXPECT_EQ(std::string(list.toString(',').data()), "0,1,2,3,4,5,6,7,8,9,0");
    tovi_stringlist single;
    single << "myParam=x";
    EXPECT_EQ(std::string(single.toString('\n').data()), "myParam=x");
}

}  // namespace
