// SPDX-License-Identifier: MIT
// Radio profiles: the key table against the published schema, the checks, the apply plan and
// the CSV import as pure rules; save, diff and apply through radioctl against radiosim, on a
// line and through bridges on two lines.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "broker.h"
#include "channel_csv.h"
#include "profile_plan.h"

namespace {

using common::Json;

Json schemaAt(const Json &schema, const Json &node) {
  if (!node.contains("$ref")) return node;
  const std::string ref = node.at("$ref");
  return schema.at(Json::json_pointer(ref.substr(1)));
}

// Each number the schema allows for `key` (after `path`) is the kind's range and step.
void expectAgrees(const Json &schema, const Json &node, const common::ProfileKey &key) {
  const common::Range range = common::rangeOf(key.kind);
  const Json number = schemaAt(schema, node);
  EXPECT_EQ(number.at("minimum").get<double>(), range.min) << key.name;
  EXPECT_EQ(number.at("maximum").get<double>(), range.max) << key.name;
  EXPECT_EQ(std::pow(10.0, -number.value("x-decimals", 0)), range.step) << key.name;
  EXPECT_EQ(number.at("type"), range.step == 1 ? "integer" : "number") << key.name;
}

TEST(Profile, SchemaFileAgreesWithTheKeyTable) {
  std::ifstream in(PROFILE_SCHEMA_PATH);
  const Json schema = Json::parse(in);
  const Json &properties = schema.at("properties");
  std::vector<std::string> names{"radio", "channels"}, channel{"slot"}, kept;
  for (const common::ProfileKey &key : common::profileKeys()) {
    names.emplace_back(key.name);
    if (key.in_channel) channel.emplace_back(key.name);
    if (key.bridge_state != nullptr) kept.emplace_back(key.name);
    const Json node = schemaAt(schema, properties.at(key.name));
    if (key.shape == common::Shape::kNumber) expectAgrees(schema, node, key);
    if (key.shape == common::Shape::kPair) {
      EXPECT_EQ(node.at("required"), Json({"tx", "rx"}));
      for (const char *part : {"tx", "rx"}) expectAgrees(schema, node["properties"][part], key);
    }
    if (key.shape == common::Shape::kBytes) {
      EXPECT_EQ(node.at("minItems"), key.count);
      EXPECT_EQ(node.at("maxItems"), key.count);
      expectAgrees(schema, node.at("items"), key);
    }
  }
  const auto names_of = [](const Json &object) {
    std::vector<std::string> found;
    for (const auto &item : object.items()) found.push_back(item.key());
    std::sort(found.begin(), found.end());
    return found;
  };
  for (auto *list : {&names, &channel, &kept}) std::sort(list->begin(), list->end());
  EXPECT_EQ(names_of(properties), names);
  const Json channels = properties.at("channels").at("items");
  EXPECT_EQ(names_of(channels.at("properties")), channel);
  expectAgrees(schema, channels.at("properties").at("slot"), *common::findProfileKey("mode"));
  Json enumerated = properties.at("radio").at("properties").at("set_by_bridge").at("items")["enum"];
  std::sort(enumerated.begin(), enumerated.end());
  EXPECT_EQ(enumerated, Json(kept));
}

TEST(Profile, BadProfileIsRefusedNamingTheKey) {
  const std::pair<const char *, const char *> rows[] = {
      {R"({"colour":1})", "colour: unknown key"},
      {R"({"mode":100})", "mode: 100 is out of range (0 to 99)"},
      {R"({"frequency":"146.52M"})", R"(frequency: "146.52M" is not a frequency in Hz)"},
      {R"({"tx_tone":88.55})", "tx_tone: 88.55 is finer than 0.1 Hz"},
      {R"({"split":{"tx":1}})", "split: needs an object with tx and rx"},
      {R"({"split":{"tx":1,"rx":2,"x":0}})", "split.x: unknown key"},
      {R"({"config":[1,256]})", "config[1]: 256 is out of range (0 to 255)"},
      {R"({"codeplug":[1,2]})", "codeplug: needs an array of 16 bytes"},
      {R"({"channels":[{"slot":1},{"slot":2,"frequency":-1}]})",
       "channels[1].frequency: -1 is out of range (0 to 9999999999 Hz)"},
      {R"({"channels":[{"frequency":1}]})", "channels[0]: needs an object with a slot"},
      {R"({"channels":[{"slot":1,"split":{"tx":0,"rx":0}}]})", "channels[0].split: unknown key"},
      {R"({"radio":{"set_by_bridge":["mode","mode"]}})",
       R"(radio.set_by_bridge[1]: "mode" is listed twice)"},
      {R"({"radio":{"set_by_bridge":["offset"]}})",
       R"(radio.set_by_bridge[0]: "offset" is not a key a bridge keeps)"},
      {R"({"radio":{"version":1}})", "radio.version: needs text"},
      {"[]", "a profile is a JSON object, not []"},
  };
  for (const auto &[text, problem] : rows) {
    std::string said;
    EXPECT_FALSE(common::readProfile(Json::parse(text), said)) << text;
    EXPECT_EQ(said, problem);
  }
}

TEST(Profile, DiffShowsSignedHertzAndHexBytes) {
  std::string problem;
  const auto profile = common::readProfile(
      Json::parse(R"({"config":[1,2],"frequency":1,"offset":600000,"split":{"tx":100,"rx":-100}})"),
      problem);
  std::string lines;
  for (const common::Difference &difference : common::differences(
           *profile, {{"offset", -600000}, {"split", {{"tx", 0}, {"rx", 0}}}, {"config", {0, 0}}}))
    lines += common::differenceLine(difference) + "\n";
  EXPECT_EQ(lines,
            "config: radio 00 00, profile 01 02\nfrequency: cannot be read, would be set\n"
            "offset: radio -600000 Hz, profile +600000 Hz\n"
            "split: radio tx 0 Hz rx 0 Hz, profile tx +100 Hz rx -100 Hz\n");
}

// The plan as lines: "KEY ACTION COMMAND; COMMAND" with the read-back after a "|".
std::vector<std::string> planOf(const char *profile, const Json &readings,
                                std::optional<long> previous) {
  std::string problem;
  std::vector<std::string> lines;
  for (const common::Step &step :
       common::planApply(*common::readProfile(Json::parse(profile), problem), readings, previous)) {
    std::string line = step.key + " " + "usl"[static_cast<int>(step.action)];
    for (const std::string &command : step.commands) line += " " + command + ";";
    if (step.read_back != nullptr) line += std::string(" | ") + step.read_back->reader;
    lines.push_back(line + (step.action == common::Step::Action::kLeave
                                ? " at " + std::to_string(step.slot)
                                : ""));
  }
  return lines;
}

TEST(Profile, ApplySetsSlotsFirstAndLeavesWhatIsAlreadySo) {
  const char *profile =
      R"({"codeplug":[0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,1],"offset":-600000,"config":[1,2],
          "rx_tone":100,"channels":[{"slot":7,"offset":-600000},{"slot":2,"frequency":1,"tx_tone":88.5}]})";
  // The radio holds the config; the channel sets the offset the profile wants; no split read.
  const Json readings{{"config", {1, 2}}, {"offset", 0}, {"codeplug", Json(std::vector<int>(16))}};
  std::string codeplug = "codeplug s set-codeplug";
  for (int n = 0; n < 15; ++n) codeplug += " 0x00";
  EXPECT_EQ(planOf(profile, readings, std::nullopt),
            (std::vector<std::string>{"channel 2 s set-mode 2; set-freq 1; set-pl 88.5; store-vfo;",
                                      "channel 7 s set-mode 7; set-offset -600000; store-vfo;",
                                      "mode l at 7", "rx_tone s set-pl 100.0 --rx;", "offset u",
                                      "config u", codeplug + " 0x01; | get-codeplug"}));
  EXPECT_EQ(planOf(R"({"channels":[{"slot":4}],"split":{"tx":1,"rx":-1}})", {}, 9),
            (std::vector<std::string>{"channel 4 s set-mode 4; store-vfo;", "mode s set-mode 9;",
                                      "split s set-split 1 -1;"}));
}

TEST(Profile, CsvRowsBecomeChannelsOrAreRefusedByLine) {
  const std::tuple<const char *, const char *, int> rows[] = {
      {"slot, frequency,offset,tx_tone\r\n\n3,146.94M,-600k,\"88.5\"\n1,146.52M,,\n",
       R"({"channels":[{"slot":3,"frequency":146940000,"tx_tone":88.5,"offset":-600000},)"
       R"({"slot":1,"frequency":146520000}]})",
       0},
      {"slot,frequency\n1,146.52M\n2,14x\n", "frequency '14x' is not a frequency in Hz", 3},
      {"slot,colour\n",
       "unknown column 'colour' (columns: slot, frequency, duplex, tx_tone, "
       "rx_tone, offset)",
       1},
      {"frequency\n", "no slot column", 1},
      {"slot,duplex\n1,0x11\n1,0\n", "slot 1 is also on line 2", 3},
      {"slot,duplex\n1\n", "1 cells, and the header names 2 columns", 2},
      {"slot\n", "no channel under the header", 1},
  };
  for (const auto &[text, expected, expected_line] : rows) {
    std::string problem;
    int line = 0;
    const auto profile = common::channelsFromCsv(text, problem, line);
    EXPECT_EQ(profile ? profile->dump() : problem, expected);
    EXPECT_EQ(profile ? 0 : line, expected_line) << expected;
  }
}

// Profiles as files in a directory of their own.
class ProfileFiles {
 public:
  std::string write(const std::string &name, const std::string &text) const {
    std::ofstream(dir_.file(name)) << text;
    return dir_.file(name);
  }
  std::string file(const std::string &name) const { return dir_.file(name); }

 private:
  TempDir dir_;
};

const char *const kFull =
    R"({"radio":{"version":"x"},"mode":5,"frequency":146520000,"duplex":17,"tx_tone":88.5,)"
    R"("rx_tone":100,"offset":-600000,"split":{"tx":100,"rx":-100},"config":[1,2],)"
    R"("codeplug":[1,2,3,4,5,6,7,8,9,10,11,12,13,14,15,16]})";
const char *const kChannels =
    R"({"channels":[{"slot":3,"frequency":146940000,"offset":600000},{"slot":1,"duplex":1}]})";

ClientRun radioctl(const Words &args) {
  return runClient(RADIOCTL_PATH, args);
}

// Lines of `text` that do not say the key cannot be read: a readable key that differs.
std::string readableLines(const std::string &text) {
  std::istringstream in(text);
  std::string found;
  for (std::string line; std::getline(in, line);) {
    if (line.find("cannot be read") == std::string::npos) found += line + "\n";
  }
  return found;
}

TEST(ProfileRun, ProfilesGoThroughSaveDiffAndApply) {
  SimProcess sim({"--stay"});
  const Words line{"-d", sim.slavePath()};
  ProfileFiles files;
  // status of diff and of apply before, and what an apply says.
  const std::tuple<const char *, int, int, const char *> rows[] = {
      {kFull, 1, 0,
       "mode: set\nfrequency: set\nduplex: set\ntx_tone: set\nrx_tone: set\noffset: set\n"
       "split: set\nconfig: set\ncodeplug: set\n"},
      {R"({"offset":-600000,"config":[3,4]})", 1, 0, "offset: unchanged\nconfig: set\n"},
      {kChannels, 1, 0, "channel 1: set\nchannel 3: set\nmode: left at slot 3\n"},
      {R"({"offset":1,"colour":"red"})", 2, 2, ""},
      {R"({"offset":1,"split":{"tx":0,"rx":0.5}})", 2, 2, ""},
      {"{\"offset\":1", 2, 2, ""},
  };
  for (const auto &[profile, diffs, applies, said] : rows) {
    const std::string file = files.write("p.json", profile);
    EXPECT_EQ(radioctl(joined({line, {"diff", file}})).status, diffs) << profile;
    const ClientRun applied = radioctl(joined({line, {"apply", file}}));
    EXPECT_EQ(std::tie(applied.status, applied.out), std::tie(applies, said)) << applied.err;
    const ClientRun after = radioctl(joined({line, {"diff", file}}));
    EXPECT_EQ(readableLines(after.out), "") << profile;
  }
  EXPECT_EQ(sim.output().find("offset set to 1\n"), std::string::npos) << "a bad profile was sent";
  const std::string saved = files.file("saved.json");
  EXPECT_EQ(radioctl(joined({line, {"save", saved}})).status, 0);
  const ClientRun same = radioctl(joined({line, {"diff", saved}}));
  EXPECT_EQ(std::tie(same.status, same.out, same.err), std::make_tuple(0, "", ""));
}

TEST(ProfileRun, RefusedSetterSaysWhatWasAppliedBeforeIt) {
  // Four reads, five setters of what cannot be read, the offset set and read back: the 12th,
  // set-split, is refused.
  SimProcess sim({"--refuse-every", "12"});
  const ClientRun run = radioctl(
      {"-d", sim.slavePath(), "--json", "apply", ProfileFiles().write("full.json", kFull)});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Json::parse(run.out),
            Json::parse(R"x({"radio":"0x20","ok":false,"keys":[{"key":"mode","result":"set"},
              {"key":"frequency","result":"set"},{"key":"duplex","result":"set"},
              {"key":"tx_tone","result":"set"},{"key":"rx_tone","result":"set"},
              {"key":"offset","result":"set"},{"key":"split","result":"failed",
              "error":"radio refused the command or sent a bad reply (Invalid argument)"}],
              "applied":["mode","frequency","duplex","tx_tone","rx_tone","offset"]})x"));
  EXPECT_EQ(run.err,
            "radioctl: split: radio refused the command or sent a bad reply (Invalid "
            "argument)\n");
}

TEST(ProfileRun, ManyRadiosOnALineEachGetABlock) {
  SimProcess sim;
  const ClientRun run =
      radioctl({"-d", sim.slavePath(), "--timeout", "50", "--radio", "0x20", "--radio", "0x21",
                "diff", ProfileFiles().write("p.json", R"({"offset":0})")});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "radio 0x20:\nradio 0x21:\n");
  EXPECT_EQ(run.err,
            "radioctl: radio 0x21: get-offset: no reply from the radio (Connection "
            "timed out)\n");
}

#ifdef RADIOBRIDGE_PATH
// Radios on lines a and b, each behind a bridge of its own.
TEST(ProfileRun, BridgesApplyOnTwoLinesAtOnce) {
  Broker broker;
  ASSERT_TRUE(broker.start());
  TempDir dir;
  std::deque<SimProcess> sims;  // not movable
  std::deque<Process> bridges;
  const Words login = {"--broker",  broker.address(),  "--user",
                       kBridgeUser, "--password-file", broker.passwordFile(kBridgeUser)};
  for (const std::string name : {"a", "b"}) {
    sims.emplace_back(Words{"--link", dir.file(name), "--stay"});
    bridges.emplace_back(RADIOBRIDGE_PATH, joined({login, {"-d", dir.file(name), "--name", name}}));
    ASSERT_TRUE(broker.retainedHolds("radioline/" + name + "/20/state", R"("available":true)"));
  }
  const auto through = [&broker](const Words &args) {
    return radioctl(joined({{"--broker", broker.address(), "--user", kAlice, "--password-file",
                             broker.passwordFile(kAlice), "--line", "a"},
                            args}));
  };
  ASSERT_EQ(through({"set-mode", "6", "set-pl", "--rx", "67"}).status, 0);
  ASSERT_TRUE(broker.retainedHolds("radioline/a/20/state", R"("mode":6)"));
  ProfileFiles files;
  const std::string file = files.write("p.json", kChannels);
  const ClientRun applied = through({"--line", "b", "apply", file});
  EXPECT_EQ(applied.out,
            "radio 0x20 on line a:\nchannel 1: set\nchannel 3: set\nmode: set\n"
            "radio 0x20 on line b:\nchannel 1: set\nchannel 3: set\n"
            "mode: left at slot 3\n");
  EXPECT_EQ(applied.status, 0) << applied.err;
  EXPECT_NE(sims[0].output().find("mode 3 stored\nmode 6 selected\n"), std::string::npos);
  const ClientRun diff =
      through({"--line", "b", "--json", "diff", files.write("o.json", R"({"offset":600000})")});
  EXPECT_EQ(diff.out,
            "{\"radio\":\"0x20\",\"line\":\"a\",\"differs\":false,\"keys\":[]}\n"
            "{\"radio\":\"0x20\",\"line\":\"b\",\"differs\":false,\"keys\":[]}\n");
  const Json saved = Json::parse(through({"--json", "save"}).out);
  EXPECT_EQ(saved.at("radio").at("set_by_bridge"),
            Json({"mode", "frequency", "duplex", "rx_tone"}));
  EXPECT_EQ(saved.at("offset"), 600000);
  EXPECT_EQ(saved.at("rx_tone"), 67.0);
  // What the bridge kept reads back as a profile: the frequency cannot be read (1), no usage (2).
  EXPECT_EQ(through({"diff", files.write("saved.json", saved.dump())}).status, 1);
}
#endif

}  // namespace
