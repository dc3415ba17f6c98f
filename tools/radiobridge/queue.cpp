// SPDX-License-Identifier: MIT
// The fair request queue. Every member takes the one mutex; waiters are
// woken by notify after the state changed under it. A requester is in
// `turns_` exactly while it has requests waiting: it joins at the back with
// its first one and goes to the back again after each request taken while
// others remain.
#include "queue.h"

#include <algorithm>
#include <iterator>

namespace radiobridge {
namespace {

constexpr std::size_t kShares = 4;  // one requester may fill a quarter of the queue

}  // namespace

RequestQueue::RequestQueue(std::size_t capacity)
    : capacity_(capacity), share_(std::max<std::size_t>(1, capacity / kShares)) {}

RequestQueue::Push RequestQueue::push(Request request) {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return Push::kClosed;
    if (size_ >= capacity_) return Push::kFull;
    std::deque<Request> &own = waiting_[request.requester];
    if (own.size() >= share_) return Push::kOverShare;
    if (own.empty()) turns_.push_back(request.requester);
    own.push_back(std::move(request));
    most_ = std::max(most_, ++size_);
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
  const bool woken =
      ready_.wait_until(lock, deadline, [this] { return closed_ || republish_ || size_ > 0; });
  if (!woken) return Wake::kTimeout;
  if (closed_) return Wake::kClosed;
  if (republish_) {
    republish_ = false;
    return Wake::kRepublish;
  }
  const std::string requester = turns_.front();
  turns_.pop_front();
  std::deque<Request> &own = waiting_[requester];
  request = std::move(own.front());
  own.pop_front();
  --size_;
  if (own.empty()) {
    waiting_.erase(requester);
  } else {
    turns_.push_back(requester);
  }
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

RequestQueue::Depth RequestQueue::depth() {
  const std::lock_guard<std::mutex> lock(mutex_);
  return {size_, most_};
}

std::vector<Request> RequestQueue::drain() {
  const std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Request> left;
  for (auto &[requester, own] : waiting_) {
    std::move(own.begin(), own.end(), std::back_inserter(left));
  }
  waiting_.clear();
  turns_.clear();
  size_ = 0;
  return left;
}

}  // namespace radiobridge
