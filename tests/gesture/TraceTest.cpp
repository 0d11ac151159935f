// The trace's columns, read back as a script would, against the features the
// recognisers worked from in each frame of a scripted motion.
#include "gesture/Trace.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "gesture/GestureFeed.h"
#include "platform/RecordingDesktop.h"

namespace gesture {
namespace {

std::vector<std::string> split(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    for (std::string f; std::getline(in, f, ',');) fields.push_back(f);
    if (!line.empty() && line.back() == ',') fields.emplace_back();
    return fields;
}

struct Frame {
    GestureFeatures features;
    FrameDecisions decisions;
};

// A manager on a recording desktop with its cursor worker stopped.
std::unique_ptr<GestureFeed> loadedFeed(platform::Desktop& desktop) {
    const std::string config = testing::TempDir() + "trace_test.txt";
    std::ofstream(config) << "HAND_RIGHT 10 KEY_CLICK VK_RIGHT 0 0\n"
                             "TWO_HANDS_UP 5 KEY_CLICK U 0 0\n";
    auto feed = std::make_unique<GestureFeed>(desktop);
    feed->manager().router().mouse().cursor().stop();
    testing::internal::CaptureStdout();
    EXPECT_EQ(feed->manager().router().loadGestureConfig(config.c_str(), 640, 480), 0);
    testing::internal::GetCapturedStdout();
    return feed;
}

constexpr int kFrames = 80;

// Rest, a swipe right and back, then two hands that set their reference and
// are raised.
void feedMotion(GestureFeed& feed, std::vector<Frame>* frames) {
    FeedbackState state;
    const Point3f depth[3] = {};
    for (int i = 0; i < kFrames; ++i) {
        Point3f world[3] = {};
        int32_t count = 1;
        const auto k = static_cast<float>(i);
        const float x = i < 8 ? 0.0f : i < 13 ? 40.0f * (k - 7) : i < 18 ? 200 - 40 * (k - 12) : 0;
        world[0] = {x, 0.0f, 1000.0f};
        if (i >= 24) {
            count = 2;
            const float y = i >= 60 ? 60.0f : 0.0f;
            world[0] = {-150.0f, y, 1000.0f};
            world[1] = {150.0f, y, 1000.0f};
            world[2] = {0.0f, y, 1200.0f};
        }
        feed.feedHandPoints(depth, world, count, state);
        if (frames != nullptr) {
            frames->push_back({feed.manager().lastFeatures(), feed.manager().lastDecisions()});
        }
    }
}

TEST(Trace, ColumnsParseAndAgreeWithTheRecognisersFeatures) {
    platform::RecordingDesktop desktop;
    {
        // Without a sink nothing is noted.
        auto plain = loadedFeed(desktop);
        testing::internal::CaptureStdout();
        feedMotion(*plain, nullptr);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(plain->manager().lastDecisions().frame, 0u);
    }

    auto feed = loadedFeed(desktop);
    TraceWriter trace;
    feed->manager().setDecisionSink(&trace);
    std::vector<Frame> frames;
    testing::internal::CaptureStdout();
    feedMotion(*feed, &frames);
    std::stringstream out(testing::internal::GetCapturedStdout());

    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(out, line);) {
        if (line.rfind("trace,", 0) == 0) rows.push_back(split(line));
    }
    ASSERT_EQ(rows.size(), frames.size() + 1);
    const std::vector<std::string>& header = rows[0];
    const auto column = [&](const char* name) {
        for (size_t i = 0; i < header.size(); ++i) {
            if (header[i] == name) return i;
        }
        ADD_FAILURE() << "no column " << name;
        return size_t{0};
    };
    bool judgedRight = false;
    bool judgedUp = false;
    for (size_t k = 0; k < frames.size(); ++k) {
        const std::vector<std::string>& row = rows[k + 1];
        ASSERT_EQ(row.size(), header.size()) << "frame " << k;
        const GestureFeatures& f = frames[k].features;
        const FrameDecisions& d = frames[k].decisions;
        const auto number = [&](const char* name) { return std::stod(row[column(name)]); };
        SCOPED_TRACE("frame " + row[column("frame")]);
        EXPECT_EQ(number("frame"), static_cast<double>(d.frame));
        EXPECT_EQ(number("hands"), k >= 24 ? 2 : 1);
        EXPECT_EQ(number("valid"), f.valid);
        EXPECT_EQ(number("hold_state"), d.holdState);
        EXPECT_EQ(number("holding"), f.holding);
        EXPECT_EQ(number("stroke"), f.strokeClass);
        EXPECT_EQ(number("direction"), f.direction);
        EXPECT_EQ(number("ref_set"), d.referenceSet);
        EXPECT_NEAR(number("hold_dx"), f.holdDeltaX, 0.05);
        EXPECT_NEAR(number("hold_dy"), f.holdDeltaY, 0.05);
        EXPECT_NEAR(number("hold_dz"), f.holdDeltaZ, 0.05);
        EXPECT_NEAR(number("speed"), f.speed, 0.05);
        EXPECT_NEAR(number("hands_dx"), f.handsDeltaX, 0.05);
        EXPECT_NEAR(number("hands_dy"), f.handsDeltaY, 0.05);
        EXPECT_NEAR(number("ref_dy"), f.refDeltaY, 0.05);
        EXPECT_NEAR(number("ref_dz"), f.refDeltaZ, 0.05);
        const std::string& judged = row[column("judged")];
        judgedRight = judgedRight || judged.find("HAND_RIGHT=") != std::string::npos;
        judgedUp = judgedUp || judged.find("TWO_HANDS_UP=60/50/1") != std::string::npos;
    }
    EXPECT_TRUE(judgedRight);
    EXPECT_TRUE(judgedUp);
}

}  // namespace
}  // namespace gesture
