// SPDX-License-Identifier: MIT
// Entry point of radiosim, a simulated radio on a pseudo-terminal: reads the
// command line into SimOptions and hands over to the serving loop. Usage
// errors exit with status 2 and a message starting "radiosim: "; failures
// at run time, and help or a version that cannot be written, exit with
// status 1.
#include <CLI/CLI.hpp>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "radio.h"
#include "serve.h"
#include "sim_options.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

std::string checkAddress(const std::string &text) {
  return radiosim::parseAddress(text) ? "" : "not a bus address from 0 to 252: " + text;
}

std::string checkVersionText(const std::string &text) {
  return text.size() <= radiosim::kMaxVersionText
             ? ""
             : "version text longer than " + std::to_string(radiosim::kMaxVersionText) + " bytes";
}

std::string checkCommand(const std::string &name) {
  return radiosim::isToolName(name) ? "" : "not a radioctl command: " + name;
}

// Prints help or the version: status 0, or 1 when it could not be written.
int show(const std::string &text) {
  if (std::fputs(text.c_str(), stdout) != EOF && std::fflush(stdout) == 0) return kExitOk;
  std::fprintf(stderr, "radiosim: cannot write to standard output: %s\n", std::strerror(errno));
  return kExitFailed;
}

int run(int argc, char **argv) {
  using namespace radiosim;
  SimOptions options;
  std::string address = "0x" + hexByte(kDefaultAddress);
  CLI::App app{"Simulated two-way radio on a pseudo-terminal; prints the device path first."};
  app.add_option(kOptAddress, address, "bus address of the radio, decimal or 0x hex")
      ->type_name("ADDR")
      ->capture_default_str()
      ->check(CLI::Validator(checkAddress, ""));
  app.add_option(kOptVersionText, options.version_text, "text answered to a version read")
      ->capture_default_str()
      ->check(CLI::Validator(checkVersionText, ""));
  app.add_option(kOptState, options.state_path, "file the radio state is loaded from and saved to")
      ->type_name("FILE");
  app.add_option(kOptLink, options.link_path, "symlink kept to the device while running")
      ->type_name("PATH");
  app.add_flag(kOptStay, options.stay,
               "serve one client after another instead of ending with the first");
  app.add_flag(kOptEcho, options.echo, "hand every frame heard back before answering");
  app.add_flag(kOptOtherStations, options.other_stations,
               "send a frame between two other stations before each reply");
  app.add_flag(kOptNoise, options.noise, "send stray bytes before each frame");
  app.add_option(kOptRefuseEvery, options.refuse_every, "refuse every Nth command (0: never)")
      ->capture_default_str();
  app.add_option(kOptSilentEvery, options.silent_every,
                 "leave every Nth command unanswered (0: never)")
      ->capture_default_str();
  app.add_option(kOptWithout, options.without,
                 "a command this radio lacks, by radioctl's name: refused every time (repeatable)")
      ->type_name("COMMAND")
      ->allow_extra_args(false)
      ->check(CLI::Validator(checkCommand, ""));
  app.add_option(kOptDelayMs, options.delay_ms, "milliseconds to wait before each reply")
      ->capture_default_str();
  app.add_option(kOptOverlong, options.overlong, "zero bytes appended to every reply body")
      ->capture_default_str();
  app.add_option(kOptWireBaud, options.wire_baud,
                 "send as a line this fast would: 10 bits a byte, no reply before the request "
                 "could have arrived (0: at once)")
      ->type_name("N")
      ->capture_default_str();
  bool version = false;
  app.add_flag("--version", version, "print radiosim's version and exit");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp &) {
    return show(app.help());
  } catch (const CLI::ParseError &error) {
    std::fprintf(stderr, "radiosim: %s\n", error.what());
    return kExitUsage;
  }
  if (version) return show("radiosim " RADIOLINE_VERSION "\n");
  options.address = *parseAddress(address);
  return runRadio(options);
}

}  // namespace

int main(int argc, char **argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception &error) {
    std::fprintf(stderr, "radiosim: %s\n", error.what());
    return kExitFailed;
  }
}
