// SPDX-License-Identifier: MIT
// The worker's loop: wait on the queue until the next request, a republish,
// a heartbeat or a reopen attempt is due; do it; repeat until the queue
// closes. A request is answered "expired", "line-lost" or "unavailable"
// without touching the line when that applies, else run through radioctl
// and answered with its result; a setter of a readable value is then read
// back so the published state shows what the radio holds. After a failed
// or refused exchange the radio may hold what it was told although the
// exchange failed (a late answer, a refusal that was another command's
// reply), so its whole readable state is read again before its state is
// next published. An exchange that fails with a code that means the line
// is lost (the device went away): the line is closed and reopened after the
// back-off's wait.
#include "worker.h"

#include <cerrno>
#include <cstring>

namespace radiobridge {
namespace {

constexpr auto kFirstReopen = std::chrono::seconds(1);
constexpr auto kLastReopen = std::chrono::seconds(30);
constexpr int kHeartbeatFailures = 3;  // failed heartbeats in a row that make a radio unavailable
constexpr auto kIdleWake = std::chrono::hours(1);
constexpr const char *kVersionReader = "version";

std::chrono::milliseconds since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

}  // namespace

Worker::Worker(WorkerSettings settings, RequestQueue &queue, Session &session, const Topics &topics,
               const Discovery &discovery)
    : settings_(std::move(settings)),
      queue_(queue),
      session_(session),
      topics_(topics),
      discovery_(discovery),
      device_(settings_.line.device),
      backoff_(kFirstReopen, kLastReopen) {
  for (int address : settings_.radios) radios_.push_back({address, {}, {}, 0, false, {}});
  for (const std::string &reader : stateReaders()) {
    readers_[reader] = common::planLine(reader).invocations.front();
  }
}

bool Worker::lockLine(std::string &error) {
  int code = 0;
  if (openLine(error, code)) return true;
  if (code == EBUSY) {
    error = "device busy: " + settings_.line.device + " is held by another program";
    return false;
  }
  if (code == EINVAL) return false;  // a rate the line cannot run at: no retry mends it
  loseLine(error, code);
  return true;
}

void Worker::run() {
  for (Radio &radio : radios_) {
    if (line_open_ && !queue_.closed()) readState(radio);
    publishState(radio);
  }
  heartbeat_at_ = Clock::now() + settings_.heartbeat;
  for (;;) {
    Request request;
    const RequestQueue::Wake wake = queue_.wait(nextWake(), request);
    if (wake == RequestQueue::Wake::kClosed) break;
    if (wake == RequestQueue::Wake::kRepublish) {
      for (Radio &radio : radios_) publishState(radio, true);
    }
    if (wake == RequestQueue::Wake::kRequest) serve(request);
    const Clock::time_point now = Clock::now();
    if (!line_open_ && now >= reopen_at_) reopenLine();
    if (line_open_ && settings_.heartbeat.count() > 0 && now >= heartbeat_at_) {
      heartbeat();
      heartbeat_at_ = Clock::now() + settings_.heartbeat;
    }
  }
  for (const Request &request : queue_.drain()) {
    session_.refuse(request, kCodeShuttingDown, kShuttingDownMessage);
  }
}

void Worker::closeLine() {
  line_.reset();
}

Clock::time_point Worker::nextWake() const {
  if (!line_open_) return reopen_at_;
  if (settings_.heartbeat.count() > 0) return heartbeat_at_;
  return Clock::now() + kIdleWake;
}

// Opens the line; on failure `error` says why and `code` is the system's
// error number, 0 when none applies.
bool Worker::openLine(std::string &error, int &code) {
  line_.reset();
  line_.emplace();
  if (!line_->open(settings_.line, error)) {
    code = line_->failureErrno();
    line_.reset();
    return false;
  }
  line_open_ = true;
  if (settings_.line.simulate) device_ = line_->device();
  backoff_.reset();
  line_log_.change("line open");
  publishStatus();
  return true;
}

void Worker::reopenLine() {
  std::string error;
  int code = 0;
  if (!openLine(error, code)) return loseLine(error, code);
  for (Radio &radio : radios_) {
    radio.read = false;
    refresh(radio);
  }
}

void Worker::loseLine(const std::string &why, int code) {
  line_.reset();
  line_open_ = false;
  line_problem_ = why;
  line_code_ = code;
  backoff_.failed();
  reopen_at_ = Clock::now() + backoff_.next();
  line_log_.change("line lost: " + why);
  publishStatus();
}

void Worker::loseLine(int code) {
  loseLine(device_ + ": " + std::strerror(code), code);
}

void Worker::publishStatus() {
  session_.setStatus(onlineStatus(line_open_, device_, settings_.line.baud));
}

void Worker::publishState(Radio &radio, bool force) {
  const std::string version = radio.state.readings.value("version", std::string());
  if (force || version != radio.announced) {
    for (const Announcement &announcement : discovery_.announcements(radio.address, version)) {
      session_.publish(announcement.first, announcement.second);
    }
    radio.announced = version;
  }
  const Json state = stateObject(radio.state);
  if (!force && state == radio.published) return;
  session_.publish(topics_.state(radio.address), state);
  radio.published = state;
}

Worker::Radio *Worker::find(int address) {
  for (Radio &radio : radios_) {
    if (radio.address == address) return &radio;
  }
  return nullptr;
}

void Worker::serve(const Request &request) {
  const Clock::time_point start = Clock::now();
  Radio &radio = *find(request.radio);  // the session admits only served radios
  const char *read_back = nullptr;
  bool ran = false;
  Json result;
  if (start > request.expires) {
    result = failure(request, kCodeExpired, 0, "the request expired before the line was free");
  } else if (!line_open_) {
    result =
        failure(request, common::kCodeLineLost, line_code_, "the line is lost: " + line_problem_);
  } else if (!radio.state.available) {
    result = failure(request, kCodeUnavailable, 0,
                     "radio " + radioName(radio.address) + " did not answer its heartbeats");
  } else {
    result = execute(radio, request, read_back);
    ran = true;
  }
  session_.answer(request.route, result);
  logLine(logEntry(request, result, since(start)));
  if (read_back != nullptr && line_open_) readInto(radio, read_back);
  if (ran) refresh(radio);
}

// Runs the request's command; `read_back` is set to the reader that shows
// what it changed.
Json Worker::execute(Radio &radio, const Request &request, const char *&read_back) {
  Json result;
  const int rc = common::runInvocation(line_->handle(), request.invocation,
                                       {radio.address, settings_.controller}, result);
  if (rc == 0) read_back = noteSuccess(radio.state, request.invocation, result);
  if (rc != 0) radio.read = false;
  if (common::meansLineLost(rc)) loseLine(rc);
  return reply(request, std::move(result));
}

int Worker::readInto(Radio &radio, const std::string &reader) {
  Json result;
  const common::Invocation &invocation = readers_.at(reader);
  const int rc = common::runInvocation(line_->handle(), invocation,
                                       {radio.address, settings_.controller}, result);
  if (rc == 0) noteSuccess(radio.state, invocation, result);
  if (rc != 0) radio.read = false;
  if (common::meansLineLost(rc)) loseLine(rc);
  return rc;
}

// Reads every readable value, stopping at the first failure (a radio that
// does not answer costs one time-out, not one per value) and when the
// bridge stops.
void Worker::readState(Radio &radio) {
  for (const std::string &reader : stateReaders()) {
    if (queue_.closed() || readInto(radio, reader) != 0) return;
  }
  radio.read = true;
}

// Publishes the radio's state, read again first when an exchange failed
// since it was last read whole.
void Worker::refresh(Radio &radio) {
  if (!radio.read && line_open_ && radio.state.available && !queue_.closed()) readState(radio);
  publishState(radio);
}

void Worker::heartbeat() {
  for (Radio &radio : radios_) {
    if (!line_open_ || queue_.closed()) return;
    const bool answered = readInto(radio, kVersionReader) == 0;
    if (!line_open_) return;
    radio.failures = answered ? 0 : radio.failures + 1;
    if (answered && !radio.state.available) {
      radio.state.available = true;
      logLine("radio " + radioName(radio.address) + " available");
    }
    if (!answered && radio.state.available && radio.failures >= kHeartbeatFailures) {
      radio.state.available = false;
      logLine("radio " + radioName(radio.address) + " unavailable");
    }
    // A silent radio is read again once it answers, not at each failed beat.
    if (answered) {
      refresh(radio);
    } else {
      publishState(radio);
    }
  }
}

}  // namespace radiobridge
