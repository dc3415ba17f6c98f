// SPDX-License-Identifier: MIT
// radiobridge: the radios on one serial line, reached through an MQTT
// broker. main owns the start and stop order and the signals. Start: read
// the options (a bad command line stops here), open and lock the line (a
// device another program holds, or a baud rate it cannot run at, stops
// here, before the broker is reached), block SIGINT, SIGTERM and SIGUSR1 in
// every thread to come, start the worker (it reads the radios), then the
// session (its network thread connects and claims the line). main then
// waits for a signal: SIGINT or SIGTERM stop the bridge, SIGUSR1 is how
// the session reports a fatal refusal or another bridge serving the line.
// Stop: close the queue, let the worker finish its exchange and answer
// what is queued, publish "offline" if the line was claimed and disconnect,
// close the line. Exit 0 after a signal, 1 after a runtime failure
// (standard output that cannot take --help or --version included), 2 for a
// usage error.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <iostream>
#include <mutex>
#include <thread>

#include "log.h"
#include "metrics.h"
#include "options.h"
#include "queue.h"
#include "session.h"
#include "status.h"
#include "topics.h"
#include "worker.h"

namespace {

using namespace radiobridge;

// The session's report of a fatal refusal, for main to act on.
class Fatal {
 public:
  void report(const std::string &message) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      message_ = message;
    }
    ::kill(::getpid(), SIGUSR1);
  }
  std::string message() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return message_;
  }

 private:
  std::mutex mutex_;
  std::string message_;
};

std::string hostName() {
  char name[256] = {};
  return ::gethostname(name, sizeof name - 1) == 0 ? name : "localhost";
}

SessionSettings sessionSettings(const Options &options) {
  SessionSettings settings;
  const std::string host = hostName();
  settings.client_id = std::string(kProgram) + "-" + host + "-" + options.broker.line + "-" +
                       std::to_string(::getpid());
  settings.instance = instanceId(host, ::getpid(), static_cast<long>(std::time(nullptr)));
  settings.broker = options.broker;
  settings.request_expiry = std::chrono::seconds(options.request_expiry);
  return settings;
}

// Adds one line of the library's trace, with -v, to the log.
void traceToLog(void * /*context*/, const char *text) {
  logLine(text);
}

WorkerSettings workerSettings(const Options &options) {
  WorkerSettings settings;
  settings.line = options.line;
  settings.radios = options.radios;
  settings.controller = options.controller;
  settings.heartbeat = std::chrono::seconds(options.heartbeat);
  settings.line.trace = options.trace ? traceToLog : nullptr;
  return settings;
}

// Waits for a stop signal or a fatal report; returns the exit status.
int waitForStop(const sigset_t &signals, Fatal &fatal) {
  for (;;) {
    const int signal = ::sigwaitinfo(&signals, nullptr);
    if (signal == SIGINT || signal == SIGTERM) return common::kExitOk;
    const std::string message = signal == SIGUSR1 ? fatal.message() : std::string();
    if (!message.empty()) {
      logLine(std::string(kProgram) + ": " + message);
      return common::kExitFailed;
    }
  }
}

int run(int argc, char **argv) {
  const ParsedOptions parsed = parseOptions(argc, argv);
  if (!parsed.run) {
    std::cerr << parsed.error << std::flush;
    if (std::cout << parsed.output << std::flush) return parsed.status;
    logLine(std::string(kProgram) + ": cannot write to standard output: " + std::strerror(errno));
    return common::kExitFailed;
  }
  const Options &options = parsed.options;
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGINT, SIGTERM, SIGUSR1}) sigaddset(&signals, signal);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  const common::Topics topics(common::lineTopic(options.broker), options.reply_prefix,
                              options.radios);
  RequestQueue queue(static_cast<std::size_t>(options.queue_size));
  const Discovery discovery(
      {options.discovery, options.discovery_prefix, options.broker.topic_base, options.broker.line},
      topics);
  Fatal fatal;
  Metrics metrics(Clock::now());
  Session session(sessionSettings(options), topics, discovery, queue, metrics,
                  [&fatal](const std::string &message) { fatal.report(message); });
  Worker worker(workerSettings(options), queue, session, topics, discovery, metrics);
  std::string unusable;
  if (!worker.lockLine(unusable)) {
    logLine(std::string(kProgram) + ": " + unusable);
    return common::kExitFailed;
  }
  std::thread worker_thread([&worker] { worker.run(); });
  std::string error;
  int status = common::kExitOk;
  if (session.start(error)) {
    status = waitForStop(signals, fatal);
  } else {
    logLine(std::string(kProgram) + ": " + error);
    status = common::kExitFailed;
  }
  queue.close();
  worker_thread.join();
  session.stop();
  worker.closeLine();
  return status;
}

}  // namespace

int main(int argc, char **argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception &error) {
    radiobridge::logLine(std::string(radiobridge::kProgram) + ": " + error.what());
    return common::kExitFailed;
  }
}
