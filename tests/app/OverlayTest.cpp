#include "app/Overlay.h"

#include <gtest/gtest.h>

using gesture::FeedbackState;
using gesture::Point3f;

TEST(OverlayAnchors, OneHandAnchorFollowsOnlyWhileTheHandHolds) {
    OverlayAnchors anchors;
    Point3f screen[20];
    FeedbackState holding;
    holding.anchorFollows = 1;
    screen[0] = {100, 200, 1000};
    updateAnchors(1, holding, screen, anchors);
    EXPECT_EQ(anchors.oneHand[0].x, 100);
    screen[0] = {300, 250, 1000};
    updateAnchors(1, FeedbackState{}, screen, anchors);
    EXPECT_EQ(anchors.oneHand[0].x, 100);  // stays where the hand last held still
    updateAnchors(0, FeedbackState{}, screen, anchors);
    EXPECT_EQ(anchors.oneHand[0].x, 100);  // no hand: the one-hand anchor stays
}

TEST(OverlayAnchors, TwoHandAnchorsFreezeAtTheReferenceAndClearWithoutHands) {
    OverlayAnchors anchors;
    Point3f screen[20];
    screen[0] = {100, 200, 1000};
    screen[1] = {400, 210, 1000};
    FeedbackState reference;
    reference.doubleBeep = 1;
    updateAnchors(2, reference, screen, anchors);
    screen[0] = {50, 50, 1000};
    updateAnchors(2, FeedbackState{}, screen, anchors);
    EXPECT_EQ(anchors.twoHands[0].x, 100);
    EXPECT_EQ(anchors.twoHands[1].x, 400);
    updateAnchors(3, reference, screen, anchors);  // three hands: nothing moves
    EXPECT_EQ(anchors.twoHands[0].x, 100);
    updateAnchors(0, FeedbackState{}, screen, anchors);
    EXPECT_EQ(anchors.twoHands[0].x, 0);
    EXPECT_EQ(anchors.twoHands[1].y, 0);
}
