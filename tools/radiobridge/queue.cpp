// SPDX-License-Identifier: MIT
// The bounded request queue. Every member takes the one mutex; waiters are
// woken by notify after the state changed under it.
#include "queue.h"

namespace radiobridge {

RequestQueue::Push RequestQueue::push(Request request) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return Push::kClosed;
    if (requests_.size() >= capacity_) return Push::kFull;
    requests_.push_back(std::move(request));
  }
  ready_.notify_one();
  return Push::kQueued;
}

void RequestQueue::askRepublish() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    republish_ = true;
  }
  ready_.notify_one();
}

RequestQueue::Wake RequestQueue::wait(Clock::time_point deadline, Request &request) {
  std::unique_lock<std::mutex> lock(mutex_);
  const bool woken = ready_.wait_until(
      lock, deadline, [this] { return closed_ || republish_ || !requests_.empty(); });
  if (!woken) return Wake::kTimeout;
  if (closed_) return Wake::kClosed;
  if (republish_) {
    republish_ = false;
    return Wake::kRepublish;
  }
  request = std::move(requests_.front());
  requests_.pop_front();
  return Wake::kRequest;
}

void RequestQueue::close() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  ready_.notify_all();
}

bool RequestQueue::closed() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return closed_;
}

std::vector<Request> RequestQueue::drain() {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Request> left(std::make_move_iterator(requests_.begin()),
                            std::make_move_iterator(requests_.end()));
  requests_.clear();
  return left;
}

}  // namespace radiobridge
