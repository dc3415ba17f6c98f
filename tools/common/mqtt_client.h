// SPDX-License-Identifier: MIT
// One MQTT client set up the same way for radiobridge and radioctl
// --broker: MQTT 5, TCP_NODELAY, the login with the password read from its
// file, and TLS from --cafile, --cert and --key, with one set of messages
// for what goes wrong. Connecting, callbacks and the loop stay with each
// program. The only shared file that includes mosquitto.h.
#ifndef RADIOLINE_COMMON_MQTT_CLIENT_H
#define RADIOLINE_COMMON_MQTT_CLIENT_H

#include <string>

#include "broker_options.h"

struct mosquitto;

namespace common {

// Requests, the line's status and the radios' state go with QoS 1.
constexpr int kQos = 1;

// libmosquitto's text for one of its result codes (the system's for
// MOSQ_ERR_ERRNO) or for a protocol reason code, as a phrase to follow a
// colon: "the connection was lost".
std::string describeMqtt(int code);

// Why a client could not be made: a message, and the system's error number
// (0 when none applies).
struct ClientProblem {
  std::string message;
  int error_number = 0;
};

// Reads the password file, checks that the TLS files can be read, then
// creates the client `id` (calling back with `object`) set up for
// `options`. Returns nullptr with `problem` set when any step fails; the
// caller destroys the client and calls mosquitto_lib_cleanup() when done.
struct mosquitto *newClient(const std::string &id, void *object, const BrokerOptions &options,
                            ClientProblem &problem);

}  // namespace common

#endif  // RADIOLINE_COMMON_MQTT_CLIENT_H
