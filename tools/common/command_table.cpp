// SPDX-License-Identifier: MIT
// The subcommand table and its runner. Each row names a subcommand, its
// arguments, its help line, the library call that runs it, the JSON fields
// a reader's reply gives and the readable line made from those fields. The
// probe row is the one place that builds a request body of its own and
// reads frames itself, skipping them as the library's exchange does; every
// other row is a call of the library on the line handle it is given.
// runInvocation() runs one row on an open line into the object radioctl
// --json prints; reading commands is
// plan.cpp's job and reporting results results.cpp's.
#include "command_table.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>

#include "radioline.h"
#include "text.h"

namespace common {
namespace {

constexpr int kCodeplugLength = 16;
constexpr int kConfigLength = 2;
constexpr int kMaxVersion = 253;  // longest version text a reply carries
constexpr int kMaxBody = 256;     // longest frame body the probe keeps

// The probe's request: the firmware-version request, as the library sends it.
constexpr std::array<unsigned char, 2> kProbeRequest{RADIOLINE_CMD_EXTENDED,
                                                     RADIOLINE_SUB_GETVERSION};

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

Json codeplugFields(const Reply &reply) {
  return {{"codeplug", reply.bytes}};
}

std::string codeplugText(const Json &result) {
  return "codeplug: " + hexField(result, "codeplug", "");
}

Json versionFields(const Reply &reply) {
  return {{"version", quote(reply.text, std::string::npos)}};
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
  return "reply from " + addressText(result.at("from").get<int>()) + " to " +
         addressText(result.at("to").get<int>()) + ": " + hexField(result, "reply", "");
}

// The codeplug values as the text setvfocodeplug() reads.
std::string codeplugArgument(const Values &values) {
  return hexList(Bytes(values.begin(), values.end()), "");
}

int readVersion(radioline_line *line, Addresses to, Reply &reply) {
  std::array<unsigned char, kMaxVersion + 1> text{};
  const int rc = rl_getversion(line, to.radio, to.controller, text.data(), kMaxVersion);
  reply.text = reinterpret_cast<const char *>(text.data());
  return rc;
}

// Sends the version request and takes the first frame the radio sends to
// the controller, skipping every other frame as the exchange does: the
// echo of the request, other stations' traffic, the radio's frames to other
// controllers and other stations' frames to the controller.
int probe(radioline_line *line, Addresses to, Reply &reply) {
  std::array<unsigned char, kProbeRequest.size()> request = kProbeRequest;
  int rc =
      rl_sendcmd(line, to.radio, to.controller, request.data(), static_cast<int>(request.size()));
  reply.bytes.resize(kMaxBody);
  int length = 0;
  while (rc == 0 && !(reply.to == to.controller && reply.from == to.radio)) {
    rc = rl_rcvresp(line, &reply.to, &reply.from, reply.bytes.data(), kMaxBody, &length);
  }
  reply.bytes.resize(rc == 0 ? static_cast<std::size_t>(length) : 0);
  return rc;
}

}  // namespace

const std::vector<Command> &commands() {
  using K = ValueKind;
  static const std::vector<Command> table{
      {"set-freq",
       {{"FREQ", K::kFrequency, 1, "frequency in Hz; k, M and G multiply: 145.5M"}},
       "tune the VFO",
       [](radioline_line *l, Addresses a, const Values &v, Reply &) {
         return rl_setvfofreq(l, a.radio, a.controller, v[0]);
       },
       nullptr,
       nullptr},
      {"set-mode",
       {{"MODE", K::kMode, 1, "mode slot"}},
       "select a mode slot",
       [](radioline_line *l, Addresses a, const Values &v, Reply &) {
         return rl_setmode(l, a.radio, a.controller, v[0]);
       },
       nullptr,
       nullptr},
      {"store-vfo",
       {},
       "store the VFO into the current mode slot",
       [](radioline_line *l, Addresses a, const Values &, Reply &) {
         return rl_storevfotomode(l, a.radio, a.controller);
       },
       nullptr,
       nullptr},
      {"recall-mode",
       {},
       "recall the current mode slot into the VFO",
       [](radioline_line *l, Addresses a, const Values &, Reply &) {
         return rl_storemodetovfo(l, a.radio, a.controller);
       },
       nullptr,
       nullptr},
      {"set-duplex",
       {{"CODE", K::kDuplex, 1, "duplex code, decimal or 0x hex"}},
       "set the duplex code",
       [](radioline_line *l, Addresses a, const Values &v, Reply &) {
         return rl_setduplex(l, a.radio, a.controller, v[0]);
       },
       nullptr,
       nullptr},
      {"set-pl",
       {{"TONE", K::kTone, 1, "PL tone in Hz, one decimal: 88.5"},
        {"--rx", {}, kSwitch, "set the receive tone instead of the transmit tone"}},
       "set the transmit or receive PL tone",
       [](radioline_line *l, Addresses a, const Values &v, Reply &) {
         return rl_setpl(l, a.radio, a.controller, v[0], static_cast<int>(v[1]));
       },
       nullptr,
       nullptr},
      {"get-codeplug",
       {},
       "read the 16-byte VFO codeplug",
       [](radioline_line *l, Addresses a, const Values &, Reply &r) {
         r.bytes.resize(kCodeplugLength);
         return rl_getvfocodeplug(l, a.radio, a.controller, r.bytes.data(), kCodeplugLength);
       },
       codeplugFields,
       codeplugText},
      {"set-codeplug",
       {{"HEX", K::kHexByte, kCodeplugLength, "the 16 codeplug bytes in hex: 01 02 ... 10"}},
       "write the 16-byte VFO codeplug",
       [](radioline_line *l, Addresses a, const Values &v, Reply &) {
         std::string text = codeplugArgument(v);
         return rl_setvfocodeplug(l, a.radio, a.controller, text.data());
       },
       nullptr,
       nullptr},
      {"version",
       {},
       "read the radio's firmware version",
       [](radioline_line *l, Addresses a, const Values &, Reply &r) {
         return readVersion(l, a, r);
       },
       versionFields,
       versionText},
      {"get-config",
       {},
       "read the two configuration bytes",
       [](radioline_line *l, Addresses a, const Values &, Reply &r) {
         r.bytes.resize(kConfigLength);
         return rl_getconfig(l, a.radio, a.controller, r.bytes.data(), kConfigLength);
       },
       configFields,
       configText},
      {"set-config",
       {{"D0", K::kByte, 1, "first configuration byte"},
        {"D1", K::kByte, 1, "second configuration byte"}},
       "write the two configuration bytes",
       [](radioline_line *l, Addresses a, const Values &v, Reply &) {
         return rl_setconfig(l, a.radio, a.controller, static_cast<unsigned char>(v[0]),
                             static_cast<unsigned char>(v[1]));
       },
       nullptr,
       nullptr},
      {"get-offset",
       {},
       "read the transmit offset",
       [](radioline_line *l, Addresses a, const Values &, Reply &r) {
         return rl_gettxoffset(l, a.radio, a.controller, &r.first);
       },
       offsetFields,
       offsetText},
      {"set-offset",
       {{"HZ", K::kOffset, 1, "transmit offset in Hz, signed: -600k"}},
       "write the transmit offset",
       [](radioline_line *l, Addresses a, const Values &v, Reply &) {
         return rl_settxoffset(l, a.radio, a.controller, v[0]);
       },
       nullptr,
       nullptr},
      {"get-split",
       {},
       "read the transmit and receive VCO split",
       [](radioline_line *l, Addresses a, const Values &, Reply &r) {
         return rl_getvcosplitfreq(l, a.radio, a.controller, &r.first, &r.second);
       },
       splitFields,
       splitText},
      {"set-split",
       {{"TX", K::kSplit, 1, "transmit VCO split in Hz"},
        {"RX", K::kSplit, 1, "receive VCO split in Hz"}},
       "write the transmit and receive VCO split",
       [](radioline_line *l, Addresses a, const Values &v, Reply &) {
         return rl_setvcosplit(l, a.radio, a.controller, v[0], v[1]);
       },
       nullptr,
       nullptr},
      {"probe",
       {},
       "send the firmware-version request and print the radio's reply frame",
       [](radioline_line *l, Addresses a, const Values &, Reply &r) { return probe(l, a, r); },
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

int runInvocation(radioline_line *line, const Invocation &invocation, Addresses addresses,
                  Json &result) {
  const Command &command = *invocation.command;
  const std::string problem = addressProblem(invocation, addresses);
  if (!problem.empty()) {
    result = failureObject(command.name, kCodeUsage, EINVAL, problem, invocation.line);
    return EINVAL;
  }
  Reply reply;
  // To the broadcast address the library sends a setter and awaits nothing.
  const int rc = command.call(line, addresses, invocation.values, reply);
  if (rc != 0) {
    result = resultFailure(invocation, rc);
    return rc;
  }
  result = successObject(invocation);
  if (addresses.radio == kBroadcast) result["broadcast"] = true;
  if (command.fields != nullptr) result.update(command.fields(reply));
  return 0;
}

}  // namespace common
