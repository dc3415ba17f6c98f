// SPDX-License-Identifier: MIT
// The one meeting point of the network thread and the worker: a bounded
// queue of requests under a mutex and a condition variable that serves its
// requesters in turn. Each requester (a request's USER, else its response
// topic) keeps its own first-in first-out line; the worker takes the oldest
// request of the requester whose turn it is, so a client that floods the
// queue waits its turn like any other. One requester holds at most a quarter
// of the queue (at least one place). A push onto a full or closed queue, or
// beyond the requester's share, is refused at once, so the network thread
// never waits for the line. Besides requests, the queue carries one flag,
// "republish the radios' state", which the network thread raises on every
// claim of the line and which never takes a request's place. Closing wakes
// the worker; what is still queued is taken with drain(). The queue keeps
// the most requests that waited at once, for the bridge's metrics.
#ifndef RADIOBRIDGE_QUEUE_H
#define RADIOBRIDGE_QUEUE_H

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "request.h"

namespace radiobridge {

class RequestQueue {
 public:
  enum class Push { kQueued, kFull, kOverShare, kClosed };
  enum class Wake { kRequest, kRepublish, kTimeout, kClosed };
  // Requests waiting now, and the most that ever waited at once.
  struct Depth {
    std::size_t now = 0;
    std::size_t most = 0;
  };

  explicit RequestQueue(std::size_t capacity);

  Push push(Request request);
  void askRepublish();

  // Waits until `deadline` for something to do. Closing comes first, then a
  // republish, then the oldest request of the requester whose turn it is,
  // which is moved into `request`.
  Wake wait(Clock::time_point deadline, Request &request);

  // Refuses every push from now on and wakes the worker.
  void close();
  bool closed();
  Depth depth();
  // Takes every request still queued, requester by requester.
  std::vector<Request> drain();

 private:
  std::mutex mutex_;
  std::condition_variable ready_;
  std::map<std::string, std::deque<Request>> waiting_;  // by requester
  std::deque<std::string> turns_;  // requesters with requests waiting, next first
  std::size_t size_ = 0;
  std::size_t most_ = 0;
  std::size_t capacity_;
  std::size_t share_;  // requests one requester may have waiting
  bool republish_ = false;
  bool closed_ = false;
};

}  // namespace radiobridge

#endif  // RADIOBRIDGE_QUEUE_H
