// SPDX-License-Identifier: MIT
// Broker, runClient and Subscriber: a private mosquitto for each test and
// the mosquitto clients that talk to it.
#include "broker.h"

#include <arpa/inet.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

namespace {

constexpr const char *kLoopback = "127.0.0.1";
// The project's example broker files, which the guides show and the package installs.
const std::string kExamples = std::string(RADIOLINE_EXAMPLES_DIR) + "/";
// The options of the example link that name the site and its password.
const std::regex kSiteOptions("^(#.*|address .*|remote_password .*|)$");

// Each user's password is its name and this.
constexpr const char *kPasswordEnd = "-secret";
// A central broker's link to a site's broker logs in there as this user.
constexpr const char *kLinkUser = "central";

// A port nobody listens on now: the one the kernel picks for a fresh socket.
int freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  socklen_t length = sizeof address;
  const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), length) == 0 &&
                     ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0;
  ::close(fd);
  return bound ? ntohs(address.sin_port) : 0;
}

// Full path of a program found on PATH or in the system directories.
std::string findProgram(const std::string &name) {
  const char *path = std::getenv("PATH");
  std::istringstream dirs(std::string(path == nullptr ? "" : path) + ":/usr/sbin:/sbin");
  for (std::string dir; std::getline(dirs, dir, ':');) {
    std::string candidate = dir + "/" + name;
    if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return name;
}

}  // namespace

Words joined(std::initializer_list<Words> lists) {
  Words all;
  for (const Words &list : lists) all.insert(all.end(), list.begin(), list.end());
  return all;
}

bool waitForErrors(const Process &process, const std::string &text, int seconds) {
  return pollFor(seconds, [&] { return process.errors().find(text) != std::string::npos; });
}

Broker::Broker(const std::string &acl, const Broker *site)
    : port_(freePort()), tls_port_(freePort()) {
  for (const char *user : {kBridgeUser, kAdminUser, kAlice, kBob, kLinkUser}) {
    const std::string password = user + std::string(kPasswordEnd);
    std::ofstream(passwordFile(user)) << password << '\n';
    std::ofstream(dir_.file("passwords"), std::ios::app) << user << ':' << password << '\n';
  }
  Process(findProgram("mosquitto_passwd"), {"-U", dir_.file("passwords")}).waitForExit();
  std::filesystem::copy_file(kExamples + acl, dir_.file("acl"));
  // One self-signed certificate for 127.0.0.1 is the server's and the CA clients trust.
  Process(findProgram("openssl"),
          {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
           "-days", "2", "-keyout", dir_.file("server.key"), "-out", caFile(), "-subj",
           "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"})
      .waitForExit();
  // As root, mosquitto would drop to its own user, who may not read this
  // directory; naming the user it already runs as keeps it as it is. With
  // set_tcp_nodelay, small packets go out at once, not after the peer's
  // delayed acknowledgement.
  const passwd *self = ::getpwuid(::geteuid());
  std::ofstream(dir_.file("mosquitto.conf"))
      << "set_tcp_nodelay true\nuser " << (self != nullptr ? self->pw_name : "root")
      << "\npassword_file " << dir_.file("passwords") << "\nacl_file " << dir_.file("acl")
      << "\nlistener " << port_ << ' ' << kLoopback << "\nlistener " << tls_port_ << ' '
      << kLoopback << "\ncafile " << caFile() << "\ncertfile " << caFile() << "\nkeyfile "
      << dir_.file("server.key") << '\n';
  // The example link to `site`, reconnecting one to two seconds after it dropped (mosquitto
  // 2.0.11 waits some 5 s when given one constant time).
  if (site != nullptr) {
    std::ofstream config(dir_.file("mosquitto.conf"), std::ios::app);
    std::ifstream example(kExamples + "radioline-central.conf");
    for (std::string line; std::getline(example, line);)
      if (!std::regex_match(line, kSiteOptions)) config << line << '\n';
    config << "address " << site->address() << "\nremote_password " << kLinkUser << kPasswordEnd
           << "\nrestart_timeout 1 2\n";
  }
  start();
}

bool Broker::start() {
  process_.emplace(findProgram("mosquitto"), Words{"-c", dir_.file("mosquitto.conf")});
  // mosquitto says it runs once every listener is open.
  return waitForErrors(*process_, " running", 5);
}

std::string Broker::address(bool tls) const {
  return std::string(kLoopback) + ":" + std::to_string(tls ? tls_port_ : port_);
}

Words Broker::login(const std::string &user) const {
  return {"-h", kLoopback, "-p", std::to_string(port_), "-u", user, "-P", user + kPasswordEnd};
}

std::string Broker::retained(const std::string &topic, const std::string &user) const {
  const Words once{"--retained-only", "-C", "1", "-W", "1", "-t", topic};
  return runClient("mosquitto_sub", joined({login(user), once})).out;
}

bool Broker::retainedHolds(const std::string &topic, const std::string &text) const {
  return pollFor(10, [&] { return retained(topic).find(text) != std::string::npos; });
}

ClientRun runClient(const std::string &program, const Words &args, const std::string &input) {
  Process run(findProgram(program), args, input);
  int status = -1;
  // Each of Process's waits is bounded; clients wait up to 10 s by themselves.
  for (int wait = 0; wait < 6 && status == -1; ++wait) status = run.waitForExit();
  return {status, run.output(), run.errors()};
}

// Line-buffered, so that the subscription shows as it happens; each payload
// is marked with '#' to tell it from the client's own debugging lines.
Subscriber::Subscriber(const Broker &broker, const Words &topics, const std::string &user)
    : Process(findProgram("stdbuf"), joined({{"-oL", findProgram("mosquitto_sub")},
                                             broker.login(user),
                                             {"-d", "-q", "1", "-F", "#%p"},
                                             topics})) {
  waitForOutput("Subscribed (mid");
}

Words Subscriber::messages() const {
  std::istringstream out(output());
  Words found;
  for (std::string line; std::getline(out, line);)
    if (!line.empty() && line[0] == '#') found.push_back(line.substr(1));
  return found;
}

bool Subscriber::waitForMessages(std::size_t count, int seconds) const {
  return pollFor(seconds, [&] { return messages().size() >= count; });
}
