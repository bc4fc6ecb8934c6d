#include "simulator/event_queue.h"

namespace vantorel::sim {

void EventQueue::Push(std::string reply, Clock::time_point due) {
    {
        std::lock_guard lock(mutex_);
        events_.emplace(std::make_pair(due, nextSeq_++), std::move(reply));
    }
    changed_.notify_all();
}

std::optional<std::string> EventQueue::Take(Clock::time_point deadline) {
    std::unique_lock lock(mutex_);
    ++waiting_;
    std::optional<std::string> taken;
    while (!stopped_) {
        const Clock::time_point now = Clock::now();
        if (!events_.empty() && events_.begin()->first.first <= now) {
            taken = std::move(events_.begin()->second);
            events_.erase(events_.begin());
            break;
        }
        if (now >= deadline) break;
        Clock::time_point wake = deadline;
        if (!events_.empty() && events_.begin()->first.first < wake) wake = events_.begin()->first.first;
        changed_.wait_until(lock, wake);
    }
    --waiting_;
    return taken;
}

void EventQueue::Clear() {
    std::lock_guard lock(mutex_);
    events_.clear();
}

void EventQueue::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
}

size_t EventQueue::Queued() const {
    std::lock_guard lock(mutex_);
    return events_.size();
}

int EventQueue::Waiting() const {
    std::lock_guard lock(mutex_);
    return waiting_;
}

}  // namespace vantorel::sim
