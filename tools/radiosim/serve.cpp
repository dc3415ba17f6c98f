// SPDX-License-Identifier: MIT
// Serving loop of the radio. The line's device path is the first line on
// stdout, then one line per frame heard. Once a client has closed the
// slave, the pseudo-terminal master reports a hang-up (POLLHUP, reads fail
// with EIO) until another client opens it, and some kernels report the same
// before the first client ever opens it. So the loop sleep-polls while the
// line shows a hang-up, serves the client once it has cleared, and ends when the
// line hangs up during service, or goes back to waiting when asked to stay.
// A change is saved before the radio acknowledges it. With --wire-baud the
// loop paces what it sends as a line at that speed would: no byte leaves
// before the request could have arrived, and each takes its wire time.
#include "serve.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "line_faults.h"
#include "pty.h"
#include "state_file.h"

namespace radiosim {
namespace {

constexpr auto kClientPoll = std::chrono::milliseconds(10);
constexpr double kBitsPerByte = 10;  // start bit, eight data bits, stop bit
constexpr std::size_t kReadChunk = 256;

void say(const std::string &line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

void complain(const std::string &line) {
  std::fprintf(stderr, "radiosim: %s\n", line.c_str());
}

class Server {
 public:
  Server(const SimOptions &options, const PseudoTerminal &line, Radio radio, StateFile *state)
      : options_(options), line_(line), faults_(options, std::move(radio), keeper(state)) {
    if (options.wire_baud > 0) {
      byte_time_ = std::chrono::duration_cast<Clock::duration>(
          std::chrono::duration<double>(kBitsPerByte / options.wire_baud));
    }
  }

  // Serves until stopped or left; false when the line failed.
  bool run();

 private:
  enum class End { kContinue, kHungUp, kStopped, kFailed };

  static Keeper keeper(StateFile *state);
  bool awaitClient() const;
  End serveClient();
  End readLine();
  void transmit(const Transmission &transmission);
  bool send(const Bytes &bytes);

  const SimOptions &options_;
  const PseudoTerminal &line_;
  LineFaults faults_;
  Clock::duration byte_time_{};    // wire time of one byte; zero: no pacing
  Clock::time_point first_heard_;  // when the first byte since the last frame came
  std::size_t heard_ = 0;          // bytes since the last frame
  Clock::time_point line_free_;    // when the last byte sent is through
};

Keeper Server::keeper(StateFile *state) {
  if (state == nullptr) {
    return {};
  }
  return [state](const Radio &radio, std::string &error) { return state->save(radio, error); };
}

bool Server::run() {
  do {
    if (!awaitClient()) {
      return true;
    }
    const End end = serveClient();
    if (end != End::kHungUp) {
      return end == End::kStopped;
    }
    say("client gone");
  } while (options_.stay);
  return true;
}

bool Server::awaitClient() const {
  for (;;) {
    short revents = 0;
    if (waitFor(line_.fd(), POLLIN, std::chrono::nanoseconds::zero(), revents) == Wait::kStopped) {
      return false;
    }
    if ((revents & POLLHUP) == 0 || (revents & POLLIN) != 0) {
      return true;
    }
    if (waitFor(-1, 0, kClientPoll, revents) == Wait::kStopped) {
      return false;
    }
  }
}

Server::End Server::serveClient() {
  for (;;) {
    short revents = 0;
    switch (waitFor(line_.fd(), POLLIN, kForever, revents)) {
      case Wait::kStopped:
        return End::kStopped;
      case Wait::kFailed:
        complain(std::string("waiting on the line: ") + std::strerror(errno));
        return End::kFailed;
      case Wait::kReady: {
        const End end = readLine();
        if (end != End::kContinue) {
          return end;
        }
        break;
      }
      case Wait::kTimedOut:
        break;
    }
  }
}

// Reads what the line holds and answers it.
Server::End Server::readLine() {
  std::array<std::uint8_t, kReadChunk> chunk{};
  const ssize_t n = ::read(line_.fd(), chunk.data(), chunk.size());
  if (n > 0) {
    const Clock::time_point arrived = Clock::now();
    for (ssize_t i = 0; i < n; ++i) {
      if (heard_++ == 0) {
        first_heard_ = arrived;
      }
      if (auto transmission = faults_.receive(chunk[static_cast<std::size_t>(i)])) {
        transmit(*transmission);
        heard_ = 0;
      }
    }
    return End::kContinue;
  }
  if (n == 0 || errno == EIO) {
    return End::kHungUp;
  }
  if (errno == EAGAIN) {
    return End::kContinue;
  }
  complain(std::string("reading the line: ") + std::strerror(errno));
  return End::kFailed;
}

void Server::transmit(const Transmission &transmission) {
  // The echo comes back as the request goes out; nothing else leaves before
  // the request's bytes could all have come in.
  bool sent = line_.writeAll(transmission.heard);
  line_free_ = std::max(line_free_, first_heard_ + byte_time_ * static_cast<Clock::rep>(heard_));
  if (sent && !transmission.answer.empty() && options_.delay_ms > 0) {
    pauseUntil(Clock::now() + std::chrono::milliseconds(options_.delay_ms));
  }
  sent = sent && send(transmission.answer);
  if (!sent && !stopRequested()) {
    complain(std::string("reply not sent: ") + std::strerror(errno));
  }
  say(transmission.log);
}

// Writes the bytes; paced, each leaves when the one before is through and
// takes one byte time.
bool Server::send(const Bytes &bytes) {
  if (byte_time_ == Clock::duration::zero()) {
    return line_.writeAll(bytes);
  }
  for (const std::uint8_t byte : bytes) {
    line_free_ = std::max(line_free_, Clock::now()) + byte_time_;
    if (pauseUntil(line_free_) == Wait::kStopped || !line_.writeAll({byte})) {
      return false;
    }
  }
  return true;
}

}  // namespace

int runRadio(const SimOptions &options) {
  Radio radio;
  radio.version = options.version_text;
  std::string error;
  StateFile state;
  PseudoTerminal line;
  SlaveLink link;
  if ((!options.state_path.empty() && !state.open(options.state_path, radio, error)) ||
      !installStopHandlers(error) || !line.open(error) ||
      (!options.link_path.empty() && !link.create(options.link_path, line.slavePath(), error))) {
    complain(error);
    return 1;
  }
  say(line.slavePath());
  Server server(options, line, std::move(radio), options.state_path.empty() ? nullptr : &state);
  return server.run() ? 0 : 1;
}

}  // namespace radiosim
