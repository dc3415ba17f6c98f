// SPDX-License-Identifier: MIT
// The worker thread: the only thread that touches the serial line and the
// only caller of the radioline library (but for the first open, which main
// makes before any thread starts, so that a line another program holds
// stops the bridge before it reaches the broker). It owns the line
// (opening, losing and reopening it with back-off, and watching it for a
// hang-up between requests), what is known of each radio (state, and its
// upkeep: availability, readings due, readers it lacks) and runs the
// queued requests one at a time in the queue's order, publishing each
// reply and every change of state through the session. It reads what the
// upkeep rule calls due when the line opens and after each exchange, beats
// each radio the heartbeat period after its last exchange, and republishes
// the state when the session asks (after every claim of the line), with
// the radios' dashboard announcements, which it publishes again whenever a
// radio's version text or the readers it lacks change. It counts each
// exchange's time on the line, the requests it answers and the line's
// reopens in the metrics.
#ifndef RADIOBRIDGE_WORKER_H
#define RADIOBRIDGE_WORKER_H

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "backoff.h"
#include "discovery.h"
#include "locked_line.h"
#include "log.h"
#include "metrics.h"
#include "queue.h"
#include "radio_state.h"
#include "request.h"
#include "session.h"
#include "upkeep.h"

namespace radiobridge {

struct WorkerSettings {
  common::LineSettings line;
  std::vector<int> radios;
  int controller = 0;
  std::chrono::seconds heartbeat{0};  // 0: no heartbeat
};

class Worker {
 public:
  Worker(WorkerSettings settings, RequestQueue &queue, Session &session,
         const common::Topics &topics, const Discovery &discovery, Metrics &metrics);

  // Opens the line before the worker runs; false with `error` ("device
  // busy: …") when another program holds it or the line cannot run at the
  // baud rate. Any other failure leaves the line lost, to be retried.
  bool lockLine(std::string &error);
  // Serves requests until the queue is closed, then answers what is still
  // queued with "shutting-down". The line stays open for closeLine().
  void run();
  void closeLine();

 private:
  struct Radio {
    int address = 0;
    RadioState state;
    Upkeep upkeep;
    Json published;  // the state as last published
    // What the radio was last announced with: its version text and the
    // readers it lacks.
    std::string announced_version;
    std::vector<std::string> announced_without;
    Clock::time_point beat_at;  // when its heartbeat is due
  };

  bool openLine(std::string &error, int &code);
  void reopenLine();
  void loseLine(const std::string &why, int code);
  void loseLine(int code);
  void serve(const Request &request);
  int exchange(Radio &radio, const common::Invocation &invocation, Json &result,
               const char *&read_back);
  int readInto(Radio &radio, const std::string &reader);
  void refresh(Radio &radio);
  void heartbeat();
  void publishState(Radio &radio, bool force = false);
  void publishStatus();
  Clock::time_point nextWake() const;
  Radio *find(int address);

  WorkerSettings settings_;
  RequestQueue &queue_;
  Session &session_;
  const common::Topics &topics_;
  const Discovery &discovery_;
  Metrics &metrics_;
  std::vector<Radio> radios_;
  std::map<std::string, common::Invocation> readers_;
  std::optional<common::LockedLine> line_;
  std::string device_;  // the line's device as the status shows it
  bool line_open_ = false;
  std::string line_problem_;  // why the line is lost
  int line_code_ = 0;         // the errno that lost it, 0 when none applies
  Backoff backoff_;
  Clock::time_point reopen_at_;
  StateLog line_log_;
};

}  // namespace radiobridge

#endif  // RADIOBRIDGE_WORKER_H
