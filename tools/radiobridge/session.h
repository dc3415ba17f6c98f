// SPDX-License-Identifier: MIT
// The bridge's side of the broker: one libmosquitto client speaking MQTT 5,
// the network thread that drives it, and everything that thread does. The
// thread never touches the serial line: a message is copied out of the library, admitted
// by the codec and queued for the worker, or answered at once when it cannot
// run (bad command, full queue, retained, shutting down). On every connect
// the session subscribes again, republishes the retained status and asks the
// worker to republish the radios' state. The worker publishes replies and
// state through the session too. This is the one file that includes
// mosquitto.h.
#ifndef RADIOBRIDGE_SESSION_H
#define RADIOBRIDGE_SESSION_H

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "backoff.h"
#include "codec.h"
#include "log.h"
#include "queue.h"

struct mosquitto;

namespace radiobridge {

// libmosquitto's text for one of its result codes (the system's for
// MOSQ_ERR_ERRNO) or for a protocol reason code, as a phrase to follow a
// colon: "the connection was lost".
std::string describe(int code);

struct SessionSettings {
  std::string client_id;
  std::string host;
  int port = 0;
  int keepalive = 0;
  std::string user;  // empty: connect without a user name
  std::string password;
  std::string cafile;  // empty: no TLS
  std::string cert;
  std::string key;
  std::vector<int> radios;
  std::chrono::seconds request_expiry{0};
};

class Session {
 public:
  // `fatal` is called, from the network thread, when going on is pointless
  // (the broker refused the bridge's credentials).
  Session(SessionSettings settings, const Topics &topics, RequestQueue &queue,
          std::function<void(const std::string &)> fatal);
  Session(const Session &) = delete;
  Session &operator=(const Session &) = delete;
  ~Session();

  // Sets up the client with its will and starts the network thread, which
  // connects and reconnects with back-off for as long as the session runs.
  // Returns false with `error` when the settings cannot be used (TLS files).
  bool start(std::string &error);

  // Publishes with QoS 1; dropped while the broker is away.
  void publish(const std::string &topic, const Json &payload, bool retained,
               const std::string &correlation = {});
  // Sends a reply on its route.
  void answer(const Route &route, const Json &reply);
  // Answers a request that is not run with a failure, and logs it.
  void refuse(const Request &request, const char *code, const std::string &message);
  // Keeps the line's status and publishes it, now and on every connect.
  void setStatus(const Json &status);

  // Publishes "offline", waits a little for the broker to take it,
  // disconnects and stops the network thread.
  void stop();

 private:
  struct Callbacks;
  friend struct Callbacks;

  void network();
  bool waitToReconnect();
  void connected();
  void receive(const Incoming &message);
  int send(const std::string &topic, const std::string &payload, bool retained,
           const std::string &correlation);

  SessionSettings settings_;
  const Topics &topics_;
  RequestQueue &queue_;
  std::function<void(const std::string &)> fatal_;
  struct mosquitto *client_ = nullptr;
  StateLog broker_log_;
  Backoff backoff_;  // the network thread's wait before reconnecting
  std::thread network_;
  std::atomic<bool> connected_{false};
  std::atomic<bool> stopping_{false};  // losses of the broker are no news
  std::mutex mutex_;                   // guards what follows
  std::condition_variable changed_;
  bool quit_ = false;  // the network thread is to end once disconnected
  Json status_;
  int awaited_ = -1;  // message id of the "offline" publication
  bool awaited_done_ = false;
};

}  // namespace radiobridge

#endif  // RADIOBRIDGE_SESSION_H
