// The hand-over from the main thread to the cursor worker: a first-in,
// first-out queue of cursor targets behind one mutex, held for one push or
// one pop at a time.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>

class Lock {
  public:
    Lock() = default;
    virtual ~Lock() = default;
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }

  protected:
    std::mutex mutex_;
};

struct PositionItem {
    int32_t x = 0;
    int32_t y = 0;
    int32_t z = 0;  // always 0; carried along for the smoother
};

class PositionQueue : public Lock {
  public:
    ~PositionQueue() override = default;

    void push(std::unique_ptr<PositionItem> item);
    // Copies the front item and removes it; false when the queue is empty.
    bool pop(PositionItem& out);
    // Waits until an item is queued or `timeout` has passed (the worker's
    // idle wait: a new target wakes it at once).
    void waitForItem(std::chrono::microseconds timeout);
    std::size_t size();

  private:
    std::deque<std::unique_ptr<PositionItem>> items_;
    std::condition_variable queued_;
};
