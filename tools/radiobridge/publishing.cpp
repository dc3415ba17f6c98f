// SPDX-License-Identifier: MIT
// The session's publishes, through the current connection's client and
// only while the line is claimed on it: retained status, metrics, state
// and announcements with QoS 1, replies with QoS 0 but the first of each
// connection (QoS 1, so that a refusal by the broker is seen). The broker
// answers each QoS 1 publish; a refusal (a right missing from its ACL) is
// logged once per kind of topic (status, state, discovery, reply,
// metrics). An answer may come before its publish was noted (the network thread is
// quicker than the worker that published): it is kept until then.
#include <mosquitto.h>
#include <mqtt_protocol.h>

#include "mqtt_client.h"
#include "reply.h"
#include "session.h"

namespace radiobridge {
namespace {

constexpr int kReplyQos = 0;  // replies, but the first of a connection

}  // namespace

std::string Session::payloadOf(const Json &payload) {
  return payload.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void Session::publishStatus() {
  Json status;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    status = status_;
  }
  if (!status.is_null()) publish(topics_.status(), status);
}

void Session::publishMetrics() {
  publish(topics_.metrics(), metrics_.report(Clock::now(), queue_.depth()));
}

void Session::refuse(const Request &request, const char *code, const std::string &message) {
  const Json reply = failure(request, code, 0, message);
  answer(request.route, reply);
  metrics_.answered(reply, Clock::now());
  logLine(logEntry(request, reply, std::chrono::milliseconds(0)));
}

int Session::send(const std::string &topic, const std::string &payload, bool retained, int qos,
                  const std::string &correlation, Kind kind) {
  mosquitto_property *properties = nullptr;
  if (!correlation.empty()) {
    mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA, correlation.data(),
                                  static_cast<uint16_t>(correlation.size()));
  }
  int mid = -1;
  int rc = MOSQ_ERR_NO_CONN;
  {
    const std::lock_guard<std::mutex> lock(client_mutex_);
    if (client_ != nullptr && connected_ && claim_.claimed()) {
      rc = mosquitto_publish_v5(client_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                payload.data(), qos, retained, properties);
    }
  }
  mosquitto_property_free_all(&properties);
  if (rc != MOSQ_ERR_SUCCESS && rc != MOSQ_ERR_NO_CONN) {
    logLine("cannot publish on " + topic + ": " + common::describeMqtt(rc));
  }
  if (rc != MOSQ_ERR_SUCCESS) return -1;
  if (qos > 0) {
    const Sent sent{kind, topic};
    std::unique_lock<std::mutex> lock(mutex_);
    const auto early = early_.find(mid);
    if (early == early_.end()) {
      sent_[mid] = sent;
    } else {
      const int reason = early->second;
      early_.erase(early);
      lock.unlock();
      refused(sent, reason);
    }
  }
  return mid;
}

// The broker's answer to a publish: a refusal of a QoS 1 publish is
// logged; the "offline" publication of a stop is awaited.
void Session::acknowledged(int mid, int reason) {
  std::optional<Sent> sent;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = sent_.find(mid);
    if (found != sent_.end()) {
      sent = found->second;
      sent_.erase(found);
    } else if (reason >= MQTT_RC_UNSPECIFIED) {
      early_[mid] = reason;  // its sender has not noted it yet
    }
    awaited_done_ = awaited_done_ || mid == awaited_;
  }
  changed_.notify_all();
  if (sent && reason >= MQTT_RC_UNSPECIFIED) refused(*sent, reason);
}

void Session::refused(const Sent &sent, int reason) {
  static constexpr const char *kKinds[] = {"status", "state", "discovery", "reply", "metrics"};
  const char *kind = kKinds[static_cast<int>(sent.kind)];
  refusal_log_.note(static_cast<int>(sent.kind),
                    "broker refused to let the bridge publish on " + sent.topic + ": " +
                        common::describeMqtt(reason) + " (later refusals of " + kind +
                        " publishes are not logged)");
}

void Session::publish(const std::string &topic, const Json &payload) {
  const Kind kind = topic == topics_.status()    ? Kind::kStatus
                    : topic == topics_.metrics() ? Kind::kMetrics
                    : discovery_.under(topic)    ? Kind::kDiscovery
                                                 : Kind::kState;
  send(topic, payloadOf(payload), true, common::kQos, {}, kind);
}

void Session::clear(const std::string &topic) {
  send(topic, {}, true, common::kQos, {}, Kind::kDiscovery);
}

void Session::answer(const Route &route, const Json &reply) {
  const int qos = reply_probe_.exchange(false) ? common::kQos : kReplyQos;
  send(route.topic, payloadOf(reply), false, qos, route.correlation, Kind::kReply);
}

void Session::setStatus(const Json &status) {
  Json own = status;
  own["instance"] = settings_.instance;
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    status_ = own;
  }
  publish(topics_.status(), own);
}

}  // namespace radiobridge
