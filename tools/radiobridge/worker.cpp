// SPDX-License-Identifier: MIT
// The worker's loop: wait on the queue until the next request, a republish,
// a heartbeat or a reopen attempt is due, and at least once a second to
// look for a hang-up of the device; do it; repeat until the queue closes. A
// request is answered "expired", "line-lost" or "unavailable" without
// touching the line when that applies, else run through radioctl and
// answered with its result; a setter of a readable value is then read back
// so the published state shows what the radio holds. Every exchange's
// outcome goes to the radio's upkeep rule, which says what is due before
// the state is next published: after a failed exchange only what it may
// have changed, and nothing while the radio is silent. An exchange that
// fails with a code that means the line is lost (the device went away), or
// a hang-up seen between requests: the line is closed and reopened after
// the back-off's wait.
#include "worker.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "deadline.h"
#include "reply.h"
#include "status.h"

namespace radiobridge {
namespace {

using common::radioName;

constexpr auto kFirstReopen = std::chrono::seconds(1);
constexpr auto kLastReopen = std::chrono::seconds(30);
constexpr auto kHangupWatch = std::chrono::seconds(1);  // longest idle wait on an open line
constexpr const char *kVersionReader = "version";

std::chrono::milliseconds since(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
}

Upkeep::Outcome outcomeOf(int rc) {
  if (rc == 0) return Upkeep::Outcome::kAnswered;
  if (rc == ETIMEDOUT) return Upkeep::Outcome::kSilent;
  if (common::meansLineLost(rc)) return Upkeep::Outcome::kLineLost;
  return Upkeep::Outcome::kRefused;
}

}  // namespace

Worker::Worker(WorkerSettings settings, RequestQueue &queue, Session &session,
               const common::Topics &topics, const Discovery &discovery, Metrics &metrics)
    : settings_(std::move(settings)),
      queue_(queue),
      session_(session),
      topics_(topics),
      discovery_(discovery),
      metrics_(metrics),
      device_(settings_.line.device),
      backoff_(kFirstReopen, kLastReopen) {
  for (int address : settings_.radios) {
    radios_.push_back({address, {}, Upkeep(stateReaders()), {}, {}, {}, {}});
  }
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
    radio.beat_at = Clock::now() + settings_.heartbeat;
    refresh(radio);
  }
  for (;;) {
    Request request;
    const RequestQueue::Wake wake = queue_.wait(nextWake(), request);
    if (wake == RequestQueue::Wake::kClosed) break;
    if (wake == RequestQueue::Wake::kRepublish) {
      for (Radio &radio : radios_) publishState(radio, true);
    }
    if (wake == RequestQueue::Wake::kRequest) serve(request);
    if (line_open_ && line_->hungUp()) loseLine(EIO);
    if (!line_open_ && Clock::now() >= reopen_at_) reopenLine();
    if (line_open_ && settings_.heartbeat.count() > 0) heartbeat();
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
  Clock::time_point wake = Clock::now() + kHangupWatch;
  if (settings_.heartbeat.count() == 0) return wake;
  for (const Radio &radio : radios_) wake = std::min(wake, radio.beat_at);
  return wake;
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
  metrics_.lineReopened();
  for (Radio &radio : radios_) {
    radio.upkeep.lineOpened();
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
  radio.state.available = radio.upkeep.available();
  radio.state.unsupported = radio.upkeep.unsupported();
  const std::string version = radio.state.readings.value("version", std::string());
  const std::vector<std::string> &without = radio.state.unsupported;
  if (force || version != radio.announced_version || without != radio.announced_without) {
    for (const Announcement &announcement :
         discovery_.announcements(radio.address, version, without)) {
      session_.publish(announcement.first, announcement.second);
    }
    for (const std::string &topic : discovery_.withdrawn(radio.address, without)) {
      session_.clear(topic);
    }
    radio.announced_version = version;
    radio.announced_without = without;
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
  if (expired(start, request.expires)) {
    result = failure(request, kCodeExpired, 0, "the request expired before the line was free");
  } else if (!line_open_) {
    result =
        failure(request, common::kCodeLineLost, line_code_, "the line is lost: " + line_problem_);
  } else if (radio.upkeep.refuses(settings_.heartbeat.count() > 0)) {
    result = failure(request, kCodeUnavailable, 0,
                     "radio " + radioName(radio.address) + " left 3 exchanges in a row unanswered");
  } else {
    exchange(radio, request.invocation, result, read_back);
    result = reply(request, std::move(result));
    ran = true;
  }
  session_.answer(request.route, result);
  metrics_.answered(result, Clock::now());
  logLine(logEntry(request, result, since(start)));
  if (read_back != nullptr && line_open_) readInto(radio, read_back);
  if (ran) refresh(radio);
}

// Runs one exchange with the radio and hands its outcome to the radio's
// upkeep and state; `read_back` is set, after a success, to the reader that
// shows what it changed. Returns the library's result code.
int Worker::exchange(Radio &radio, const common::Invocation &invocation, Json &result,
                     const char *&read_back) {
  const Clock::time_point start = Clock::now();
  const int rc = common::runInvocation(line_->handle(), invocation,
                                       {radio.address, settings_.controller}, result);
  metrics_.exchanged(start, Clock::now());
  const std::string name = common::commandName(invocation);
  radio.beat_at = Clock::now() + settings_.heartbeat;
  const std::string change = radio.upkeep.exchanged(name, outcomeOf(rc), readBackOf(name));
  if (!change.empty()) logLine("radio " + radioName(radio.address) + " " + change);
  if (rc == 0) {
    const std::string version = radio.state.readings.value(kVersionReader, std::string());
    read_back = noteSuccess(radio.state, invocation, result);
    const std::string now = radio.state.readings.value(kVersionReader, std::string());
    if (!version.empty() && now != version) radio.upkeep.versionChanged();
  }
  if (common::meansLineLost(rc)) loseLine(rc);
  return rc;
}

int Worker::readInto(Radio &radio, const std::string &reader) {
  Json result;
  const char *read_back = nullptr;
  return exchange(radio, readers_.at(reader), result, read_back);
}

// Reads what the radio's upkeep calls due, each reader once, stopping when
// the radio falls silent, the line is lost or the bridge stops; then
// publishes the state.
void Worker::refresh(Radio &radio) {
  for (const std::string &reader : radio.upkeep.due()) {
    if (!line_open_ || queue_.closed() || radio.upkeep.due().empty()) break;
    readInto(radio, reader);
  }
  publishState(radio);
}

// Beats each radio whose heartbeat is due: its version is read, and what
// is due read once it answers.
void Worker::heartbeat() {
  for (Radio &radio : radios_) {
    if (!line_open_ || queue_.closed()) return;
    if (Clock::now() < radio.beat_at) continue;
    readInto(radio, kVersionReader);
    if (line_open_) refresh(radio);
  }
}

}  // namespace radiobridge
