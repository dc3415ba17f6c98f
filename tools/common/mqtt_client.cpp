// SPDX-License-Identifier: MIT
// Creating the MQTT client both programs use. Everything that can fail for
// a reason the user can mend (the password file, the TLS files) is checked
// before the library is set up, so a failure leaves no client behind.
#include "mqtt_client.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <utility>

namespace common {
namespace {

// A library's message as a phrase to follow a colon: "the connection was
// lost".
std::string phrase(std::string text) {
  if (!text.empty() && text.back() == '.') text.pop_back();
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

bool fail(ClientProblem &problem, std::string message, int error_number) {
  problem = {std::move(message), error_number};
  return false;
}

// The first line of the password file, without a trailing CR.
bool readPassword(const std::string &path, std::string &password, ClientProblem &problem) {
  std::ifstream file(path);
  if (!file || !std::getline(file, password)) {
    return fail(problem, "cannot read the password from " + path, errno);
  }
  if (!password.empty() && password.back() == '\r') password.pop_back();
  return true;
}

bool readableFiles(const BrokerOptions &options, ClientProblem &problem) {
  const std::pair<const char *, const std::string &> files[] = {
      {"--cafile", options.cafile}, {"--cert", options.cert}, {"--key", options.key}};
  for (const auto &[option, path] : files) {
    if (!path.empty() && ::access(path.c_str(), R_OK) != 0) {
      const int error_number = errno;
      return fail(problem, std::string(option) + " " + path + ": " + std::strerror(error_number),
                  error_number);
    }
  }
  return true;
}

bool configure(struct mosquitto *client, const BrokerOptions &options, const std::string &password,
               ClientProblem &problem) {
  mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
  // A small packet (a request, a reply) leaves at once instead of waiting
  // for the acknowledgement of the one before, some 40 ms.
  mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
  if (!options.user.empty()) {
    mosquitto_username_pw_set(client, options.user.c_str(), password.c_str());
  }
  if (options.cafile.empty()) return true;
  const char *cert = options.cert.empty() ? nullptr : options.cert.c_str();
  const char *key = options.key.empty() ? nullptr : options.key.c_str();
  const int rc = mosquitto_tls_set(client, options.cafile.c_str(), nullptr, cert, key, nullptr);
  if (rc == MOSQ_ERR_SUCCESS) return true;
  return fail(problem, "cannot use the TLS files (--cafile, --cert, --key): " + describeMqtt(rc),
              0);
}

}  // namespace

std::string describeMqtt(int code) {
  if (code == MOSQ_ERR_ERRNO) return phrase(std::strerror(errno));
  return phrase(code >= MQTT_RC_UNSPECIFIED ? mosquitto_reason_string(code)
                                            : mosquitto_strerror(code));
}

struct mosquitto *newClient(const std::string &id, void *object, const BrokerOptions &options,
                            ClientProblem &problem) {
  std::string password;
  if (!options.password_file.empty() && !readPassword(options.password_file, password, problem)) {
    return nullptr;
  }
  if (!readableFiles(options, problem)) return nullptr;
  mosquitto_lib_init();
  struct mosquitto *client = mosquitto_new(id.c_str(), true, object);
  if (client == nullptr) {
    fail(problem, "cannot create an MQTT client", errno);
  } else if (configure(client, options, password, problem)) {
    return client;
  }
  mosquitto_destroy(client);
  mosquitto_lib_cleanup();
  return nullptr;
}

}  // namespace common
