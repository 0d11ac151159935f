#include "input/CursorThread.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <system_error>

#include "kalman/CursorSmoother.h"

CursorThread::CursorThread(platform::Desktop& desktop)
    : desktop_(desktop),
      queue_(std::make_unique<PositionQueue>()),
      smoother_(std::make_unique<CursorSmoother>()) {}

CursorThread::~CursorThread() {
    stop();
}

void CursorThread::start(const CursorSettings& settings) {
    if (state_ == State::RUNNING) join();
    settings_ = settings;
    lastSentX_ = targetX_ = settings.screenWidth / 2;
    lastSentY_ = targetY_ = settings.screenHeight / 2;
    if (state_ == State::STOPPED) return;
    stopRequested_ = false;
    try {
        thread_ = std::thread(&CursorThread::workerLoop, this);
        state_ = State::RUNNING;
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "cannot start the cursor thread: %s; the cursor will not move\n",
                     e.what());
        state_ = State::STOPPED;
        queue_.reset();
        smoother_.reset();
    }
}

void CursorThread::moveBy(int32_t dx, int32_t dy) {
    const auto clamp = [](int64_t v, int32_t size) {
        if (v < 0) return int32_t{0};
        if (v > size - 1) return size - 1 < 0 ? int32_t{0} : size - 1;
        return static_cast<int32_t>(v);
    };
    targetX_ = clamp(static_cast<int64_t>(targetX_) + dx, settings_.screenWidth);
    targetY_ = clamp(static_cast<int64_t>(targetY_) + dy, settings_.screenHeight);
    if (state_ != State::RUNNING) return;
    queue_->push(std::make_unique<PositionItem>(PositionItem{targetX_, targetY_, 0}));
    ++pushed_;
}

void CursorThread::join() {
    stopRequested_ = true;
    thread_.join();
    state_ = State::IDLE;
}

void CursorThread::stop() {
    if (state_ == State::RUNNING) join();
    state_ = State::STOPPED;
    queue_.reset();
    smoother_.reset();
}

std::size_t CursorThread::queued() const {
    return queue_ ? queue_->size() : 0;
}

void CursorThread::drain() {
    // The worker usually takes a target within microseconds of its push:
    // yield first, and sleep only when it is kept from running.
    for (int spins = 0;
         state_ == State::RUNNING && taken_.load(std::memory_order_acquire) < pushed_; ++spins) {
        if (spins < 64) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
}

int32_t CursorThread::holdForLatest() {
    drain();
    return holdFlag.load();
}

void CursorThread::consumeHold() {
    // Only the pulse that was read: a newer sample may have cleared it already.
    int32_t pulse = 1;
    holdFlag.compare_exchange_strong(pulse, 0);
}

void CursorThread::workerLoop() {
    PositionItem item;
    while (!stopRequested_.load()) {
        if (queue_->pop(item)) {
            process(item);
            taken_.fetch_add(1, std::memory_order_release);
        } else {
            // Idle: at most 1 ms, and a new target ends the wait at once.
            queue_->waitForItem(std::chrono::milliseconds(1));
        }
    }
}

void CursorThread::process(const PositionItem& item) {
    smoother_->smoothPosition(CursorPosition{item.x, item.y, item.z});
    if (smoother_->count() == 1) {
        smoothedX_ = smoother_->output().x;
        smoothedY_ = smoother_->output().y;
    }
    const bool changed = item.x != previousX_ || item.y != previousY_;
    if (changed) {
        idleCountdown_ = 10;
        moving_ = 1;
    } else if (idleCountdown_ > 0) {
        --idleCountdown_;
        moving_ = 1;
    } else {
        moving_ = 0;
        idleCountdown_ = 0;
    }
    previousX_ = item.x;
    previousY_ = item.y;
    const int32_t screenWidth = settings_.screenWidth;
    const int32_t screenHeight = settings_.screenHeight;
    if (moving_ == 1 && screenWidth > 0 && screenHeight > 0) {
        platform::MouseInput move;
        move.dx = static_cast<int32_t>(static_cast<float>(smoothedX_) /
                                       static_cast<float>(screenWidth) * 65535.0f);
        move.dy = static_cast<int32_t>(static_cast<float>(smoothedY_) /
                                       static_cast<float>(screenHeight) * 65535.0f);
        move.flags = platform::MOUSEEVENTF_MOVE | platform::MOUSEEVENTF_VIRTUALDESK |
                     platform::MOUSEEVENTF_ABSOLUTE;
        desktop_.sendMouse(move);
        lastSentX_ = smoothedX_;
        lastSentY_ = smoothedY_;
    }
    updateHold(lastSentX_, lastSentY_);
}

void CursorThread::clearSamples() {
    sampleCount_ = 0;
    sumX_ = sumY_ = sumXX_ = sumYY_ = 0.0;
}

void CursorThread::updateHold(int32_t x, int32_t y) {
    ++sampleCount_;
    sumX_ += x;
    sumY_ += y;
    sumXX_ += static_cast<double>(x) * x;
    sumYY_ += static_cast<double>(y) * y;
    const double n = sampleCount_;
    const double meanX = sumX_ / n;
    const double meanY = sumY_ / n;
    // Population variance of the samples; never negative despite rounding.
    const double varX = std::max(0.0, sumXX_ / n - meanX * meanX);
    const double varY = std::max(0.0, sumYY_ / n - meanY * meanY);
    if (static_cast<double>(settings_.holdTolerance) >= (varX + varY) * 0.5) {
        if (sampleCount_ < settings_.holdFrames) {
            holdFlag.store(0);
            return;
        }
        clearSamples();
        holdFlag.store(1);
        return;
    }
    clearSamples();
    holdFlag.store(0);
}
