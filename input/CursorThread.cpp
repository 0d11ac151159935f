#include "input/CursorThread.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <system_error>

#include "kalman/CursorSmoother.h"

CursorThread::CursorThread(platform::Desktop& desktop)
    : queue(std::make_unique<PositionQueue>()),
      smoother(std::make_unique<CursorSmoother>()),
      desktop_(desktop) {
    try {
        thread = std::thread(&CursorThread::workerLoop, this);
        running = 1;
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "cannot start the cursor thread: %s; the cursor will not move\n",
                     e.what());
        running = 0;
    }
}

CursorThread::~CursorThread() {
    stop();
}

void CursorThread::moveBy(int32_t dx, int32_t dy) {
    const auto clamp = [](int64_t v, int32_t size) {
        if (v < 0) return int32_t{0};
        if (v > size - 1) return size - 1 < 0 ? int32_t{0} : size - 1;
        return static_cast<int32_t>(v);
    };
    targetX = clamp(static_cast<int64_t>(targetX) + dx, screenWidth);
    targetY = clamp(static_cast<int64_t>(targetY) + dy, screenHeight);
    if (!queue) return;
    queue->push(std::make_unique<PositionItem>(PositionItem{targetX, targetY, 0}));
    ++pushed_;
}

void CursorThread::stop() {
    if (running == 1) {
        stopRequested_ = true;
        thread.join();
        running = 0;
    }
    queue.reset();
    smoother.reset();
}

void CursorThread::drain() {
    while (running == 1 && taken_.load(std::memory_order_acquire) < pushed_) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

void CursorThread::consumeHold() {
    // Only the pulse that was read: a newer sample may have cleared it already.
    int32_t pulse = 1;
    holdFlag.compare_exchange_strong(pulse, 0);
}

void CursorThread::workerLoop() {
    PositionItem item;
    while (!stopRequested_.load()) {
        if (queue->pop(item)) {
            process(item);
            taken_.fetch_add(1, std::memory_order_release);
        } else {
            // Idle: at most 1 ms, and a new target ends the wait at once.
            queue->waitForItem(std::chrono::milliseconds(1));
        }
    }
}

void CursorThread::process(const PositionItem& item) {
    smoother->smoothPosition(CursorPosition{item.x, item.y, item.z});
    if (smoother->count() == 1) {
        smoothedX_ = smoother->output().x;
        smoothedY_ = smoother->output().y;
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
    if (moving_ == 1 && screenWidth > 0 && screenHeight > 0) {
        platform::MouseInput move;
        move.dx = static_cast<int32_t>(static_cast<float>(smoothedX_) /
                                       static_cast<float>(screenWidth) * 65535.0f);
        move.dy = static_cast<int32_t>(static_cast<float>(smoothedY_) /
                                       static_cast<float>(screenHeight) * 65535.0f);
        move.flags = platform::MOUSEEVENTF_MOVE | platform::MOUSEEVENTF_VIRTUALDESK |
                     platform::MOUSEEVENTF_ABSOLUTE;
        desktop_.sendMouse(move);
        lastSentX = smoothedX_;
        lastSentY = smoothedY_;
    }
    updateHold(lastSentX, lastSentY);
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
    if (static_cast<double>(holdTolerance) >= (varX + varY) * 0.5) {
        if (sampleCount_ < holdFrames) {
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
