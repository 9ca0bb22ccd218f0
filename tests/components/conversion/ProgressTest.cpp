// SPDX-FileCopyrightText: the Quillory developers
// SPDX-License-Identifier: GPL-3.0-or-later

// What a conversion shows of its progress: never backwards across its passes, never 100 before
// the output is in place, and a stop that ends the conversion at the block it was asked in.
#include "components/conversion/Progress.h"

#include <gtest/gtest.h>

#include <vector>

using namespace quillory::conversion;

TEST(PercentTest, ShowsPassesInOrderAndHoldsTheEndBack) {
    std::vector<int> shown;
    const ProgressFn progress = [&](int percent) {
        shown.push_back(percent);
        return true;
    };
    Percent percent(progress);
    percent.set(40);
    percent.set(10); // the next pass starts lower
    percent.update(1, 2);
    percent.set(100); // a pass that is done, before its file is in place
    percent.update(5, 0);
    percent.done();
    EXPECT_EQ(shown, (std::vector<int>{40, 40, 50, 99, 99, 100}));

    const ProgressFn none;
    Percent quiet(none);
    EXPECT_NO_THROW(quiet.done()) << "no progress function means no one asks to stop";
}

TEST(PercentTest, AStopEndsTheConversionAsInterrupted) {
    int calls = 0;
    const ProgressFn stopAtTheThird = [&](int) { return ++calls < 3; };
    Percent percent(stopAtTheThird);
    percent.update(1, 10);
    percent.update(2, 10);
    EXPECT_THROW(percent.update(3, 10), Interrupted);
    EXPECT_EQ(calls, 3);
}
