// SPDX-License-Identifier: MIT
// The one meeting point of the network thread and the worker: a bounded
// first-in first-out queue of requests under a mutex and a condition
// variable. A push onto a full or closed queue is refused at once, so the
// network thread never waits for the line. Besides requests, the queue
// carries one flag, "republish the radios' state", which the network thread
// raises on every connect and which never takes a request's place. Closing
// wakes the worker; what is still queued is taken with drain().
#ifndef RADIOBRIDGE_QUEUE_H
#define RADIOBRIDGE_QUEUE_H

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <vector>

#include "codec.h"

namespace radiobridge {

class RequestQueue {
 public:
  enum class Push { kQueued, kFull, kClosed };
  enum class Wake { kRequest, kRepublish, kTimeout, kClosed };

  explicit RequestQueue(std::size_t capacity) : capacity_(capacity) {}

  Push push(Request request);
  void askRepublish();

  // Waits until `deadline` for something to do. Closing comes first, then a
  // republish, then the oldest request, which is moved into `request`.
  Wake wait(Clock::time_point deadline, Request &request);

  // Refuses every push from now on and wakes the worker.
  void close();
  bool closed();
  // Takes every request still queued, oldest first.
  std::vector<Request> drain();

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Request> requests_;
  std::size_t capacity_;
  bool republish_ = false;
  bool closed_ = false;
};

}  // namespace radiobridge

#endif  // RADIOBRIDGE_QUEUE_H
