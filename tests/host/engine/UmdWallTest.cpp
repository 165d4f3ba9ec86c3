#include <gtest/gtest.h>

#include "ChangeFeed.h"
#include "DeviceBus.h"
#include "DeviceCatalog.h"
#include "EventLog.h"
#include "NameSeed.h"
#include "NotificationQueue.h"
#include "SqliteNameStore.h"
#include "TempFolder.h"
#include "UmdWall.h"

namespace panelhost {
namespace {

TEST(UmdWallSlots, OnlyWholeNumbersInRangeSelectASetOrALevel) {
    EXPECT_EQ(UmdWall::namesetOf("0"), 0);
    EXPECT_EQ(UmdWall::namesetOf("9"), 9);
    EXPECT_EQ(UmdWall::namesetOf("05"), 5);
    for (const char* text : {"", "10", "-1", " 5", "5 ", "x", "+5", "1234"}) {
        EXPECT_EQ(UmdWall::namesetOf(text), std::nullopt) << text;
    }
    EXPECT_EQ(UmdWall::brightnessOf("1"), 1);
    EXPECT_EQ(UmdWall::brightnessOf("3"), 3);
    for (const char* text : {"0", "4", "", "2x", "-2"}) {
        EXPECT_EQ(UmdWall::brightnessOf(text), 0) << text;
    }
}

TEST(UmdWallSlots, EachSetHasItsDatabase) {
    EXPECT_STREQ(UmdWall::sourceOf(0).device, UmdWall::kRouter);
    EXPECT_EQ(UmdWall::sourceOf(0).database, 0);
    EXPECT_STREQ(UmdWall::sourceOf(9).device, UmdWall::kRouter);
    EXPECT_EQ(UmdWall::sourceOf(9).database, 2);
    for (int set = 1; set <= 8; ++set) {
        EXPECT_STREQ(UmdWall::sourceOf(set).device, UmdWall::kNamesDriver);
        EXPECT_EQ(UmdWall::sourceOf(set).database, set);
    }
}

class UmdWallRead : public ::testing::Test {
  protected:
    TempFolder folder_;
    DeviceCatalog catalog_ = DeviceCatalog::defaults();
    SqliteNameStore store_{folder_.path() / "names.db", NameSeed::forCatalog(catalog_)};
    NotificationQueue queue_;
    ChangeFeed feed_;
    EventLog log_{100};
    DeviceBus bus_{catalog_, store_, queue_, feed_, log_};

    int number(const char* name) const { return catalog_.byName(name)->number; }
};

TEST_F(UmdWallRead, ShowsTheSelectedSetAtTheReportedBrightness) {
    const int tally = number(UmdWall::kTally);
    const int names = number(UmdWall::kNamesDriver);
    ASSERT_TRUE(bus_.writeSlot("test", tally, UmdWall::kNamesetSlot, "5").ok());
    ASSERT_TRUE(bus_.writeSlot("test", tally, UmdWall::kBrightnessSlot, "1").ok());
    ASSERT_TRUE(bus_.writeName("test", names, 5, 37, "VT 37").ok());

    const UmdWall wall = UmdWall::read(bus_);
    EXPECT_EQ(wall.nameset, 5);
    EXPECT_EQ(wall.brightness, 1);
    EXPECT_EQ(wall.names[36], "VT 37");
    EXPECT_EQ(wall.names[0], *bus_.readName(names, 5, 1));
    EXPECT_TRUE(wall.shows(names, 5));
    EXPECT_FALSE(wall.shows(names, 4));
    EXPECT_FALSE(wall.shows(number(UmdWall::kRouter), 5));
}

TEST_F(UmdWallRead, SetNineIsTheRoutersSecondListAndAnUnreadableSlotIsSetZero) {
    const int tally = number(UmdWall::kTally);
    const int router = number(UmdWall::kRouter);
    ASSERT_TRUE(bus_.writeSlot("test", tally, UmdWall::kNamesetSlot, "9").ok());
    ASSERT_TRUE(bus_.writeName("test", router, 2, 128, "MV 128").ok());
    EXPECT_EQ(UmdWall::read(bus_).names[127], "MV 128");
    EXPECT_TRUE(UmdWall::read(bus_).shows(router, 2));

    ASSERT_TRUE(bus_.writeSlot("test", tally, UmdWall::kNamesetSlot, "twelve").ok());
    ASSERT_TRUE(bus_.writeSlot("test", tally, UmdWall::kBrightnessSlot, "7").ok());
    const UmdWall wall = UmdWall::read(bus_);
    EXPECT_EQ(wall.nameset, 0);
    EXPECT_EQ(wall.brightness, 0);
    EXPECT_EQ(wall.names[0], *bus_.readName(router, 0, 1));
}

}  // namespace
}  // namespace panelhost
