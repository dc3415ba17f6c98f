// SPDX-License-Identifier: MIT
// Serving loop of the radio. The line's device path is the first line on
// stdout, then one line per frame heard. Once a client has closed the
// slave, the pseudo-terminal master reports a hang-up (POLLHUP, reads fail
// with EIO) until another client opens it, and some kernels report the same
// before the first client ever opens it. So the loop sleep-polls while the
// line shows a hang-up, serves the client once it has cleared, and ends when the
// line hangs up during service, or goes back to waiting when asked to stay.
#include "serve.h"

#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "line.h"
#include "sim.h"
#include "state_file.h"

namespace radiosim {
namespace {

constexpr int kClientPollMs = 10;
constexpr std::size_t kReadChunk = 256;

void say(const std::string &line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void complain(const std::string &line) {
  std::fprintf(stderr, "radiosim: %s\n", line.c_str());
}

bool prepareState(const std::string &path, Radio &radio, std::string &error) {
  switch (loadState(path, radio, error)) {
    case StateLoad::Loaded:
      return true;
    case StateLoad::Missing:
      return saveState(path, radio, error);
    case StateLoad::Failed:
      break;
  }
  return false;
}

class Server {
 public:
  Server(const SimOptions &options, const PseudoTerminal &line, Radio radio)
      : options_(options), line_(line), simulator_(options, std::move(radio)) {}

  // Serves until stopped or left; false when the line failed.
  bool run();
  void save() const;

 private:
  enum class End { Continue, HungUp, Stopped, Failed };

  bool awaitClient() const;
  End serveClient();
  End readLine();
  void transmit(const Transmission &transmission);

  const SimOptions &options_;
  const PseudoTerminal &line_;
  Simulator simulator_;
};

bool Server::run() {
  do {
    if (!awaitClient()) {
      return true;
    }
    const End end = serveClient();
    if (end != End::HungUp) {
      return end == End::Stopped;
    }
    say("client gone");
  } while (options_.stay);
  return true;
}

void Server::save() const {
  std::string error;
  if (!options_.statePath.empty() && !saveState(options_.statePath, simulator_.radio(), error)) {
    complain(error);
  }
}

bool Server::awaitClient() const {
  for (;;) {
    short revents = 0;
    if (waitFor(line_.fd(), POLLIN, 0, revents) == Wait::Stopped) {
      return false;
    }
    if ((revents & POLLHUP) == 0 || (revents & POLLIN) != 0) {
      return true;
    }
    if (waitFor(-1, 0, kClientPollMs, revents) == Wait::Stopped) {
      return false;
    }
  }
}

Server::End Server::serveClient() {
  for (;;) {
    short revents = 0;
    switch (waitFor(line_.fd(), POLLIN, -1, revents)) {
      case Wait::Stopped:
        return End::Stopped;
      case Wait::Failed:
        complain(std::string("waiting on the line: ") + std::strerror(errno));
        return End::Failed;
      case Wait::Ready: {
        const End end = readLine();
        if (end != End::Continue) {
          return end;
        }
        break;
      }
      case Wait::TimedOut:
        break;
    }
  }
}

// Reads what the line holds and answers it.
Server::End Server::readLine() {
  std::array<std::uint8_t, kReadChunk> chunk{};
  const ssize_t n = ::read(line_.fd(), chunk.data(), chunk.size());
  if (n > 0) {
    for (ssize_t i = 0; i < n; ++i) {
      if (auto transmission = simulator_.receive(chunk[static_cast<std::size_t>(i)])) {
        transmit(*transmission);
      }
    }
    return End::Continue;
  }
  if (n == 0 || errno == EIO) {
    return End::HungUp;
  }
  if (errno == EAGAIN || errno == EINTR) {
    return End::Continue;
  }
  complain(std::string("reading the line: ") + std::strerror(errno));
  return End::Failed;
}

void Server::transmit(const Transmission &transmission) {
  line_.writeAll(transmission.heard);
  short revents = 0;
  if (!transmission.answer.empty() && options_.delayMs > 0) {
    waitFor(-1, 0, static_cast<int>(options_.delayMs), revents);
  }
  line_.writeAll(transmission.answer);
  if (transmission.changed) {
    save();
  }
  say(transmission.log);
}

}  // namespace

int runRadio(const SimOptions &options) {
  Radio radio;
  radio.version = options.versionText;
  std::string error;
  PseudoTerminal line;
  SlaveLink link;
  if ((!options.statePath.empty() && !prepareState(options.statePath, radio, error)) ||
      !installStopHandlers(error) || !line.open(error) ||
      (!options.linkPath.empty() && !link.create(options.linkPath, line.slavePath(), error))) {
    complain(error);
    return 1;
  }
  say(line.slavePath());
  Server server(options, line, std::move(radio));
  const bool served = server.run();
  server.save();
  return served ? 0 : 1;
}

}  // namespace radiosim
