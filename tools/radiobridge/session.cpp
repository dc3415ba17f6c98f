// SPDX-License-Identifier: MIT
// The libmosquitto client and its network thread. Start: the client set up
// as every tool sets it up (MQTT 5, the login, TLS: mqtt_client.cpp), the
// will ("offline" with this instance's id, retained), then the thread, which connects and runs the
// library's loop. Whenever the loop reports the connection gone or a connect failed, the thread
// waits out the back-off (1 s doubling to 30 s, reset by a successful
// connect) and connects again with a fresh client: libmosquitto would send
// the QoS 1 messages still queued on the dead connection again on the next
// one, where a status queued before a stall would follow the claim check
// and replace another bridge's. Every failure is retried, so a broker that
// is down at start, restarts or fails a TLS handshake is tried again.
// Callbacks run in this thread with the library's callback mutex held, so
// they only copy, decide, subscribe and publish. The thread notes when it
// last ran, at least once a second, for the stall rule (deadline.h).
//
// The broker answers each QoS 1 publish; a refusal (a right missing from
// its ACL) is logged once per kind of topic.
//
// Claiming the line follows the claim rule (claim.h); the session carries
// out its steps. It reads the status with what is retained on it, then
// subscribes once more with "send retained only if new", whose answer marks
// the end of what was retained. Taking the line, it subscribes to every
// radio's plain and per-user request topics with retain handling "never
// send", "retain as published" (a retained request shows as one) and "no
// local" (the empty message that clears a retained request does not come
// back), publishes the status, the metrics and the line's announcements
// and raises the queue's republish flag; it also reads the retained
// announcements under the discovery prefix for 2 s and clears (an empty
// retained message) each one the discovery rule calls stale. A connection
// refused for the user name or password is reported as fatal, and so is
// another bridge serving the line.
#include "session.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>

#include "deadline.h"
#include "intake.h"
#include "mqtt_client.h"
#include "reply.h"
#include "status.h"

namespace radiobridge {
namespace {

constexpr auto kFirstReconnect = std::chrono::seconds(1);
constexpr auto kLastReconnect = std::chrono::seconds(30);
constexpr int kLoopWaitMs = 1000;  // longest wait in the library's loop; publishes wake it
constexpr auto kStopWait = std::chrono::seconds(2);  // for "offline" and the disconnect
constexpr int kSubscribeOptions =
    MQTT_SUB_OPT_SEND_RETAIN_NEVER | MQTT_SUB_OPT_RETAIN_AS_PUBLISHED | MQTT_SUB_OPT_NO_LOCAL;
// The status is read with what is retained on it; the second subscription
// sends nothing retained (the subscription exists) and only marks the end.
constexpr int kStatusOptions = MQTT_SUB_OPT_NO_LOCAL;
constexpr int kStatusMarkerOptions = MQTT_SUB_OPT_NO_LOCAL | MQTT_SUB_OPT_SEND_RETAIN_NEW;
constexpr auto kBusyLogPeriod = std::chrono::seconds(10);
constexpr auto kClearWindow = std::chrono::seconds(2);  // for the retained announcements
constexpr auto kMetricsPeriod = std::chrono::seconds(10);

Incoming copyMessage(const mosquitto_message &message, const mosquitto_property *properties,
                     Clock::time_point received) {
  Incoming copy;
  copy.received = received;
  copy.topic = message.topic;
  copy.payload_size = static_cast<std::size_t>(std::max(message.payloadlen, 0));
  copy.payload.assign(static_cast<const char *>(message.payload),
                      std::min(copy.payload_size, kMaxRequestBytes + 1));
  copy.retained = message.retain;
  char *topic = nullptr;
  if (mosquitto_property_read_string(properties, MQTT_PROP_RESPONSE_TOPIC, &topic, false) !=
      nullptr) {
    copy.response_topic = topic;
    std::free(topic);
  }
  void *data = nullptr;
  uint16_t length = 0;
  if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &data, &length,
                                     false) != nullptr) {
    copy.correlation.assign(static_cast<const char *>(data), length);
    std::free(data);
  }
  uint32_t expiry = 0;
  if (mosquitto_property_read_int32(properties, MQTT_PROP_MESSAGE_EXPIRY_INTERVAL, &expiry,
                                    false) != nullptr) {
    copy.expiry_seconds = static_cast<long>(expiry);
  }
  return copy;
}

}  // namespace

// The library's callbacks; `object` is the Session.
struct Session::Callbacks {
  static Session &of(void *object) { return *static_cast<Session *>(object); }

  static void onConnect(struct mosquitto *, void *object, int code, int,
                        const mosquitto_property *) {
    Session &session = of(object);
    if (code == 0) return session.connected();
    const std::string reason = common::describeMqtt(code);
    if (code == MQTT_RC_BAD_USERNAME_OR_PASSWORD || code == MQTT_RC_NOT_AUTHORIZED) {
      session.stopping_ = true;  // the disconnect that follows is no news
      session.fatal_("broker refused the bridge's credentials: " + reason);
    } else {
      session.broker_log_.change("broker lost: " + reason);
    }
  }

  // A claim lasts one connection: nothing is published until the next
  // connection has checked the status again.
  static void onDisconnect(struct mosquitto *, void *object, int, const mosquitto_property *) {
    Session &session = of(object);
    {
      const std::lock_guard<std::mutex> lock(session.mutex_);
      session.connected_ = false;
    }
    session.claim_.disconnected();
    session.changed_.notify_all();
  }

  static void onSubscribe(struct mosquitto *, void *object, int mid, int count, const int *granted,
                          const mosquitto_property *) {
    for (int i = 0; i < count; ++i) {
      if (granted[i] >= MQTT_RC_UNSPECIFIED) {
        logLine("broker refused a subscription: " + common::describeMqtt(granted[i]));
      }
    }
    Session &session = of(object);
    if (mid == session.marker_mid_) session.carryOut(session.claim_.retainedEnd(Clock::now()));
  }

  static void onMessage(struct mosquitto *, void *object, const mosquitto_message *message,
                        const mosquitto_property *properties) {
    Session &session = of(object);
    try {
      if (message->topic == session.topics_.status()) {
        const char *payload = static_cast<const char *>(message->payload);
        Json instance;
        const bool online = common::readStatus(
            std::string(payload, payload + std::max(message->payloadlen, 0)), instance);
        return session.carryOut(
            session.claim_.statusSeen(online, instance, message->retain, Clock::now()));
      }
      bool announcement = false;
      mosquitto_topic_matches_sub(session.discovery_.filter().c_str(), message->topic,
                                  &announcement);
      if (announcement) {
        return session.announcementSeen(message->topic, message->retain, message->payloadlen == 0);
      }
      session.receive(
          copyMessage(*message, properties, receivedAt(Clock::now(), session.last_ran_)));
    } catch (const std::exception &error) {  // nothing may unwind through the library
      logLine("message on " + std::string(message->topic) + " dropped: " + error.what());
    }
  }

  static void onPublish(struct mosquitto *, void *object, int mid, int reason,
                        const mosquitto_property *) {
    of(object).acknowledged(mid, reason);
  }
};

Session::Session(SessionSettings settings, const common::Topics &topics, const Discovery &discovery,
                 RequestQueue &queue, Metrics &metrics,
                 std::function<void(const std::string &)> fatal)
    : settings_(std::move(settings)),
      topics_(topics),
      discovery_(discovery),
      queue_(queue),
      metrics_(metrics),
      fatal_(std::move(fatal)),
      backoff_(kFirstReconnect, kLastReconnect),
      busy_log_(kBusyLogPeriod, "requests answered busy"),
      claim_(settings_.instance, settings_.broker.line, settings_.broker.keepalive) {}

Session::~Session() {
  stop();
}

// A client set up for one connection, with its callbacks and will; null
// with `error` when the settings cannot be used.
struct mosquitto *Session::makeClient(std::string &error) {
  common::ClientProblem problem;
  struct mosquitto *client =
      common::newClient(settings_.client_id, this, settings_.broker, problem);
  if (client == nullptr) {
    error = problem.message;
    return nullptr;
  }
  mosquitto_threaded_set(client, true);
  mosquitto_connect_v5_callback_set(client, Callbacks::onConnect);
  mosquitto_disconnect_v5_callback_set(client, Callbacks::onDisconnect);
  mosquitto_subscribe_v5_callback_set(client, Callbacks::onSubscribe);
  mosquitto_message_v5_callback_set(client, Callbacks::onMessage);
  mosquitto_publish_v5_callback_set(client, Callbacks::onPublish);
  const std::string offline = payloadOf(offlineStatus(settings_.instance));
  mosquitto_will_set_v5(client, topics_.status().c_str(), static_cast<int>(offline.size()),
                        offline.data(), common::kQos, true, nullptr);
  const int rc =
      mosquitto_connect_bind_async(client, settings_.broker.host.c_str(), settings_.broker.port,
                                   settings_.broker.keepalive, nullptr);
  if (rc != MOSQ_ERR_SUCCESS) broker_log_.change("broker lost: " + common::describeMqtt(rc));
  return client;
}

bool Session::start(std::string &error) {
  client_ = makeClient(error);
  if (client_ == nullptr) return false;
  network_ = std::thread([this] { network(); });
  return true;
}

// Replaces the client of the connection that ended with a fresh one that
// connects anew; what was queued on the old one dies with it.
void Session::renew() {
  std::string error;
  const std::lock_guard<std::mutex> lock(client_mutex_);
  if (quit_) return;
  struct mosquitto *fresh = makeClient(error);
  if (fresh == nullptr) return broker_log_.change("broker lost: " + error);
  mosquitto_destroy(client_);
  mosquitto_lib_cleanup();
  client_ = fresh;
}

void Session::network() {
  for (;;) {
    last_ran_ = Clock::now();
    const int rc = mosquitto_loop(client_, kLoopWaitMs, 1);
    if (quit_ && !connected_) return;
    tick();
    if (rc == MOSQ_ERR_SUCCESS) continue;
    if (!stopping_ && rc != MOSQ_ERR_NO_CONN)
      broker_log_.change("broker lost: " + common::describeMqtt(rc));
    if (!waitToReconnect()) return;
    renew();
  }
}

// Waits out the back-off; false when the session stops meanwhile.
bool Session::waitToReconnect() {
  backoff_.failed();
  std::unique_lock<std::mutex> lock(mutex_);
  return !changed_.wait_for(lock, backoff_.next(), [this] { return quit_.load(); });
}

// What is due by the clock: the claim rule's next step, the metrics, the
// end of the announcements' clearing, the count of busy replies.
void Session::tick() {
  const Clock::time_point now = Clock::now();
  carryOut(claim_.tick(now));
  if (claim_.claimed() && now >= metrics_due_) {
    publishMetrics();
    metrics_due_ = now + kMetricsPeriod;
  }
  if (clear_until_ && now >= *clear_until_) {
    clear_until_.reset();
    mosquitto_unsubscribe(client_, nullptr, discovery_.filter().c_str());
  }
  busy_log_.flush(now);
}

void Session::connected() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    connected_ = true;
    sent_.clear();
    early_.clear();
  }
  reply_probe_ = true;
  backoff_.reset();
  if (connected_before_) metrics_.brokerReconnected();
  connected_before_ = true;
  broker_log_.change("broker connected");
  carryOut(claim_.connected());
}

void Session::carryOut(const Claim::Step &step) {
  using Action = Claim::Step::Action;
  if (!step.text.empty() && step.action != Action::kYield) logLine(step.text);
  switch (step.action) {
    case Action::kCheck:
      return checkStatus();
    case Action::kTake:
      return takeLine();
    case Action::kPublishStatus:
      return publishStatus();
    case Action::kYield:
      stopping_ = true;
      return fatal_(step.text);
    case Action::kNothing:
    case Action::kWatch:
      return;
  }
}

// Reads the status with what it retains, then marks the end of that.
void Session::checkStatus() {
  const std::string status = topics_.status();
  mosquitto_subscribe_v5(client_, nullptr, status.c_str(), common::kQos, kStatusOptions, nullptr);
  mosquitto_subscribe_v5(client_, &marker_mid_, status.c_str(), common::kQos, kStatusMarkerOptions,
                         nullptr);
}

void Session::takeLine() {
  for (const std::string &filter : topics_.requestFilters()) {
    mosquitto_subscribe_v5(client_, nullptr, filter.c_str(), common::kQos, kSubscribeOptions,
                           nullptr);
  }
  publishStatus();
  publishMetrics();
  metrics_due_ = Clock::now() + kMetricsPeriod;
  for (const Announcement &announcement : discovery_.lineAnnouncements()) {
    publish(announcement.first, announcement.second);
  }
  queue_.askRepublish();
  mosquitto_subscribe_v5(client_, nullptr, discovery_.filter().c_str(), common::kQos,
                         kStatusOptions, nullptr);
  clear_until_ = Clock::now() + kClearWindow;
}

// A retained announcement of this line's that is no longer made is
// cleared; anything else under the prefix is left alone.
void Session::announcementSeen(const std::string &topic, bool retained, bool empty) {
  if (retained && !empty && discovery_.stale(topic)) clear(topic);
}

void Session::receive(const Incoming &message) {
  using Outcome = Admission::Outcome;
  const Admission taken = take(message, Clock::now(), topics_, settings_.request_expiry, queue_);
  if (!taken.note.empty()) logLine(taken.note);
  if (taken.clear_retained) clear(message.topic);
  if (!taken.interim.is_null()) answer(taken.request.route, taken.interim);
  if (taken.outcome == Outcome::kQueued || taken.outcome == Outcome::kDropped) return;
  answer(taken.request.route, taken.reply);
  metrics_.answered(taken.reply, Clock::now());
  const std::string entry = logEntry(taken.request, taken.reply, std::chrono::milliseconds(0));
  if (taken.outcome == Outcome::kBusy) return busy_log_.note(entry, Clock::now());
  logLine(entry);
}

void Session::stop() {
  if (client_ == nullptr) return;
  stopping_ = true;
  claim_.stop();
  if (network_.joinable() && connected_ && claim_.claimed()) {
    publishMetrics();
    const int mid = send(topics_.status(), payloadOf(offlineStatus(settings_.instance)), true,
                         common::kQos, {}, Kind::kStatus);
    std::unique_lock<std::mutex> lock(mutex_);
    awaited_ = mid;
    // Answered already: its entry is gone from sent_.
    awaited_done_ = awaited_done_ || sent_.count(mid) == 0;
    changed_.wait_for(lock, kStopWait, [this] { return awaited_done_ || awaited_ < 0; });
  }
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    quit_ = true;
  }
  changed_.notify_all();  // ends a back-off wait
  {
    const std::lock_guard<std::mutex> lock(client_mutex_);
    mosquitto_disconnect(client_);
  }
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, kStopWait, [this] { return !connected_; });
    connected_ = false;
  }
  if (network_.joinable()) network_.join();
  mosquitto_destroy(client_);
  client_ = nullptr;
  mosquitto_lib_cleanup();
}

}  // namespace radiobridge
