#include "gesture/TwoHandReference.h"

#include <gtest/gtest.h>

#include <string>

namespace gesture {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(TwoHandReference, LevelHandsSetItOnTheirThirtyFirstFrame) {
    TwoHandReference ref;
    CaptureStdout();
    for (int i = 0; i < 30; ++i) EXPECT_EQ(ref.update(5000.0f, 4800.0f, 1100.0f, 69, -119), 0);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_FALSE(ref.isSet());
    CaptureStdout();
    EXPECT_EQ(ref.update(5000.0f, 4800.0f, 1100.0f, 69, -119), 1);
    EXPECT_EQ(GetCapturedStdout(), "\n>   Two hands : Reference = (5000.00, 4800.00, 900.00)\n");
    EXPECT_TRUE(ref.isSet());
    // Once set it stays, whatever the hands do.
    CaptureStdout();
    for (int i = 0; i < 40; ++i) EXPECT_EQ(ref.update(5100.0f, 4700.0f, 1000.0f, 0, 0), 0);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_FLOAT_EQ(ref.z(), 900.0f);
}

TEST(TwoHandReference, HandsNotLevelRetryEvery31FramesWithTheOldCandidate) {
    TwoHandReference ref;
    CaptureStdout();
    for (int i = 0; i < 62; ++i) EXPECT_EQ(ref.update(5000.0f, 4800.0f, 1100.0f, 70, 0), 0);
    const std::string zero = "\n>   Two hands : Reference = (0.00, 0.00, 0.00)\n";
    EXPECT_EQ(GetCapturedStdout(), zero + zero);
    EXPECT_FALSE(ref.isSet());

    CaptureStdout();
    for (int i = 0; i < 31; ++i) ref.update(5000.0f, 4800.0f, 1100.0f, 0, 120);
    EXPECT_EQ(GetCapturedStdout(), zero);
}

TEST(TwoHandReference, ClearingForgetsTheReferenceAndRestartsTheCount) {
    TwoHandReference ref;
    CaptureStdout();
    for (int i = 0; i < 31; ++i) ref.update(5000.0f, 4800.0f, 1100.0f, 0, 0);
    ref.clear();
    for (int i = 0; i < 30; ++i) ref.update(5000.0f, 4800.0f, 1100.0f, 0, 0);
    GetCapturedStdout();
    EXPECT_FALSE(ref.isSet());
    EXPECT_EQ(ref.frameCounter(), 30);
}

}  // namespace
}  // namespace gesture
