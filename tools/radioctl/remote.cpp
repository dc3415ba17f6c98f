// SPDX-License-Identifier: MIT
// The MQTT client behind radioctl --broker. It runs libmosquitto's loop in
// radioctl's own thread, one bounded wait at a time: for the broker's
// answer to the connection, for the subscriptions to the reply topic and to
// the line's status, for the retained status, and for each reply. Requests are
// {"command":TEXT,"interim":true} with the response topic, the correlation number and a message
// expiry of kRequestExpiry, the deadline after which no bridge starts them. A reply is taken
// only with the correlation of the request last sent: the interim message that a bridge took
// it ({"queued":true}, no "ok"), then the final reply. The line's status is followed all along,
// so that a bridge going offline after it took a request is seen. The callbacks only record
// what arrived; everything else happens between waits.
#include "remote.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <utility>

#include "mqtt_client.h"
#include "text.h"

namespace radioctl {
namespace {

using common::failureObject;
using common::Invocation;
using common::Json;

constexpr int kLoopStepMs = 100;  // longest wait in one turn of the library's loop

// An id no other radioctl has at the same time: the process id and a random number.
std::string uniqueId() {
  std::ostringstream id;
  id << "radioctl-" << ::getpid() << '-' << std::hex << std::random_device()();
  return id.str();
}

// The reply as a result object; anything that is not one is a failure.
Json resultOf(const Invocation &invocation, const std::string &reply) {
  Json object = Json::parse(reply, nullptr, false);
  if (object.is_discarded() || !object.is_object() || !object.contains("ok") ||
      !object["ok"].is_boolean()) {
    return failureObject(common::commandName(invocation), common::kCodeFailed, 0,
                         "the bridge sent something that is not a result: " + common::quote(reply),
                         invocation.line);
  }
  if (invocation.line == 0) return object;
  // A script's results name their line right after the command.
  Json placed{{"command", object.value("command", Json())}, {"line", invocation.line}};
  for (const auto &[key, value] : object.items()) {
    if (key != "command" && key != "line") placed[key] = value;
  }
  return placed;
}

}  // namespace

// The library's callbacks; `object` is the Remote.
struct Remote::Callbacks {
  static Remote &of(void *object) { return *static_cast<Remote *>(object); }

  static void onConnect(struct mosquitto *, void *object, int code, int,
                        const mosquitto_property *) {
    of(object).connect_code_ = code;
  }

  static void onSubscribe(struct mosquitto *, void *object, int, int count, const int *granted,
                          const mosquitto_property *) {
    of(object).granted_ = count > 0 ? granted[0] : MQTT_RC_UNSPECIFIED;
  }

  static void onPublish(struct mosquitto *, void *object, int mid, int code,
                        const mosquitto_property *) {
    Remote &remote = of(object);
    if (mid == remote.publish_mid_) remote.publish_code_ = code;
  }

  static void onMessage(struct mosquitto *, void *object, const mosquitto_message *message,
                        const mosquitto_property *properties) {
    Remote &remote = of(object);
    const std::string payload(static_cast<const char *>(message->payload),
                              static_cast<std::size_t>(message->payloadlen));
    if (message->topic == remote.topics_.status()) {
      remote.status_ = payload;
      remote.status_seen_ = true;
      return;
    }
    if (message->topic == remote.state_topic_) {
      remote.state_ = payload;
      remote.state_seen_ = true;
      return;
    }
    void *data = nullptr;
    uint16_t length = 0;
    if (mosquitto_property_read_binary(properties, MQTT_PROP_CORRELATION_DATA, &data, &length,
                                       false) == nullptr) {
      return;
    }
    const bool ours =
        std::string(static_cast<const char *>(data), length) == std::to_string(remote.sent_);
    std::free(data);
    if (!ours || remote.replied_) return;
    const Json reply = Json::parse(payload, nullptr, false);
    if (reply.is_object() && !reply.contains("ok") && reply.value("queued", false)) {
      remote.taken_ = true;
      return;
    }
    remote.reply_ = payload;
    remote.replied_ = true;
  }
};

std::string readRemote(RemoteOptions &options, int radio) {
  std::string problem;
  if (!common::readBroker(options.broker, options.bridge, problem) ||
      !common::checkTopics(options.bridge, "--line", problem)) {
    return problem;
  }
  if (radio == common::kBroadcast) {
    return "--radio 0 is the broadcast address, which a bridge does not serve";
  }
  return {};
}

Remote::Remote(const common::BrokerOptions &options, int radio)
    : options_(options),
      radio_(radio),
      topics_(common::lineTopic(options)),
      client_id_(uniqueId()) {}

Remote::~Remote() {
  if (client_ == nullptr) return;
  mosquitto_disconnect(client_);
  mosquitto_destroy(client_);
  mosquitto_lib_cleanup();
}

std::string Remote::where() const {
  return "line " + common::lineTopic(options_) + " at broker " + options_.host + ":" +
         std::to_string(options_.port);
}

std::string Remote::replyTopic() const {
  return topics_.replyPrefix(options_.user) + client_id_;
}

bool Remote::openFailure(const std::string &message, int error_number, Json &failure,
                         const char *code) const {
  failure = failureObject("", code, error_number, message);
  return false;
}

// Runs the library's loop until `done()` (returns MOSQ_ERR_SUCCESS), until
// `deadline` (returns -1) or until the loop fails (returns its result
// code).
template <typename Done>
int Remote::waitFor(Done done, std::chrono::steady_clock::time_point deadline) {
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return -1;
    const int rc = mosquitto_loop(client_, kLoopStepMs, 1);
    // The broker may answer and then close, as it does after a refused login.
    if (rc != MOSQ_ERR_SUCCESS) return done() ? MOSQ_ERR_SUCCESS : rc;
  }
  return MOSQ_ERR_SUCCESS;
}

bool Remote::open(Json &failure) {
  const std::string broker = "broker " + options_.host + ":" + std::to_string(options_.port);
  common::ClientProblem problem;
  client_ = common::newClient(client_id_, this, options_, problem);
  if (client_ == nullptr) return openFailure(problem.message, problem.error_number, failure);
  mosquitto_connect_v5_callback_set(client_, Callbacks::onConnect);
  mosquitto_subscribe_v5_callback_set(client_, Callbacks::onSubscribe);
  mosquitto_publish_v5_callback_set(client_, Callbacks::onPublish);
  mosquitto_message_v5_callback_set(client_, Callbacks::onMessage);
  int rc = mosquitto_connect_bind_v5(client_, options_.host.c_str(), options_.port,
                                     options_.keepalive, nullptr, nullptr);
  if (rc == MOSQ_ERR_SUCCESS) rc = waitFor([this] { return connect_code_ >= 0; });
  if (rc != MOSQ_ERR_SUCCESS) {
    const int error_number = rc == MOSQ_ERR_ERRNO ? errno : rc < 0 ? ETIMEDOUT : 0;
    return openFailure(
        "cannot connect to " + broker + ": " + (rc < 0 ? "no answer" : common::describeMqtt(rc)),
        error_number, failure);
  }
  if (connect_code_ != 0) {
    const bool login = connect_code_ == MQTT_RC_BAD_USERNAME_OR_PASSWORD ||
                       connect_code_ == MQTT_RC_NOT_AUTHORIZED;
    return openFailure(broker + " refused the connection: " + common::describeMqtt(connect_code_),
                       login ? EACCES : 0, failure);
  }
  const std::string reply_topic = replyTopic();
  if (!subscribe(reply_topic)) {
    return openFailure("not allowed to read replies at " + reply_topic + " (" + broker + ": " +
                           (granted_ < 0 ? "no answer" : common::describeMqtt(granted_)) + ")",
                       EACCES, failure);
  }
  return checkStatus(failure);
}

// Subscribes to `topic`; false when the broker refused or did not answer.
bool Remote::subscribe(const std::string &topic) {
  granted_ = -1;
  int rc = mosquitto_subscribe_v5(client_, nullptr, topic.c_str(), common::kQos, 0, nullptr);
  if (rc == MOSQ_ERR_SUCCESS) rc = waitFor([this] { return granted_ >= 0; });
  return rc == MOSQ_ERR_SUCCESS && granted_ < MQTT_RC_UNSPECIFIED;
}

// The line's retained status: a bridge that is offline, or none at all,
// is "no-bridge" before anything is sent. A broker that withholds the
// status leaves it to the replies to tell.
bool Remote::checkStatus(Json &failure) {
  if (!subscribe(topics_.status())) return true;
  waitFor([this] { return status_seen_; }, kStatusWait);
  const std::string &line = options_.line;
  if (!status_seen_) return openFailure("no bridge serves line " + line, 0, failure, kCodeNoBridge);
  Json instance;
  if (!common::readStatus(status_, instance)) {
    return openFailure("the bridge of line " + line + " is offline", 0, failure, kCodeNoBridge);
  }
  return true;
}

// Whether the line's status, followed since open(), says the bridge is offline.
bool Remote::bridgeOffline() const {
  Json instance;
  return status_seen_ && !common::readStatus(status_, instance);
}

bool Remote::run(const Invocation &invocation, Json &result) {
  const std::string topic = topics_.request(radio_, options_.user);
  const std::string payload = Json{{"command", invocation.text}, {"interim", true}}.dump();
  const std::string correlation = std::to_string(++sent_);
  const std::string reply_topic = replyTopic();
  mosquitto_property *properties = nullptr;
  mosquitto_property_add_string(&properties, MQTT_PROP_RESPONSE_TOPIC, reply_topic.c_str());
  mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA, correlation.data(),
                                static_cast<uint16_t>(correlation.size()));
  mosquitto_property_add_int32(&properties, MQTT_PROP_MESSAGE_EXPIRY_INTERVAL,
                               static_cast<uint32_t>(kRequestExpiry.count()));
  taken_ = false;
  replied_ = false;
  publish_code_ = -1;
  const auto deadline = std::chrono::steady_clock::now() + kRequestExpiry;
  int rc =
      mosquitto_publish_v5(client_, &publish_mid_, topic.c_str(), static_cast<int>(payload.size()),
                           payload.data(), common::kQos, false, properties);
  mosquitto_property_free_all(&properties);
  if (rc == MOSQ_ERR_SUCCESS) {
    rc = waitFor([this] { return replied_ || taken_ || publish_code_ >= MQTT_RC_UNSPECIFIED; },
                 deadline + kTakenGrace);
  }
  if (rc == MOSQ_ERR_SUCCESS && taken_) {
    rc = waitFor([this] { return replied_ || bridgeOffline(); }, deadline + kAnswerWait);
  }
  if (rc == MOSQ_ERR_SUCCESS && replied_) {
    result = resultOf(invocation, reply_);
  } else if (rc == MOSQ_ERR_SUCCESS && !taken_) {
    result = failureObject(common::commandName(invocation), common::kCodeOpenFailed, EACCES,
                           "the broker does not let radioctl send to " + topic + ": " +
                               common::describeMqtt(publish_code_),
                           invocation.line);
  } else {
    result = unanswered(invocation, rc);
  }
  return result.value("ok", false);
}

Json Remote::retainedState() {
  state_topic_ = topics_.state(radio_);
  if (!subscribe(state_topic_)) return nullptr;
  waitFor([this] { return state_seen_; }, kStatusWait);
  const Json state = Json::parse(state_, nullptr, false);
  return state.is_object() ? state : Json();
}

// The failure of a request that got no final reply: the wait ended
// (`rc` -1), the bridge went offline (0) or the broker was lost.
Json Remote::unanswered(const Invocation &invocation, int rc) const {
  const std::string name = common::commandName(invocation);
  const std::string line = "the bridge of " + where();
  if (rc > 0) {
    return failureObject(name, common::kCodeLineLost, 0,
                         "lost the broker of " + where() + ": " + common::describeMqtt(rc) +
                             (taken_ ? " (the bridge had taken the request; it may have run)" : ""),
                         invocation.line);
  }
  if (taken_) {
    return failureObject(name, kCodeBridgeLost, 0,
                         line +
                             (rc == 0 ? " went offline"
                                      : " sent no answer " + std::to_string(kAnswerWait.count()) +
                                            " s past the request's deadline") +
                             " after it took the request: it may or may not have run",
                         invocation.line);
  }
  // The broker may grant a subscription and then withhold what it carries.
  const std::string reader = options_.user.empty() ? "this client" : options_.user;
  return failureObject(name, kCodeNoBridge, 0,
                       "no bridge took the request for radio " + common::radioName(radio_) +
                           " on " + where() + " within " +
                           std::to_string((kRequestExpiry + kTakenGrace).count()) +
                           " s, and none will run it: none serves it, or replies at " +
                           replyTopic() + " are not readable for " + reader,
                       invocation.line);
}

}  // namespace radioctl
