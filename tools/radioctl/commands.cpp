// SPDX-License-Identifier: MIT
// The subcommand table and everything driven by it. Each row names a
// subcommand, lists its arguments with their value kinds, gives its help
// line, the library call that runs it, the JSON fields a reader's reply
// gives and the readable line made from those fields (setters have
// neither). Reading builds a small CLI11 parser from a row for each command
// given, so help texts and argument errors come from the same rows; values
// are checked by values.cpp before any invocation is planned. The probe row
// is the one place that builds a request body of its own and reads frames
// itself, skipping them as the library's exchange does; every other row is
// a call of the library.
#include "commands.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <sstream>

#include "radioline.h"
#include "values.h"

namespace radioctl {

using Values = std::vector<long>;
using Bytes = std::vector<unsigned char>;

// Everything a library call may hand back.
struct Reply {
  Bytes bytes;
  std::string text;
  long first = 0;
  long second = 0;
  int to = 0;
  int from = 0;
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
  Json (*fields)(const Reply &);      // a reader's result fields; nullptr for a setter
  std::string (*text)(const Json &);  // the readable line made from those fields
};

namespace {

constexpr int kSwitch = 0;
constexpr int kCodeplugLength = 16;
constexpr int kConfigLength = 2;
constexpr int kMaxVersion = 253;  // longest version text a reply carries
constexpr int kMaxBody = 256;     // longest frame body the probe keeps

// The probe's request: the extended command, firmware-version subcommand.
constexpr std::array<unsigned char, 2> kProbeRequest{0xAA, 0x02};

constexpr const char *kBroadcastNote = "sent to all radios; no reply is awaited";

std::string hexByte(unsigned char byte, const char *prefix) {
  char text[16];
  std::snprintf(text, sizeof text, "%s%02x", prefix, byte);
  return text;
}

std::string hexList(const Bytes &bytes, const char *prefix) {
  std::string text;
  for (unsigned char byte : bytes) text += (text.empty() ? "" : " ") + hexByte(byte, prefix);
  return text;
}

// The byte array of a result field, written in hex.
std::string hexField(const Json &result, const char *key, const char *prefix) {
  return hexList(result.at(key).get<Bytes>(), prefix);
}

std::string number(const Json &value) {
  return std::to_string(value.get<long>());
}

// The text with every byte outside printable ASCII shown as \xNN.
std::string printable(const std::string &text) {
  std::string shown;
  for (unsigned char c : text)
    shown += c >= ' ' && c <= '~' ? std::string(1, static_cast<char>(c)) : hexByte(c, "\\x");
  return shown;
}

Json codeplugFields(const Reply &reply) {
  return {{"codeplug", reply.bytes}};
}

std::string codeplugText(const Json &result) {
  return "codeplug: " + hexField(result, "codeplug", "");
}

Json versionFields(const Reply &reply) {
  return {{"version", printable(reply.text)}};
}

std::string versionText(const Json &result) {
  return "version: " + result.at("version").get<std::string>();
}

Json configFields(const Reply &reply) {
  return {{"config", reply.bytes}};
}

std::string configText(const Json &result) {
  return "config: " + hexField(result, "config", "0x");
}

Json offsetFields(const Reply &reply) {
  return {{"offset", reply.first}};
}

std::string offsetText(const Json &result) {
  return "offset: " + number(result.at("offset")) + " Hz";
}

Json splitFields(const Reply &reply) {
  return {{"split", {{"tx", reply.first}, {"rx", reply.second}}}};
}

std::string splitText(const Json &result) {
  const Json &split = result.at("split");
  return "split: tx " + number(split.at("tx")) + " Hz, rx " + number(split.at("rx")) + " Hz";
}

Json frameFields(const Reply &reply) {
  return {{"from", reply.from}, {"to", reply.to}, {"reply", reply.bytes}};
}

std::string frameText(const Json &result) {
  return "reply from " + hexByte(result.at("from").get<unsigned char>(), "0x") + " to " +
         hexByte(result.at("to").get<unsigned char>(), "0x") + ": " + hexField(result, "reply", "");
}

// The codeplug values as the text setvfocodeplug() reads.
std::string codeplugArgument(const Values &values) {
  return hexList(Bytes(values.begin(), values.end()), "");
}

int readVersion(Addresses to, Reply &reply) {
  std::array<unsigned char, kMaxVersion + 1> text{};
  const int rc = getversion(to.radio, to.controller, text.data(), kMaxVersion);
  reply.text = reinterpret_cast<const char *>(text.data());
  return rc;
}

// Sends the version request and takes the first frame the radio sends to
// the controller, skipping every other frame as the exchange does: the
// echo of the request, other stations' traffic, the radio's frames to other
// controllers and other stations' frames to the controller.
int probe(Addresses to, Reply &reply) {
  std::array<unsigned char, kProbeRequest.size()> request = kProbeRequest;
  int rc = sendcmd(to.radio, to.controller, request.data(), static_cast<int>(request.size()));
  reply.bytes.resize(kMaxBody);
  int length = 0;
  while (rc == 0 && !(reply.to == to.controller && reply.from == to.radio)) {
    rc = rcvresp(&reply.to, &reply.from, reply.bytes.data(), kMaxBody, &length);
  }
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
       nullptr,
       nullptr},
      {"set-mode",
       {{"MODE", K::kMode, 1, "mode slot"}},
       "select a mode slot",
       [](Addresses a, const Values &v, Reply &) { return setmode(a.radio, a.controller, v[0]); },
       nullptr,
       nullptr},
      {"store-vfo",
       {},
       "store the VFO into the current mode slot",
       [](Addresses a, const Values &, Reply &) { return storevfotomode(a.radio, a.controller); },
       nullptr,
       nullptr},
      {"recall-mode",
       {},
       "recall the current mode slot into the VFO",
       [](Addresses a, const Values &, Reply &) { return storemodetovfo(a.radio, a.controller); },
       nullptr,
       nullptr},
      {"set-duplex",
       {{"CODE", K::kDuplex, 1, "duplex code, decimal or 0x hex"}},
       "set the duplex code",
       [](Addresses a, const Values &v, Reply &) { return setduplex(a.radio, a.controller, v[0]); },
       nullptr,
       nullptr},
      {"set-pl",
       {{"TONE", K::kTone, 1, "PL tone in Hz, one decimal: 88.5"},
        {"--rx", {}, kSwitch, "set the receive tone instead of the transmit tone"}},
       "set the transmit or receive PL tone",
       [](Addresses a, const Values &v, Reply &) {
         return setpl(a.radio, a.controller, v[0], static_cast<int>(v[1]));
       },
       nullptr,
       nullptr},
      {"get-codeplug",
       {},
       "read the 16-byte VFO codeplug",
       [](Addresses a, const Values &, Reply &r) {
         r.bytes.resize(kCodeplugLength);
         return getvfocodeplug(a.radio, a.controller, r.bytes.data(), kCodeplugLength);
       },
       codeplugFields,
       codeplugText},
      {"set-codeplug",
       {{"HEX", K::kHexByte, kCodeplugLength, "the 16 codeplug bytes in hex: 01 02 ... 10"}},
       "write the 16-byte VFO codeplug",
       [](Addresses a, const Values &v, Reply &) {
         std::string text = codeplugArgument(v);
         return setvfocodeplug(a.radio, a.controller, text.data());
       },
       nullptr,
       nullptr},
      {"version",
       {},
       "read the radio's firmware version",
       [](Addresses a, const Values &, Reply &r) { return readVersion(a, r); },
       versionFields,
       versionText},
      {"get-config",
       {},
       "read the two configuration bytes",
       [](Addresses a, const Values &, Reply &r) {
         r.bytes.resize(kConfigLength);
         return getconfig(a.radio, a.controller, r.bytes.data(), kConfigLength);
       },
       configFields,
       configText},
      {"set-config",
       {{"D0", K::kByte, 1, "first configuration byte"},
        {"D1", K::kByte, 1, "second configuration byte"}},
       "write the two configuration bytes",
       [](Addresses a, const Values &v, Reply &) {
         return setconfig(a.radio, a.controller, static_cast<unsigned char>(v[0]),
                          static_cast<unsigned char>(v[1]));
       },
       nullptr,
       nullptr},
      {"get-offset",
       {},
       "read the transmit offset",
       [](Addresses a, const Values &, Reply &r) {
         return gettxoffset(a.radio, a.controller, &r.first);
       },
       offsetFields,
       offsetText},
      {"set-offset",
       {{"HZ", K::kOffset, 1, "transmit offset in Hz, signed: -600k"}},
       "write the transmit offset",
       [](Addresses a, const Values &v, Reply &) {
         return settxoffset(a.radio, a.controller, v[0]);
       },
       nullptr,
       nullptr},
      {"get-split",
       {},
       "read the transmit and receive VCO split",
       [](Addresses a, const Values &, Reply &r) {
         return getvcosplitfreq(a.radio, a.controller, &r.first, &r.second);
       },
       splitFields,
       splitText},
      {"set-split",
       {{"TX", K::kSplit, 1, "transmit VCO split in Hz"},
        {"RX", K::kSplit, 1, "receive VCO split in Hz"}},
       "write the transmit and receive VCO split",
       [](Addresses a, const Values &v, Reply &) {
         return setvcosplit(a.radio, a.controller, v[0], v[1]);
       },
       nullptr,
       nullptr},
      {"probe",
       {},
       "send the firmware-version request and print the radio's reply frame",
       [](Addresses a, const Values &, Reply &r) { return probe(a, r); },
       frameFields,
       frameText},
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
        problem = std::string(arg.name) + " '" + echoed(text) + "' " + value.problem;
        return false;
      }
      values.push_back(*value.number);
    }
  }
  return true;
}

void stop(Plan &plan, Plan::Outcome outcome, std::string message, const char *command = "",
          int line = 0) {
  plan.outcome = outcome;
  plan.message = std::move(message);
  plan.command = command;
  plan.line = line;
}

// Reads one command and its arguments, words[0] being its name, into the plan.
void planCommand(std::vector<std::string> words, int line, Plan &plan) {
  const Command *command = findCommand(words.front());
  if (command == nullptr) {
    const char *what = words.front()[0] == '-' ? "option" : "command";
    return stop(
        plan, Plan::Outcome::kUsage,
        std::string("unknown ") + what + " '" + echoed(words.front()) + "' (see radioctl --help)",
        "", line);
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
  } catch (const CLI::ExtrasError &) {
    problem = "unexpected argument '" + echoed(app.remaining().front()) + "'";
  } catch (const CLI::ParseError &error) {
    problem = error.what();
  }
  if (problem.empty()) collectValues(*command, texts, switches, invocation.values, problem);
  if (!problem.empty()) return stop(plan, Plan::Outcome::kUsage, problem, command->name, line);
  plan.invocations.push_back(std::move(invocation));
}

std::vector<std::string> wordsOf(const std::string &line) {
  std::istringstream in(line.substr(0, line.find('#')));
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// What a library result code means, as a code for clients and, ahead of the
// system's own text, in words.
struct Failure {
  int rc;
  const char *code;
  const char *text;
};

constexpr std::array<Failure, 6> kFailures{{
    {EINVAL, kCodeRefused, "radio refused the command or sent a bad reply"},
    {ETIMEDOUT, kCodeTimeout, "no reply from the radio"},
    {EPIPE, kCodeLineLost, "the line went away"},
    {EIO, kCodeLineLost, "the line went away"},
    {ENXIO, kCodeLineLost, "the line went away"},
    {EBADF, kCodeLineLost, "the line is not open"},
}};

const Failure *findFailure(int rc) {
  const auto found = std::find_if(kFailures.begin(), kFailures.end(),
                                  [rc](const Failure &failure) { return failure.rc == rc; });
  return found == kFailures.end() ? nullptr : &*found;
}

std::string describeFailure(int rc) {
  const Failure *failure = findFailure(rc);
  const std::string system = std::strerror(rc);
  return failure == nullptr ? system : failure->text + (" (" + system + ")");
}

Json successObject(const Invocation &invocation) {
  Json object{{"command", commandName(invocation)}};
  if (invocation.line > 0) object["line"] = invocation.line;
  object["ok"] = true;
  return object;
}

std::string placeOf(const Json &result) {
  std::string place;
  if (result.contains("line")) place += "line " + number(result.at("line")) + ": ";
  if (result.at("command").is_string()) place += result.at("command").get<std::string>() + ": ";
  return place;
}

// The readable line of a success, from its fields.
std::string successText(const Json &result) {
  if (result.value("broadcast", false)) return placeOf(result) + kBroadcastNote;
  const Command *command = findCommand(result.at("command").get<std::string>());
  if (command == nullptr) return result.dump();
  return command->text == nullptr ? std::string() : command->text(result);
}

std::string jsonLine(const Json &result) {
  return result.dump(-1, ' ', false, Json::error_handler_t::replace);
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

Plan planLine(const std::string &text) {
  const std::vector<std::string> words = wordsOf(text);
  Plan plan;
  if (words.empty()) {
    stop(plan, Plan::Outcome::kUsage, "no command given (see radioctl --help)");
  } else {
    planCommand(words, 0, plan);
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

std::string commandName(const Invocation &invocation) {
  return invocation.command->name;
}

std::string addressProblem(const Invocation &invocation, Addresses addresses) {
  if (addresses.controller == kBroadcast) {
    return "--controller 0 is the broadcast address; radioctl needs an address of its own";
  }
  if (addresses.radio == kBroadcast && invocation.command->fields != nullptr) {
    return "needs one radio's reply, and --radio 0 is the broadcast address, which no radio "
           "answers";
  }
  return {};
}

Json failureObject(const std::string &command, const std::string &code, int error_number,
                   const std::string &message, int line) {
  Json object{{"command", command.empty() ? Json() : Json(command)}};
  if (line > 0) object["line"] = line;
  object["ok"] = false;
  object["error"] = {{"code", code}, {"errno", error_number}, {"message", message}};
  return object;
}

Json usageFailure(const Plan &plan) {
  return failureObject(plan.command, kCodeUsage, EINVAL, plan.message, plan.line);
}

const char *errorCode(int rc) {
  const Failure *failure = findFailure(rc);
  return failure == nullptr ? kCodeFailed : failure->code;
}

int runInvocation(const Invocation &invocation, Addresses addresses, Json &result) {
  const Command &command = *invocation.command;
  const std::string problem = addressProblem(invocation, addresses);
  if (!problem.empty()) {
    result = failureObject(command.name, kCodeUsage, EINVAL, problem, invocation.line);
    return EINVAL;
  }
  Reply reply;
  // To the broadcast address the library sends a setter and awaits nothing.
  const int rc = command.call(addresses, invocation.values, reply);
  if (rc != 0) {
    result = failureObject(command.name, errorCode(rc), rc, describeFailure(rc), invocation.line);
    return rc;
  }
  result = successObject(invocation);
  if (addresses.radio == kBroadcast) result["broadcast"] = true;
  if (command.fields != nullptr) result.update(command.fields(reply));
  return 0;
}

bool printResult(const Json &result, bool json) {
  std::string out;
  std::string failure;
  try {
    if (result.at("ok").get<bool>()) {
      out = successText(result);
    } else {
      failure = placeOf(result) + result.at("error").at("message").get<std::string>();
    }
  } catch (const Json::exception &) {
    out = jsonLine(result);  // not a result radioctl made: show it as it is
  }
  if (json) out = jsonLine(result);
  return printOutput(out.empty() ? out : out + "\n", failure);
}

bool printOutput(const std::string &text, const std::string &failure) {
  std::cout << text << std::flush;
  const bool written = static_cast<bool>(std::cout);
  const int error = errno;
  if (!failure.empty()) std::cerr << "radioctl: " << failure << std::endl;
  if (!written)
    std::cerr << "radioctl: cannot write to standard output: " << std::strerror(error) << std::endl;
  return written;
}

int runPlan(const std::vector<Invocation> &plan, Addresses addresses, bool json) {
  for (const Invocation &invocation : plan) {
    Json result;
    const int rc = runInvocation(invocation, addresses, result);
    if (!printResult(result, json)) return kExitFailed;
    if (rc != 0) return kExitFailed;
  }
  return kExitOk;
}

}  // namespace radioctl
