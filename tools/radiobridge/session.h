// SPDX-License-Identifier: MIT
// The bridge's side of the broker: a libmosquitto client speaking MQTT 5,
// a fresh one for each connection so that nothing queued on a connection
// that died is sent on the next (libmosquitto would send it again), the
// network thread that drives it, and everything that thread does. The
// thread never touches the serial line: a message is copied out of the
// library, counted as received when the thread last ran if it read it
// after a stall, and taken in (queued for the worker, with an interim
// message to a client that asked for one, or answered at once when it
// cannot run). On every connect the session carries out the claim rule
// (claim.h): a line another live bridge serves is never claimed. Once it has
// claimed the line it subscribes to the requests, publishes the retained
// status (again at least once per keepalive, so a bridge that starts later
// can tell it is alive), the line's metrics (again every 10 s, and when it
// stops) and announcements, and asks the worker to republish the radios'
// state and announcements; for 2 s it also reads the retained
// announcements and clears those of this line that are announced no more.
// The worker publishes replies and state through the session too. A
// publish the broker refuses is logged, once per kind of topic (status,
// state, discovery, reply, metrics). The session counts the requests it
// answers and its reconnects in the metrics. session.cpp holds the
// connection and its thread, publishing.cpp the publishes; they are the
// bridge's only files that include mosquitto.h.
#ifndef RADIOBRIDGE_SESSION_H
#define RADIOBRIDGE_SESSION_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "backoff.h"
#include "broker_options.h"
#include "claim.h"
#include "discovery.h"
#include "log.h"
#include "metrics.h"
#include "queue.h"
#include "request.h"

struct mosquitto;

namespace radiobridge {

struct SessionSettings {
  std::string client_id;
  common::BrokerOptions broker;  // broker.line: LINE, for messages about who serves it
  Json instance;                 // this bridge's instance id, in every status it publishes
  std::chrono::seconds request_expiry{0};
};

class Session {
 public:
  // `fatal` is called, from the network thread, when going on is pointless
  // (the broker refused the bridge's credentials, another bridge serves the
  // line).
  Session(SessionSettings settings, const common::Topics &topics, const Discovery &discovery,
          RequestQueue &queue, Metrics &metrics, std::function<void(const std::string &)> fatal);
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;
  ~Session();

  // Sets up the client with its will and starts the network thread, which
  // connects and reconnects with back-off for as long as the session runs.
  // Returns false with `error` when the settings cannot be used (the
  // password file, the TLS files).
  bool start(std::string &error);

  // Publishes a retained message with QoS 1; dropped while the broker is
  // away or the line is not claimed.
  void publish(const std::string &topic, const Json &payload);
  // Clears the retained message on `topic` (a dashboard announcement).
  void clear(const std::string &topic);
  // Sends a reply (or an interim message) on its route, with QoS 0: a
  // reply is worth nothing once its client is gone, and a client then owes
  // no acknowledgement for it. The first on each connection goes with
  // QoS 1, so that a refusal by the broker is seen.
  void answer(const Route &route, const Json &reply);
  // Answers a request that is not run with a failure, and logs it.
  void refuse(const Request &request, const char *code, const std::string &message);
  // Keeps the line's status, adds the instance id and publishes it, now and
  // whenever the session publishes the status again.
  void setStatus(const Json &status);

  // Publishes "offline" when this bridge holds the line, waits a little for
  // the broker to take it, disconnects and stops the network thread.
  void stop();

 private:
  struct Callbacks;
  friend struct Callbacks;
  // The kinds of topic whose refused publishes are logged, once each.
  enum class Kind { kStatus, kState, kDiscovery, kReply, kMetrics };
  struct Sent {  // a QoS 1 publish awaiting the broker's answer
    Kind kind;
    std::string topic;
  };

  struct mosquitto *makeClient(std::string &error);
  void renew();
  void network();
  void tick();
  bool waitToReconnect();
  void connected();
  void carryOut(const Claim::Step &step);
  void checkStatus();
  void takeLine();
  void publishStatus();
  void publishMetrics();
  void receive(const Incoming &message);
  void announcementSeen(const std::string &topic, bool retained, bool empty);
  static std::string payloadOf(const Json &payload);
  int send(const std::string &topic, const std::string &payload, bool retained, int qos,
           const std::string &correlation, Kind kind);
  void acknowledged(int mid, int reason);
  void refused(const Sent &sent, int reason);

  SessionSettings settings_;
  const common::Topics &topics_;
  const Discovery &discovery_;
  RequestQueue &queue_;
  Metrics &metrics_;
  std::function<void(const std::string &)> fatal_;
  // The current connection's client: swapped by the network thread alone,
  // under client_mutex_, which other threads hold while they use it.
  struct mosquitto *client_ = nullptr;
  std::mutex client_mutex_;
  StateLog broker_log_;
  Backoff backoff_;  // the network thread's wait before reconnecting
  std::thread network_;
  RateLog busy_log_;  // the network thread's
  std::atomic<bool> connected_{false};
  std::atomic<bool> stopping_{false};     // losses of the broker are no news
  std::atomic<bool> quit_{false};         // the network thread is to end once disconnected
  std::atomic<bool> reply_probe_{false};  // the next reply goes with QoS 1
  Claim claim_;
  // The network thread's own: when it last ran and the status check's end
  // marker.
  Clock::time_point last_ran_;
  bool connected_before_ = false;  // a connect is a reconnect
  Clock::time_point metrics_due_;
  int marker_mid_ = -1;
  std::optional<Clock::time_point> clear_until_;  // reading announcements to clear
  std::mutex mutex_;                              // guards what follows
  std::condition_variable changed_;
  Json status_;
  int awaited_ = -1;  // message id of the "offline" publication
  bool awaited_done_ = false;
  std::map<int, Sent> sent_;  // QoS 1 publishes by message id, until answered
  std::map<int, int> early_;  // refusals that came before their publish was noted
  OnceLog refusal_log_;
};

}  // namespace radiobridge

#endif  // RADIOBRIDGE_SESSION_H
