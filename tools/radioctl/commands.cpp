// SPDX-License-Identifier: MIT
// The subcommand table and everything driven by it. Each row names a
// subcommand, lists its arguments with their value kinds, gives its help
// line, the library call that runs it and the printer that turns the reply
// into a readable line and JSON fields. Reading builds a small CLI11 parser
// from a row for each command given, so help texts and argument errors come
// from the same rows; values are checked by values.cpp before any invocation
// is planned. The probe row is the one place that builds a request body of
// its own; every other row is a call of the library.
#include "commands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "radioline.h"
#include "values.h"

namespace radioctl {

using Json = nlohmann::ordered_json;
using Values = std::vector<long>;

// Everything a library call may hand back.
struct Reply {
  std::vector<unsigned char> bytes;
  std::string text;
  long first = 0;
  long second = 0;
  int to = 0;
  int from = 0;
};

// A result as a line for people and as fields for --json.
struct Printed {
  std::string text;
  Json fields = Json::object();
};

// One argument: a positional value taken `count` times, or, with a count of
// kSwitch, a flag that adds 1 or 0 to the values (its kind is not used).
struct Arg {
  const char *name;
  ValueKind kind;
  int count;
  const char *help;
};

struct Command {
  const char *name;
  std::vector<Arg> args;
  const char *help;
  int (*call)(Addresses, const Values &, Reply &);
  Printed (*print)(const Reply &);
};

namespace {

constexpr int kSwitch = 0;
constexpr int kCodeplugLength = 16;
constexpr int kConfigLength = 2;
constexpr int kMaxVersion = 253;  // longest version text a reply carries
constexpr int kMaxBody = 256;     // longest frame body the probe keeps

// The probe's request: the extended command, firmware-version subcommand.
constexpr std::array<unsigned char, 2> kProbeRequest{0xAA, 0x02};

std::string hexByte(unsigned char byte, const char *prefix) {
  char text[16];
  std::snprintf(text, sizeof text, "%s%02x", prefix, byte);
  return text;
}

std::string hexList(const std::vector<unsigned char> &bytes, const char *prefix) {
  std::string text;
  for (unsigned char byte : bytes) text += (text.empty() ? "" : " ") + hexByte(byte, prefix);
  return text;
}

// The text with every byte outside printable ASCII shown as \xNN.
std::string printable(const std::string &text) {
  std::string shown;
  for (unsigned char c : text)
    shown += c >= ' ' && c <= '~' ? std::string(1, static_cast<char>(c)) : hexByte(c, "\\x");
  return shown;
}

Printed printNothing(const Reply &) {
  return {};
}

Printed printCodeplug(const Reply &reply) {
  return {"codeplug: " + hexList(reply.bytes, ""), {{"codeplug", reply.bytes}}};
}

Printed printVersion(const Reply &reply) {
  const std::string text = printable(reply.text);
  return {"version: " + text, {{"version", text}}};
}

Printed printConfig(const Reply &reply) {
  return {"config: " + hexList(reply.bytes, "0x"), {{"config", reply.bytes}}};
}

Printed printOffset(const Reply &reply) {
  return {"offset: " + std::to_string(reply.first) + " Hz", {{"offset", reply.first}}};
}

Printed printSplit(const Reply &reply) {
  return {"split: tx " + std::to_string(reply.first) + " Hz, rx " + std::to_string(reply.second) +
              " Hz",
          {{"split", {{"tx", reply.first}, {"rx", reply.second}}}}};
}

Printed printFrame(const Reply &reply) {
  return {"reply from " + hexByte(static_cast<unsigned char>(reply.from), "0x") + " to " +
              hexByte(static_cast<unsigned char>(reply.to), "0x") + ": " + hexList(reply.bytes, ""),
          {{"from", reply.from}, {"to", reply.to}, {"reply", reply.bytes}}};
}

// The codeplug values as the text setvfocodeplug() reads.
std::string codeplugText(const Values &values) {
  std::vector<unsigned char> bytes(values.begin(), values.end());
  return hexList(bytes, "");
}

int readVersion(Addresses to, Reply &reply) {
  std::array<unsigned char, kMaxVersion + 1> text{};
  const int rc = getversion(to.radio, to.controller, text.data(), kMaxVersion);
  reply.text = reinterpret_cast<const char *>(text.data());
  return rc;
}

int probe(Addresses to, Reply &reply) {
  std::array<unsigned char, kProbeRequest.size()> request = kProbeRequest;
  int rc = sendcmd(to.radio, to.controller, request.data(), static_cast<int>(request.size()));
  if (rc != 0) return rc;
  reply.bytes.resize(kMaxBody);
  int length = 0;
  rc = rcvresp(&reply.to, &reply.from, reply.bytes.data(), kMaxBody, &length);
  reply.bytes.resize(rc == 0 ? static_cast<std::size_t>(length) : 0);
  return rc;
}

const std::vector<Command> &commands() {
  using K = ValueKind;
  static const std::vector<Command> table{
      {"set-freq",
       {{"FREQ", K::kFrequency, 1, "frequency in Hz; k, M and G multiply: 145.5M"}},
       "tune the VFO",
       [](Addresses a, const Values &v, Reply &) {
         return setvfofreq(a.radio, a.controller, v[0]);
       },
       printNothing},
      {"set-mode",
       {{"MODE", K::kMode, 1, "mode slot"}},
       "select a mode slot",
       [](Addresses a, const Values &v, Reply &) { return setmode(a.radio, a.controller, v[0]); },
       printNothing},
      {"store-vfo",
       {},
       "store the VFO into the current mode slot",
       [](Addresses a, const Values &, Reply &) { return storevfotomode(a.radio, a.controller); },
       printNothing},
      {"recall-mode",
       {},
       "recall the current mode slot into the VFO",
       [](Addresses a, const Values &, Reply &) { return storemodetovfo(a.radio, a.controller); },
       printNothing},
      {"set-duplex",
       {{"CODE", K::kDuplex, 1, "duplex code, decimal or 0x hex"}},
       "set the duplex code",
       [](Addresses a, const Values &v, Reply &) { return setduplex(a.radio, a.controller, v[0]); },
       printNothing},
      {"set-pl",
       {{"TONE", K::kTone, 1, "PL tone in Hz, one decimal: 88.5"},
        {"--rx", {}, kSwitch, "set the receive tone instead of the transmit tone"}},
       "set the transmit or receive PL tone",
       [](Addresses a, const Values &v, Reply &) {
         return setpl(a.radio, a.controller, v[0], static_cast<int>(v[1]));
       },
       printNothing},
      {"get-codeplug",
       {},
       "read the 16-byte VFO codeplug",
       [](Addresses a, const Values &, Reply &r) {
         r.bytes.resize(kCodeplugLength);
         return getvfocodeplug(a.radio, a.controller, r.bytes.data(), kCodeplugLength);
       },
       printCodeplug},
      {"set-codeplug",
       {{"HEX", K::kHexByte, kCodeplugLength, "the 16 codeplug bytes in hex: 01 02 ... 10"}},
       "write the 16-byte VFO codeplug",
       [](Addresses a, const Values &v, Reply &) {
         std::string text = codeplugText(v);
         return setvfocodeplug(a.radio, a.controller, text.data());
       },
       printNothing},
      {"version",
       {},
       "read the radio's firmware version",
       [](Addresses a, const Values &, Reply &r) { return readVersion(a, r); },
       printVersion},
      {"get-config",
       {},
       "read the two configuration bytes",
       [](Addresses a, const Values &, Reply &r) {
         r.bytes.resize(kConfigLength);
         return getconfig(a.radio, a.controller, r.bytes.data(), kConfigLength);
       },
       printConfig},
      {"set-config",
       {{"D0", K::kByte, 1, "first configuration byte"},
        {"D1", K::kByte, 1, "second configuration byte"}},
       "write the two configuration bytes",
       [](Addresses a, const Values &v, Reply &) {
         return setconfig(a.radio, a.controller, static_cast<unsigned char>(v[0]),
                          static_cast<unsigned char>(v[1]));
       },
       printNothing},
      {"get-offset",
       {},
       "read the transmit offset",
       [](Addresses a, const Values &, Reply &r) {
         return gettxoffset(a.radio, a.controller, &r.first);
       },
       printOffset},
      {"set-offset",
       {{"HZ", K::kOffset, 1, "transmit offset in Hz, signed: -600k"}},
       "write the transmit offset",
       [](Addresses a, const Values &v, Reply &) {
         return settxoffset(a.radio, a.controller, v[0]);
       },
       printNothing},
      {"get-split",
       {},
       "read the transmit and receive VCO split",
       [](Addresses a, const Values &, Reply &r) {
         return getvcosplitfreq(a.radio, a.controller, &r.first, &r.second);
       },
       printSplit},
      {"set-split",
       {{"TX", K::kOffset, 1, "transmit VCO split in Hz"},
        {"RX", K::kOffset, 1, "receive VCO split in Hz"}},
       "write the transmit and receive VCO split",
       [](Addresses a, const Values &v, Reply &) {
         return setvcosplit(a.radio, a.controller, v[0], v[1]);
       },
       printNothing},
      {"probe",
       {},
       "send the firmware-version request and print the first frame that comes back",
       [](Addresses a, const Values &, Reply &r) { return probe(a, r); },
       printFrame},
  };
  return table;
}

const Command *findCommand(const std::string &name) {
  const auto &table = commands();
  const auto row = std::find_if(table.begin(), table.end(),
                                [&name](const Command &command) { return name == command.name; });
  return row == table.end() ? nullptr : &*row;
}

bool isCommandName(const std::string &word) {
  return findCommand(word) != nullptr;
}

std::string usageOf(const Command &command) {
  std::string usage = command.name;
  for (const Arg &arg : command.args) {
    usage += std::string(arg.count == kSwitch ? " [" : " ") + arg.name +
             (arg.count > 1 ? "..." : "") + (arg.count == kSwitch ? "]" : "");
  }
  return usage;
}

std::string argumentHelp(const Arg &arg) {
  if (arg.count == kSwitch) return arg.help;
  return std::string(arg.help) + " (" + describeRange(arg.kind) + ")";
}

std::string linePrefix(int line) {
  return line > 0 ? "line " + std::to_string(line) + ": " : std::string();
}

// Where a message about an invocation starts: "line 3: set-mode: ".
std::string placeOf(int line, const char *name) {
  return linePrefix(line) + name + ": ";
}

// The CLI11 parser of one row; `texts` and `switches` receive what it reads.
void describeArguments(CLI::App &app, const Command &command,
                       std::vector<std::vector<std::string>> &texts, std::vector<int> &switches) {
  for (std::size_t i = 0; i < command.args.size(); ++i) {
    const Arg &arg = command.args[i];
    if (arg.count == kSwitch) {
      app.add_flag(arg.name, switches[i], argumentHelp(arg));
    } else {
      app.add_option(arg.name, texts[i], argumentHelp(arg))
          ->required()
          ->expected(arg.count)
          ->allow_extra_args(false)
          ->type_name("");
    }
  }
}

// Checks every text against its argument's kind and collects the values.
bool collectValues(const Command &command, const std::vector<std::vector<std::string>> &texts,
                   const std::vector<int> &switches, Values &values, std::string &problem) {
  for (std::size_t i = 0; i < command.args.size(); ++i) {
    const Arg &arg = command.args[i];
    if (arg.count == kSwitch) values.push_back(switches[i] != 0 ? 1 : 0);
    for (const std::string &text : texts[i]) {
      const Value value = parseValue(arg.kind, text);
      if (!value.number) {
        problem = std::string(arg.name) + " '" + text + "' " + value.problem;
        return false;
      }
      values.push_back(*value.number);
    }
  }
  return true;
}

void stop(Plan &plan, Plan::Outcome outcome, std::string message) {
  plan.outcome = outcome;
  plan.message = std::move(message);
}

// Reads one command and its arguments, words[0] being its name, into the plan.
void planCommand(std::vector<std::string> words, int line, Plan &plan) {
  const Command *command = findCommand(words.front());
  if (command == nullptr) {
    const char *what = words.front()[0] == '-' ? "option" : "command";
    return stop(
        plan, Plan::Outcome::kUsage,
        linePrefix(line) + "unknown " + what + " '" + words.front() + "' (see radioctl --help)");
  }
  CLI::App app{command->help, std::string("radioctl ") + command->name};
  std::vector<std::vector<std::string>> texts(command->args.size());
  std::vector<int> switches(command->args.size());
  describeArguments(app, *command, texts, switches);
  std::reverse(words.begin(), words.end());
  words.pop_back();
  Invocation invocation{command, {}, line};
  std::string problem;
  try {
    app.parse(std::move(words));
  } catch (const CLI::CallForHelp &) {
    return stop(plan, Plan::Outcome::kHelp, app.help());
  } catch (const CLI::ParseError &error) {
    return stop(plan, Plan::Outcome::kUsage, placeOf(line, command->name) + error.what());
  }
  if (!collectValues(*command, texts, switches, invocation.values, problem)) {
    return stop(plan, Plan::Outcome::kUsage, placeOf(line, command->name) + problem);
  }
  plan.invocations.push_back(std::move(invocation));
}

std::vector<std::string> wordsOf(const std::string &line) {
  std::istringstream in(line.substr(0, line.find('#')));
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// What a failure code means here, ahead of the system's own text.
struct Explanation {
  int code;
  const char *text;
};

constexpr std::array<Explanation, 4> kExplanations{{
    {EINVAL, "radio refused the command or sent a bad reply"},
    {ETIMEDOUT, "no reply from the radio"},
    {EPIPE, "the line went away"},
    {EIO, "the line went away"},
}};

std::string describeFailure(int code) {
  const auto found = std::find_if(kExplanations.begin(), kExplanations.end(),
                                  [code](const Explanation &e) { return e.code == code; });
  const std::string system = std::strerror(code);
  return found == kExplanations.end() ? system : found->text + (" (" + system + ")");
}

void report(const Invocation &invocation, int rc, const Reply &reply, bool json) {
  const Command &command = *invocation.command;
  if (rc != 0) {
    std::cerr << "radioctl: " << placeOf(invocation.line, command.name) << describeFailure(rc)
              << std::endl;
  }
  const Printed printed = rc == 0 ? command.print(reply) : Printed{};
  if (!json) {
    if (!printed.text.empty()) std::cout << printed.text << std::endl;
    return;
  }
  Json object{{"command", command.name}};
  if (invocation.line > 0) object["line"] = invocation.line;
  object["ok"] = rc == 0;
  if (rc != 0) {
    object["error"] = std::strerror(rc);
    object["code"] = rc;
  }
  object.update(printed.fields);
  std::cout << object.dump(-1, ' ', false, Json::error_handler_t::replace) << std::endl;
}

}  // namespace

Plan planWords(const std::vector<std::string> &words) {
  Plan plan;
  if (words.empty()) {
    stop(plan, Plan::Outcome::kUsage, "no command given (see radioctl --help)");
    return plan;
  }
  for (auto start = words.begin(); start != words.end() && plan.outcome == Plan::Outcome::kRun;) {
    const auto next = std::find_if(start + 1, words.end(), isCommandName);
    planCommand({start, next}, 0, plan);
    start = next;
  }
  return plan;
}

Plan planScript(std::istream &in) {
  Plan plan;
  int line = 0;
  for (std::string text; plan.outcome == Plan::Outcome::kRun && std::getline(in, text);) {
    ++line;
    const std::vector<std::string> words = wordsOf(text);
    if (!words.empty()) planCommand(words, line, plan);
  }
  return plan;
}

std::string commandSummary() {
  std::ostringstream summary;
  summary << "Commands:\n";
  for (const Command &command : commands()) {
    summary << "  " << std::left << std::setw(24) << usageOf(command) << command.help << '\n';
  }
  return summary.str();
}

int runPlan(const std::vector<Invocation> &plan, Addresses addresses, bool json) {
  for (const Invocation &invocation : plan) {
    Reply reply;
    const int rc = invocation.command->call(addresses, invocation.values, reply);
    report(invocation, rc, reply, json);
    if (rc != 0) return kExitFailed;
  }
  return kExitOk;
}

}  // namespace radioctl
