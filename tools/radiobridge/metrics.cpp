// SPDX-License-Identifier: MIT
// The counts and the report. Second N of the bridge's life is bucket
// N % 60, reset when N comes round again; the last minute is the buckets
// of the current second and the 59 before it, so its length is 59 s and
// the part of the current second gone by, or the bridge's life when that
// is shorter. An exchange's time is split between the seconds it spans.
// Percentiles are nearest-rank: the smallest time at least that share of
// the exchanges took no longer than.
#include "metrics.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "reply.h"

namespace radiobridge {
namespace {

using std::chrono::duration;
using std::chrono::seconds;

// The outcomes every report counts, at 0 until they happen; any other
// code is counted too once it is seen.
constexpr const char *kOutcomes[] = {"ok",
                                     common::kCodeUsage,
                                     common::kCodeRefused,
                                     common::kCodeTimeout,
                                     common::kCodeLineLost,
                                     common::kCodeFailed,
                                     kCodeUnavailable,
                                     kCodeBusy,
                                     kCodeExpired,
                                     kCodeShuttingDown};
constexpr long kMinute = 60;

// `value` rounded to `decimals` places and printed as short as that.
double rounded(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::round(value * scale) / scale;
}

double milliseconds(Clock::duration took) {
  return rounded(duration<double, std::milli>(took).count(), 1);
}

// The nearest-rank percentile `share` of `sorted`, which is not empty.
Clock::duration percentile(const std::vector<Clock::duration> &sorted, double share) {
  const auto rank = static_cast<std::size_t>(std::ceil(share * static_cast<double>(sorted.size())));
  return sorted[std::max<std::size_t>(rank, 1) - 1];
}

}  // namespace

Metrics::Metrics(Clock::time_point started) : started_(started) {
  for (const char *outcome : kOutcomes) answered_[outcome] = 0;
}

// A time before the start counts as the start's second.
long Metrics::indexOf(Clock::time_point at) const {
  return std::max(0L,
                  static_cast<long>(std::chrono::duration_cast<seconds>(at - started_).count()));
}

Metrics::Second &Metrics::bucket(long index) {
  Second &second = minute_[static_cast<std::size_t>(index % kMinute)];
  if (second.index != index) second = {index, 0, 0, Clock::duration(0)};
  return second;
}

void Metrics::answered(const Json &reply, Clock::time_point at) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++answered_[outcomeOf(reply)];
  ++bucket(indexOf(at)).requests;
}

void Metrics::exchanged(Clock::time_point start, Clock::time_point end) {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++bucket(indexOf(end)).exchanges;
  exchanges_.push_back({end, end - start});
  if (exchanges_.size() > kSampleLimit) exchanges_.pop_front();
  // Only the last minute of a long exchange can still count.
  for (Clock::time_point at = std::max({start, end - seconds(kMinute), started_}); at < end;) {
    const long index = indexOf(at);
    const Clock::time_point next = std::min(end, started_ + seconds(index + 1));
    bucket(index).busy += next - at;
    at = next;
  }
}

void Metrics::lineReopened() {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++line_reopens_;
}

void Metrics::brokerReconnected() {
  const std::lock_guard<std::mutex> lock(mutex_);
  ++broker_reconnects_;
}

Json Metrics::report(Clock::time_point now, RequestQueue::Depth queue) {
  const std::lock_guard<std::mutex> lock(mutex_);
  const long first = std::max(0L, indexOf(now) - (kMinute - 1));
  const Clock::time_point from = started_ + seconds(first);
  long requests = 0;
  long exchanges = 0;
  Clock::duration busy(0);
  for (const Second &second : minute_) {
    if (second.index < first) continue;
    requests += second.requests;
    exchanges += second.exchanges;
    busy += second.busy;
  }
  const double length = duration<double>(now - from).count();
  const double share = length > 0 ? std::min(1.0, duration<double>(busy).count() / length) : 0.0;
  Json minute{{"requests", requests}, {"line_busy", rounded(share, 3)}, {"exchanges", exchanges}};
  while (!exchanges_.empty() && exchanges_.front().end < from) exchanges_.pop_front();
  std::vector<Clock::duration> took;
  for (const Exchange &exchange : exchanges_) took.push_back(exchange.took);
  std::sort(took.begin(), took.end());
  if (!took.empty()) {
    minute["exchange_ms"] = {{"median", milliseconds(percentile(took, 0.5))},
                             {"p99", milliseconds(percentile(took, 0.99))}};
  }
  return {{"answered", answered_},
          {"last_minute", minute},
          {"queue", {{"now", queue.now}, {"max", queue.most}}},
          {"line_reopens", line_reopens_},
          {"broker_reconnects", broker_reconnects_}};
}

}  // namespace radiobridge
