// The cursor worker: what it sends for the targets it is given, its hold pulse,
// and how it stops. Expected positions are the Kalman smoother's outputs.
#include "input/CursorThread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "input/PositionQueue.h"
#include "platform/RecordingDesktop.h"

using namespace platform;

namespace {

using Point = std::pair<int32_t, int32_t>;
using Points = std::vector<Point>;

// The settings the screen mapping gives a 1920 x 1080 screen.
void configure(CursorThread& worker) {
    worker.start(CursorSettings{1920, 1080, 30, 10});
}

class Cursor : public ::testing::Test {
  protected:
    Cursor() { configure(worker); }

    // The absolute moves sent so far, once the worker has taken every target.
    Points moves() {
        worker.drain();
        Points out;
        for (const ScreenPoint& p : desktop.moves()) out.emplace_back(p.x, p.y);
        return out;
    }
    // Queues the current target again and waits until the worker has taken it.
    void repeat() {
        worker.moveBy(0, 0);
        worker.drain();
    }

    RecordingDesktop desktop{{1920, 1080}};
    CursorThread worker{desktop};
};

TEST_F(Cursor, TargetsAreSmoothedInTheOrderTheyWereQueued) {
    for (const Point& p : Points{{100, 200}, {110, 200}, {120, 205}, {135, 207}, {150, 215}}) {
        worker.moveTo(p.first, p.second);
    }
    EXPECT_EQ(moves(), (Points{{100, 200}, {109, 200}, {118, 204}, {132, 206}, {148, 213}}));
    const MouseInput last = desktop.records().back().mouse;
    EXPECT_EQ(last.flags, 0xC001u);
    EXPECT_EQ(last.dx, static_cast<int32_t>(148.0f / 1920.0f * 65535.0f));
    EXPECT_EQ(last.mouseData, 0);
    EXPECT_EQ(last.extraInfo, 0u);
    EXPECT_EQ((Point{worker.lastSent().x, worker.lastSent().y}), (Point{148, 213}));
}

TEST(PositionQueue, IsFirstInFirstOutAcrossThreads) {
    PositionQueue queue;
    constexpr int kItems = 20000;
    std::thread producer([&] {
        for (int i = 0; i < kItems; ++i) {
            queue.push(std::make_unique<PositionItem>(PositionItem{i, -i, 0}));
        }
    });
    PositionItem item;
    for (int expected = 0; expected < kItems;) {
        if (!queue.pop(item)) continue;
        ASSERT_EQ(item.x, expected);
        ASSERT_EQ(item.y, -expected);
        ++expected;
    }
    producer.join();
    EXPECT_FALSE(queue.pop(item));
}

TEST_F(Cursor, MovesGoOnForTenRepeatsAfterAChangeThenStop) {
    worker.moveTo(100, 200);
    for (int i = 0; i < 10; ++i) worker.moveBy(0, 0);
    EXPECT_EQ(moves(), Points(11, Point{100, 200}));
    worker.moveBy(0, 0);  // the 11th repeat
    worker.moveBy(0, 0);
    EXPECT_EQ(moves().size(), 11u);
    worker.moveBy(5, 0);
    EXPECT_EQ(moves().size(), 12u);
}

TEST_F(Cursor, HoldPulseOnTheThirtiethStillSampleOnly) {
    worker.moveTo(100, 200);
    worker.drain();
    for (int sample = 2; sample <= 61; ++sample) {
        repeat();
        ASSERT_EQ(worker.holdFlag.load(), sample == 30 || sample == 60 ? 1 : 0) << sample;
        ASSERT_EQ(worker.sampleCount(), sample % 30) << sample;
    }
}

TEST_F(Cursor, ALargeSpreadClearsTheSamplesEvenAfterTwentyNineQuietOnes) {
    worker.moveTo(100, 200);
    for (int i = 0; i < 28; ++i) worker.moveBy(0, 0);
    worker.drain();
    ASSERT_EQ(worker.sampleCount(), 29);
    worker.moveBy(400, 0);
    worker.drain();
    EXPECT_EQ(worker.sampleCount(), 0);
    EXPECT_EQ(worker.holdFlag.load(), 0);
}

TEST(CursorHold, TheSpreadLimitIsHalfTheSummedVariances) {
    // A no-hand target resends the last position and the next target restarts
    // the smoother, so the samples are exactly (100, 200) twice and then
    // (100 + dx, 200 + dy): half the summed variances is (dx² + dy²) / 9,
    // against a tolerance of 10. Exactly at the tolerance the samples stay.
    const std::pair<Point, int> cases[] = {{{9, 3}, 3}, {{10, 0}, 0}};
    for (const auto& [step, samples] : cases) {
        RecordingDesktop desktop;
        CursorThread worker(desktop);
        configure(worker);
        worker.moveTo(100, 200);
        worker.moveBy(-5000, -5000);
        worker.moveTo(100 + step.first, 200 + step.second);
        worker.drain();
        EXPECT_EQ(worker.sampleCount(), samples) << step.first;
    }
}

TEST_F(Cursor, ASmallStepWithinTheToleranceStillCompletesTheHold) {
    worker.moveTo(1000, 600);
    for (int i = 0; i < 28; ++i) worker.moveBy(0, 0);
    worker.drain();
    ASSERT_EQ(worker.sampleCount(), 29);
    worker.moveBy(1, 0);
    worker.drain();
    EXPECT_EQ(worker.holdFlag.load(), 1);
}

TEST_F(Cursor, MoveByClampsTheTargetToTheScreen) {
    worker.moveBy(-5000, 0);
    EXPECT_EQ((Point{worker.target().x, worker.target().y}), (Point{0, 540}));
    worker.moveBy(5000, 5000);
    EXPECT_EQ((Point{worker.target().x, worker.target().y}), (Point{1919, 1079}));
    worker.moveBy(0, -5000);
    EXPECT_EQ((Point{worker.target().x, worker.target().y}), (Point{1919, 0}));
    EXPECT_EQ(moves().size(), 3u);
}

TEST_F(Cursor, NoHandResendsTheLastPositionAndTheNextTargetRestartsTheSmoother) {
    worker.moveTo(100, 200);
    worker.moveTo(110, 200);
    worker.moveBy(-5000, -5000);  // the target (0, 0): no hand
    worker.moveBy(50, 60);        // a new track starts where it is given
    EXPECT_EQ(moves(), (Points{{100, 200}, {109, 200}, {109, 200}, {50, 60}}));
}

// A backend whose moves block until the test opens the gate, so that targets
// pile up behind the first one.
class GatedDesktop final : public Desktop {
  public:
    void sendKey(const KeyInput&) override {}
    void sendMouse(const MouseInput&) override {
        std::unique_lock lock(mutex_);
        ++moves_;
        changed_.notify_all();
        changed_.wait(lock, [&] { return open_; });
    }
    ScreenPoint cursorPos() override { return {}; }
    ScreenSize screenSize() override { return {1920, 1080}; }
    void sleepMs(int) override {}

    void waitForMove() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return moves_ > 0; });
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    int moves() {
        std::lock_guard lock(mutex_);
        return moves_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int moves_ = 0;
    bool open_ = false;
};

TEST(CursorStop, StopsCleanlyWithTargetsStillQueued) {
    GatedDesktop desktop;
    CursorThread worker(desktop);
    configure(worker);
    for (int i = 0; i < 100; ++i) worker.moveBy(1, 0);
    desktop.waitForMove();
    EXPECT_EQ(worker.queued(), 99u);
    std::thread opener([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        desktop.open();
    });
    worker.stop();
    opener.join();
    EXPECT_LT(desktop.moves(), 100);
    EXPECT_FALSE(worker.running());
    EXPECT_EQ(worker.queued(), 0u);
    // Afterwards the target still follows, nothing is queued, and stopping again is harmless.
    worker.moveBy(10, 0);
    EXPECT_EQ(worker.target().x, 960 + 110);
    worker.stop();
}

}  // namespace
