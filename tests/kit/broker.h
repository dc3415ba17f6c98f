// SPDX-License-Identifier: MIT
// Test kit for the network side: Broker runs a real mosquitto on free
// loopback ports with one of the project's example ACLs, a password file
// and a TLS listener whose certificate it makes with openssl, and, as a
// central broker, a link to a site's broker as the example central
// configuration makes it; it waits until the broker accepts connections
// and stops it by pid, and can start it again on the same ports.
// runClient and Subscriber run the mosquitto command-line clients against
// it.
#ifndef RADIOLINE_TESTS_BROKER_H
#define RADIOLINE_TESTS_BROKER_H

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "simproc.h"

using Words = std::vector<std::string>;

// The users the broker knows, with the example ACL: the bridge reads and
// writes everything under radioline/ and homeassistant/, the administrator
// (the dashboards' hub) also writes the plain request topics and reads
// everything, and each user (alice, bob)
// writes only its own request topics and reads its own replies, the
// status and the state.
constexpr const char *kBridgeUser = "bridge";
constexpr const char *kAdminUser = "admin";
constexpr const char *kAlice = "alice";
constexpr const char *kBob = "bob";

// The words of every list in `lists`, in order.
Words joined(std::initializer_list<Words> lists);
// Polls (bounded) until `process` has written `text` to standard error.
bool waitForErrors(const Process &process, const std::string &text, int seconds = 10);

class Broker {
 public:
  // Makes the configuration and a certificate and starts it, listening
  // plain and over TLS, with the example ACL `acl`; with `site`, linked to
  // that broker as radioline-central.conf links a site's broker.
  explicit Broker(const std::string &acl = "radioline.acl", const Broker *site = nullptr);
  // Starts mosquitto and waits (bounded) until every listener accepts a
  // connection; false when it did not come up.
  bool start();
  // SIGTERM, then waits for its exit.
  void stop() { process_.reset(); }

  // "127.0.0.1:PORT" of the plain or of the TLS listener.
  std::string address(bool tls = false) const;
  std::string caFile() const { return dir_.file("ca.crt"); }
  // A file whose first line is `user`'s password.
  std::string passwordFile(const std::string &user) const { return dir_.file(user + ".password"); }
  // Options that connect a mosquitto client as `user`.
  Words login(const std::string &user) const;
  // The retained message on `topic` that `user` reads, and a newline, or
  // "" when there is none.
  std::string retained(const std::string &topic, const std::string &user = kAdminUser) const;
  // Polls (bounded) until the retained message on `topic` contains `text`.
  bool retainedHolds(const std::string &topic, const std::string &text) const;
  // What mosquitto has logged.
  std::string log() const { return process_ ? process_->errors() : std::string(); }

 private:
  TempDir dir_;
  int port_;
  int tls_port_;
  std::optional<Process> process_;
};

struct ClientRun {
  int status;
  std::string out;
  std::string err;
};

// Runs mosquitto_rr, mosquitto_pub, mosquitto_sub or another `program` to
// its end; the client's own time limit (-W) bounds it.
ClientRun runClient(const std::string &program, const Words &args, const std::string &input = {});

// mosquitto_sub in the background as `user`, subscribed once constructed
// to the topics in `topics`, each after a "-t".
class Subscriber : public Process {
 public:
  Subscriber(const Broker &broker, const Words &topics, const std::string &user = kAdminUser);
  // The payloads so far, one line each.
  Words messages() const;
  // Waits (bounded) until `count` messages have arrived.
  bool waitForMessages(std::size_t count, int seconds = 10) const;
};

#endif
