// SPDX-License-Identifier: MIT
// Benchmark: set-freq through radiobridge and a broker on loopback against the
// wire time of its exchange on a radiosim line paced at 19200 baud: one
// client's request-to-reply time, tuned (libmosquitto with TCP_NODELAY) and
// stock (python3-paho-mqtt at its defaults), the same for a radio that lacks
// one of the readers of its state (radiosim --without get-split), the line's
// use under four clients, and the library and radioctl on the same kind of
// line beside it.
#include <benchmark/benchmark.h>
#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "broker.h"
#include "radioline.h"
#include "simproc.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRadio = 0x20;
constexpr int kController = 0x91;
constexpr long kFrequency = 145500000;
constexpr const char *kSetFreq = "set-freq 145500000";
const std::vector<std::string> kPacedSim{"--wire-baud", "19200", "--stay"};
// FE FE 20 91 05 and five BCD bytes FD out, FE FE 91 20 FB FD back, ten
// bits each at 19200 baud.
constexpr double kWireSeconds = (11 + 6) * 10 / 19200.0;
constexpr int kClients = 4;
constexpr int kRequestsPerClient = 250;
constexpr auto kReplyLimit = std::chrono::seconds(10);
constexpr int kKeepalive = 30;
constexpr double kMilli = 1e3;
constexpr int kStockRequests = 200;
// Debian's python3 (its python3-paho-mqtt lives there) and the stock client.
constexpr const char *kSystemPython = "/usr/bin/python3";
const std::string kStockClient = std::string(BENCH_DIR) + "/stock_client.py";
const std::string kLine = "radioline/bench";

// Set when a request failed, so that the run ends with a failing status.
bool failed = false;

void fail(benchmark::State &state, const char *why) {
  failed = true;
  state.SkipWithError(why);
}

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

void reportLatencies(benchmark::State &state, const std::vector<double> &seconds) {
  if (seconds.empty()) return;
  state.counters["median_ms"] = median(seconds) * kMilli;
  state.counters["wire_ms"] = kWireSeconds * kMilli;
  state.counters["over_wire_ms"] = (median(seconds) - kWireSeconds) * kMilli;
}

// radiosim paced at 19200 baud behind a link, with `sim_options` besides,
// a broker, and the bridge between them as line "bench".
class BridgedLine {
 public:
  explicit BridgedLine(const std::vector<std::string> &sim_options = {})
      : sim_([&] {
          std::vector<std::string> options = kPacedSim;
          options.insert(options.end(), {"--link", link_});
          options.insert(options.end(), sim_options.begin(), sim_options.end());
          return options;
        }()),
        bridge_(RADIOBRIDGE_PATH,
                {"-d", link_, "--name", "bench", "--heartbeat", "0", "--broker", broker_.address(),
                 "--user", kBridgeUser, "--password-file", broker_.passwordFile(kBridgeUser)}),
        ready_(broker_.retainedHolds(kLine + "/20/state", R"("available":true)")) {}

  bool ready() const { return ready_; }
  const Broker &broker() const { return broker_; }

 private:
  TempDir dir_;
  std::string link_ = dir_.file("radio");
  Broker broker_;
  SimProcess sim_;
  Process bridge_;
  bool ready_;
};

const BridgedLine &bridgedLine() {
  static const BridgedLine line;
  return line;
}

// A radio without get-split, which the bridge finds unsupported after two refusals.
const BridgedLine &lackingLine() {
  static const BridgedLine line({"--without", "get-split"});
  return line;
}

// One MQTT 5 client of the bridge: sends a request with a response topic
// of its own and waits for the reply.
class Client {
 public:
  Client(const Broker &broker, int number)
      : client_(mosquitto_new(nullptr, true, this)),
        reply_topic_(kLine + "/reply/bench" + std::to_string(number)) {
    const std::string address = broker.address();
    std::string password;
    std::getline(std::ifstream(broker.passwordFile(kAdminUser)), password);
    mosquitto_int_option(client_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V5);
    mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_username_pw_set(client_, kAdminUser, password.c_str());
    mosquitto_connect_v5_callback_set(client_, onConnect);
    mosquitto_subscribe_v5_callback_set(client_, onSubscribe);
    mosquitto_message_v5_callback_set(client_, onMessage);
    const std::string host = address.substr(0, address.find(':'));
    const int port = std::stoi(address.substr(address.find(':') + 1));
    if (mosquitto_connect(client_, host.c_str(), port, kKeepalive) == MOSQ_ERR_SUCCESS) {
      mosquitto_loop_start(client_);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait_for(lock, kReplyLimit, [this] { return subscribed_; });
  }
  Client(const Client &) = delete;
  Client &operator=(const Client &) = delete;
  ~Client() {
    mosquitto_disconnect(client_);
    mosquitto_loop_stop(client_, false);
    mosquitto_destroy(client_);
  }

  // Sends `command` to radio 20; true when an "ok" reply came back in time.
  bool ask(const char *command) {
    std::unique_lock<std::mutex> lock(mutex_);
    const int before = replies_;
    mosquitto_property *properties = nullptr;
    mosquitto_property_add_string(&properties, MQTT_PROP_RESPONSE_TOPIC, reply_topic_.c_str());
    mosquitto_property_add_binary(&properties, MQTT_PROP_CORRELATION_DATA, &before, sizeof before);
    const std::string request = command;
    const int sent = mosquitto_publish_v5(client_, nullptr, (kLine + "/20/request").c_str(),
                                          static_cast<int>(request.size()), request.data(), 1,
                                          false, properties);
    mosquitto_property_free_all(&properties);
    return sent == MOSQ_ERR_SUCCESS &&
           changed_.wait_for(lock, kReplyLimit, [&] { return replies_ > before; }) && last_ok_;
  }

 private:
  static void onConnect(mosquitto *client, void *self, int rc, int, const mosquitto_property *) {
    if (rc == 0) {
      const std::string &topic = static_cast<Client *>(self)->reply_topic_;
      mosquitto_subscribe_v5(client, nullptr, topic.c_str(), 1, 0, nullptr);
    }
  }
  static void onSubscribe(mosquitto *, void *self, int, int, const int *,
                          const mosquitto_property *) {
    static_cast<Client *>(self)->update([](Client &c) { c.subscribed_ = true; });
  }
  static void onMessage(mosquitto *, void *self, const mosquitto_message *message,
                        const mosquitto_property *) {
    const std::string payload(static_cast<const char *>(message->payload),
                              static_cast<std::size_t>(message->payloadlen));
    static_cast<Client *>(self)->update([&](Client &c) {
      c.last_ok_ = payload.find(R"("ok":true)") != std::string::npos;
      ++c.replies_;
    });
  }
  template <typename Change>
  void update(Change change) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      change(*this);
    }
    changed_.notify_all();
  }

  mosquitto *client_;
  std::string reply_topic_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool subscribed_ = false;
  int replies_ = 0;
  bool last_ok_ = false;
};

// One client, one request at a time: the time from sending a request to
// holding its reply, on a radio with every reader or (argument 1) one that
// lacks one, which the first requests find out.
void BM_BridgeSetFreqOneClient(benchmark::State &state) {
  const BridgedLine &line = state.range(0) == 0 ? bridgedLine() : lackingLine();
  if (!line.ready()) return fail(state, "the broker, radiosim or the bridge did not start");
  Client client(line.broker(), 0);
  for (int warm = 0; warm < 3; ++warm) client.ask(kSetFreq);
  std::vector<double> seconds;
  for (auto _ : state) {
    const auto start = Clock::now();
    if (!client.ask(kSetFreq)) return fail(state, "a request got no ok reply");
    seconds.push_back(secondsSince(start));
  }
  reportLatencies(state, seconds);
}

// A stock client, python3-paho-mqtt at its defaults (Nagle on, QoS 1), as
// alice on her own request topic: the time from sending a request to
// holding its reply.
void BM_BridgeSetFreqStockClient(benchmark::State &state) {
  if (!bridgedLine().ready())
    return fail(state, "the broker, radiosim or the bridge did not start");
  const Broker &broker = bridgedLine().broker();
  const std::string address = broker.address();
  std::vector<double> seconds;
  for (auto _ : state) {
    const ClientRun run = runClient(
        kSystemPython,
        {kStockClient, address.substr(0, address.find(':')), address.substr(address.find(':') + 1),
         kAlice, broker.passwordFile(kAlice), kLine, kSetFreq, std::to_string(kStockRequests)});
    std::istringstream times(run.out);
    for (double time = 0; times >> time;) seconds.push_back(time);
    if (seconds.size() % kStockRequests != 0) {
      return fail(state, "the stock client failed (is python3-paho-mqtt installed?)");
    }
  }
  reportLatencies(state, seconds);
}

// Four clients, each sending its next request when its reply arrives: how
// much of the run the line spends on the wire.
void BM_BridgeSetFreqFourClients(benchmark::State &state) {
  if (!bridgedLine().ready())
    return fail(state, "the broker, radiosim or the bridge did not start");
  std::vector<std::unique_ptr<Client>> clients;
  clients.reserve(kClients);
  for (int n = 0; n < kClients; ++n) {
    clients.push_back(std::make_unique<Client>(bridgedLine().broker(), n + 1));
  }
  double total = 0;
  bool all_ok = true;
  for (auto _ : state) {
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    threads.reserve(kClients);
    std::vector<char> ok(kClients, 1);
    for (int n = 0; n < kClients; ++n) {
      threads.emplace_back([&, n] {
        for (int i = 0; i < kRequestsPerClient && ok[n]; ++i) ok[n] = clients[n]->ask(kSetFreq);
      });
    }
    for (std::thread &thread : threads) thread.join();
    total += secondsSince(start);
    all_ok = all_ok && std::count(ok.begin(), ok.end(), 0) == 0;
  }
  if (!all_ok) return fail(state, "a request got no ok reply");
  const double wire =
      kWireSeconds * kClients * kRequestsPerClient * static_cast<double>(state.iterations());
  state.counters["requests"] = kClients * kRequestsPerClient;
  state.counters["per_request_ms"] =
      total / (kClients * kRequestsPerClient * static_cast<double>(state.iterations())) * kMilli;
  state.counters["line_busy_pct"] = 100 * wire / total;
  state.counters["total_per_wire"] = total / wire;
}

// The paced radiosim alone, for the two direct ways of using it.
const SimProcess &directSim() {
  static const SimProcess sim(kPacedSim);
  return sim;
}

// The library on the line: one setvfofreq exchange.
void BM_DirectLibrarySetFreq(benchmark::State &state) {
  std::string device = directSim().slavePath();
  if (!directSim().started() || seropen(device.data(), 19200) != 0) {
    return fail(state, "radiosim did not start or the line did not open");
  }
  std::vector<double> seconds;
  for (auto _ : state) {
    const auto start = Clock::now();
    if (setvfofreq(kRadio, kController, kFrequency) != 0) {
      serclose();
      return fail(state, "the exchange failed");
    }
    seconds.push_back(secondsSince(start));
  }
  serclose();
  reportLatencies(state, seconds);
}

// radioctl as a shell user runs it: start, open and lock the line, one
// exchange, exit.
void BM_DirectRadioctlSetFreq(benchmark::State &state) {
  std::vector<double> seconds;
  for (auto _ : state) {
    const auto start = Clock::now();
    Process radioctl(RADIOCTL_PATH, {"-d", directSim().slavePath(), "set-freq", "145.5M"});
    if (radioctl.waitForExit() != 0) return fail(state, "radioctl failed");
    seconds.push_back(secondsSince(start));
  }
  reportLatencies(state, seconds);
}

BENCHMARK(BM_BridgeSetFreqOneClient)->UseRealTime()->ArgName("lacking")->Arg(0)->Arg(1);
BENCHMARK(BM_BridgeSetFreqStockClient)->UseRealTime()->Iterations(1);
BENCHMARK(BM_BridgeSetFreqFourClients)->UseRealTime()->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_DirectLibrarySetFreq)->UseRealTime();
BENCHMARK(BM_DirectRadioctlSetFreq)->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
  mosquitto_lib_init();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  mosquitto_lib_cleanup();
  return failed ? 1 : 0;
}
