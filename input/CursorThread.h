// The cursor worker. The main thread moves a running cursor target with
// moveBy and queues each new target; the worker smooths the targets with the
// Kalman cursor model, moves the cursor with absolute moves while the target
// keeps changing, and raises a one-sample hold pulse when the cursor has
// stayed still for holdFrames samples.
//
// A new worker is idle: start(settings) gives it the screen and the hold
// detection, then starts its thread, so the settings are in place before
// anything is queued and never change under a running thread. stop() asks
// the worker to finish (the loop looks at the request before each pop) and
// joins it, so it never ends while holding the queue's lock or inside the
// smoother; a stopped worker stays stopped (start only takes the settings,
// and the target still follows moveBy).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "input/PositionQueue.h"
#include "platform/Desktop.h"

class CursorSmoother;

// What the screen mapping gives the worker.
struct CursorSettings {
    int32_t screenWidth = 0;
    int32_t screenHeight = 0;
    int32_t holdFrames = 30;
    int32_t holdTolerance = 10;
};

class CursorThread {
  public:
    explicit CursorThread(platform::Desktop& desktop);
    ~CursorThread();
    CursorThread(const CursorThread&) = delete;
    CursorThread& operator=(const CursorThread&) = delete;

    // Main thread: takes `settings`, puts the target and the last sent
    // position at the screen's centre and starts the worker. A running
    // worker is joined first and started again with the new settings (what
    // it had queued stays queued).
    void start(const CursorSettings& settings);
    // Main thread: moves the running target by (dx, dy), clamped to the
    // screen, and queues it while the worker runs.
    void moveBy(int32_t dx, int32_t dy);
    // Main thread: makes (x, y) the running target and queues it.
    void moveTo(int32_t x, int32_t y) { moveBy(x - targetX_, y - targetY_); }
    // Stops and joins the worker for good; queued targets are discarded.
    // Idempotent.
    void stop();
    // Blocks until the worker has taken every queued target (tests, the hold
    // read below).
    void drain();
    // Main thread: the hold flag for the latest queued target. Waits until
    // the worker has taken every queued target first, so that a pulse is
    // neither missed nor seen late when the worker falls behind (a busy
    // machine, a slow display server) and then takes several targets back
    // to back; the frames then see the pulses they would see if the worker
    // kept pace.
    int32_t holdForLatest();
    // The main thread has acted on the current hold pulse: it is not seen
    // again, even when no sample comes before the next read (the hand went
    // on to a gesture and no targets were queued meanwhile).
    void consumeHold();

    // 1 on the sample that completed a hold, until the next sample or until
    // the main thread consumes it.
    std::atomic<int32_t> holdFlag{0};

    const CursorSettings& settings() const { return settings_; }
    bool running() const { return state_ == State::RUNNING; }
    // Targets queued and not yet taken (0 once stopped: the queue is gone).
    std::size_t queued() const;
    // The running target (main thread).
    platform::ScreenPoint target() const { return {targetX_, targetY_}; }
    // The last position sent; read it only after drain() or stop().
    platform::ScreenPoint lastSent() const { return {lastSentX_, lastSentY_}; }
    // The number of current hold samples; read it only after drain().
    int32_t sampleCount() const { return sampleCount_; }

  private:
    enum class State : uint8_t { IDLE, RUNNING, STOPPED };

    void join();
    void workerLoop();
    void process(const PositionItem& item);
    void updateHold(int32_t x, int32_t y);
    void clearSamples();

    platform::Desktop& desktop_;
    std::unique_ptr<PositionQueue> queue_;
    std::unique_ptr<CursorSmoother> smoother_;
    std::thread thread_;
    State state_ = State::IDLE;
    CursorSettings settings_;  // fixed while the worker runs
    std::atomic<bool> stopRequested_{false};
    std::atomic<int64_t> taken_{0};
    int64_t pushed_ = 0;
    int32_t targetX_ = 0;  // main thread only
    int32_t targetY_ = 0;

    // Worker only while it runs.
    int32_t lastSentX_ = 0;
    int32_t lastSentY_ = 0;
    int32_t moving_ = 0;
    int32_t previousX_ = 0;
    int32_t previousY_ = 0;
    int32_t idleCountdown_ = 0;
    int32_t smoothedX_ = 0;
    int32_t smoothedY_ = 0;
    // Hold samples, kept as their count and sums: the spread test needs only
    // the mean and the variance, and holdFrames has no upper bound.
    int32_t sampleCount_ = 0;
    double sumX_ = 0.0;
    double sumY_ = 0.0;
    double sumXX_ = 0.0;
    double sumYY_ = 0.0;
};
