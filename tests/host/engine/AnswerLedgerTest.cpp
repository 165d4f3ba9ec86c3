#include <gtest/gtest.h>

#include <cstring>

#include "AnswerLedger.h"

using panelhost::AnswerLedger;

TEST(AnswerLedger, AnIssuedAnswerIsReleasedOnce) {
    AnswerLedger ledger;
    char* answer = ledger.issue(1, "Camera 1", "RN 12 1 1");
    EXPECT_STREQ(answer, "Camera 1");
    EXPECT_EQ(ledger.outstandingCount(), 1u);
    EXPECT_EQ(ledger.release(answer), AnswerLedger::Release::Released);
    EXPECT_EQ(ledger.outstandingCount(), 0u);
    EXPECT_EQ(ledger.release(answer), AnswerLedger::Release::AlreadyReleased);
}

TEST(AnswerLedger, UnknownPointersAreToldApart) {
    AnswerLedger ledger;
    static char elsewhere[] = "x";
    EXPECT_EQ(ledger.release(elsewhere), AnswerLedger::Release::Unknown);
}

TEST(AnswerLedger, AnswersNotHandedBackAreReportedOnceAndReclaimed) {
    AnswerLedger ledger;
    ledger.issue(1, "57", "SD 'CTA Tally Infodriver'");
    char* other = ledger.issue(2, "x", "TG '1' 'A' 'text'");

    const auto unreported = ledger.takeUnreported(1);
    ASSERT_EQ(unreported.size(), 1u);
    EXPECT_EQ(unreported[0].command, "SD 'CTA Tally Infodriver'");
    EXPECT_TRUE(ledger.takeUnreported(1).empty());

    const auto reclaimed = ledger.reclaim(1);
    ASSERT_EQ(reclaimed.size(), 1u);
    EXPECT_EQ(reclaimed[0].instance, 1);
    EXPECT_EQ(ledger.outstandingCount(), 1u);
    EXPECT_EQ(ledger.release(other), AnswerLedger::Release::Released);
}
