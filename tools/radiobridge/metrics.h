// SPDX-License-Identifier: MIT
// The bridge's work in numbers, counted as it happens and reported as the
// retained JSON of T/metrics: the requests answered since start by outcome
// ("ok" or the reply's error code), and over the last minute the requests
// answered, the share of it the line spent in exchanges, and the median
// and 99th percentile time on the line per exchange (the bridge's own reads
// included); the queue's depth now and at most; the reopens of the line
// and the reconnects to the broker since start. The last minute is a ring
// of one-second buckets, so the counts cost the same however many requests
// come; a bridge younger than a minute reports over its life so far. The
// percentiles take at most the minute's last kSampleLimit exchanges.
// Pure but for its mutex: the clock is an argument, the worker and the
// network thread count, and the session publishes report()'s result.
#ifndef RADIOBRIDGE_METRICS_H
#define RADIOBRIDGE_METRICS_H

#include <array>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "queue.h"
#include "request.h"

namespace radiobridge {

class Metrics {
 public:
  static constexpr std::size_t kSampleLimit = 8192;

  explicit Metrics(Clock::time_point started);

  // A request answered with `reply` (a final reply, never an interim one).
  void answered(const Json &reply, Clock::time_point at);
  // One exchange on the line, from `start` to `end`.
  void exchanged(Clock::time_point start, Clock::time_point end);
  void lineReopened();
  void brokerReconnected();

  // The T/metrics payload at `now`, with the queue's depth.
  Json report(Clock::time_point now, RequestQueue::Depth queue);

 private:
  struct Second {  // one bucket of the last minute
    long index = -1;
    long requests = 0;   // answered
    long exchanges = 0;  // ended
    Clock::duration busy{0};
  };
  struct Exchange {
    Clock::time_point end;
    Clock::duration took;
  };

  long indexOf(Clock::time_point at) const;
  Second &bucket(long index);

  std::mutex mutex_;
  Clock::time_point started_;
  std::map<std::string, long> answered_;
  std::array<Second, 60> minute_{};
  std::deque<Exchange> exchanges_;  // the last minute's, newest last
  long line_reopens_ = 0;
  long broker_reconnects_ = 0;
};

}  // namespace radiobridge

#endif  // RADIOBRIDGE_METRICS_H
