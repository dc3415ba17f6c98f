// SPDX-License-Identifier: MIT
// radioctl through a bridge: instead of opening a device, radioctl sends
// each command to the radiobridge that owns the line, over an MQTT broker.
// Remote is one MQTT 5 client with an id of its own; it subscribes to its
// reply topic BASE/LINE/reply/ID (BASE/LINE/reply/USER/ID with --user),
// reads the line's retained status (a line whose bridge is offline, or
// that no bridge has ever served, is reported at once and nothing is
// sent), and sends each command's text to the radio's request topic
// (BASE/LINE/R/request/USER with --user, so that the broker's ACL can vouch
// for who asks) with that response topic, a correlation number and a
// deadline (its message expiry), asking for the bridge's interim message.
// It says "no-bridge" only when no bridge took the request by the deadline
// (and a little more for the word to come back); once one took it, it
// waits for the one final reply, which the bridge sends ("expired" when it
// could not start in time, else the radio's outcome), unless the bridge
// goes offline first ("bridge-lost"). The bridge answers with the object
// radioctl --json prints, so a reply is printed as a local result is. The broker's address, the
// line's name, the topic base and the login are read, and the client set up, by the readers the
// bridge uses too, so both programs take the same values. This is the one radioctl file that
// includes mosquitto.h.
#ifndef RADIOCTL_REMOTE_H
#define RADIOCTL_REMOTE_H

#include <chrono>
#include <string>

#include "broker_options.h"
#include "commands.h"
#include "topics.h"

struct mosquitto;

namespace radioctl {

// How long radioctl waits for the broker to accept the connection and a
// subscription.
constexpr std::chrono::seconds kBrokerWait{10};
// A request's deadline, sent as its message expiry: no bridge starts it
// later. radioctl waits that long, and kTakenGrace more for the bridge's
// word that it took the request, before it says no bridge did.
constexpr std::chrono::seconds kRequestExpiry{10};
constexpr std::chrono::seconds kTakenGrace{2};
// How long past the deadline radioctl waits for the answer to a request a
// bridge took: the exchange running then, and its own, end well before.
constexpr std::chrono::seconds kAnswerWait{30};
// How long it waits for the line's retained status: a broker sends it at
// once, so none by then means no bridge ever served the line.
constexpr std::chrono::seconds kStatusWait{2};

// No bridge took the request in time: none serves the line or the radio,
// or it is down; the request will not run.
constexpr const char *kCodeNoBridge = "no-bridge";
// The bridge took the request and went away before it answered: whether
// the request ran is not known.
constexpr const char *kCodeBridgeLost = "bridge-lost";

// The options that lead to a bridge: --broker as the user wrote it, and
// where it leads (the login, TLS, --topic-base, and --line, which is the
// bridge's --name).
struct RemoteOptions {
  std::string broker;
  common::BrokerOptions bridge;
};

// Checks the options for a bridge serving `radio` and reads the broker's
// address into options.bridge; returns the usage problem or an empty string.
std::string readRemote(RemoteOptions &options, int radio);

class Remote {
 public:
  Remote(const common::BrokerOptions &options, int radio);
  Remote(const Remote &) = delete;
  Remote &operator=(const Remote &) = delete;
  // Disconnects.
  ~Remote();

  // Reads the password, connects, subscribes to the reply topic and reads
  // the line's status. On failure `failure` is the failure object to report
  // ("open-failed", or "no-bridge" for a line no bridge serves now).
  bool open(common::Json &failure);

  // Sends the invocation's command as it was written and sets `result` to
  // the bridge's reply (with the script line, as a local run has it) or to
  // a failure object; returns whether the command succeeded.
  bool run(const common::Invocation &invocation, common::Json &result);

  // The radio's state as the bridge retains it (what it last set among
  // it), or null when none comes within kStatusWait.
  common::Json retainedState();

 private:
  struct Callbacks;
  friend struct Callbacks;

  template <typename Done>
  int waitFor(Done done, std::chrono::steady_clock::time_point deadline);
  template <typename Done>
  int waitFor(Done done, std::chrono::seconds limit = kBrokerWait) {
    return waitFor(done, std::chrono::steady_clock::now() + limit);
  }
  bool bridgeOffline() const;
  common::Json unanswered(const common::Invocation &invocation, int rc) const;
  bool openFailure(const std::string &message, int error_number, common::Json &failure,
                   const char *code = common::kCodeOpenFailed) const;
  bool subscribe(const std::string &topic);
  bool checkStatus(common::Json &failure);
  std::string where() const;
  std::string replyTopic() const;

  common::BrokerOptions options_;
  int radio_;
  common::Topics topics_;  // of the line BASE/LINE
  std::string client_id_;
  struct mosquitto *client_ = nullptr;
  int connect_code_ = -1;  // the broker's answer to the connection, -1 while none came
  int granted_ = -1;       // the last subscription's granted QoS or reason code
  std::string status_;     // the line's status, empty while none came
  bool status_seen_ = false;
  std::string state_topic_;  // the radio's state, once retainedState() asked for it
  std::string state_;
  bool state_seen_ = false;
  int sent_ = 0;           // correlation number of the last request sent
  int publish_code_ = -1;  // the broker's answer to that request
  int publish_mid_ = -1;
  bool taken_ = false;  // a bridge said it took the request `sent_`
  std::string reply_;   // the final reply whose correlation is `sent_`
  bool replied_ = false;
};

}  // namespace radioctl

#endif  // RADIOCTL_REMOTE_H
