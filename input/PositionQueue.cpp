#include "input/PositionQueue.h"

void PositionQueue::push(std::unique_ptr<PositionItem> item) {
    {
        std::lock_guard guard(*this);
        items_.push_back(std::move(item));
    }
    queued_.notify_one();
}

void PositionQueue::waitForItem(std::chrono::microseconds timeout) {
    std::unique_lock guard(mutex_);
    queued_.wait_for(guard, timeout, [this] { return !items_.empty(); });
}

bool PositionQueue::pop(PositionItem& out) {
    std::lock_guard guard(*this);
    if (items_.empty()) return false;
    out = *items_.front();
    items_.pop_front();
    return true;
}

std::size_t PositionQueue::size() {
    std::lock_guard guard(*this);
    return items_.size();
}
