// SPDX-License-Identifier: MIT
// Entry point of radiosim, a simulated radio on a pseudo-terminal: reads the
// command line into SimOptions and hands over to the serving loop.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <string>

#include "radio.h"
#include "serve.h"
#include "sim_options.h"

namespace {

std::string checkAddress(const std::string &text) {
  return radiosim::parseAddress(text) ? "" : "not a bus address from 0 to 252: " + text;
}

std::string checkVersionText(const std::string &text) {
  return text.size() <= radiosim::kMaxVersionText
             ? ""
             : "version text longer than " + std::to_string(radiosim::kMaxVersionText) + " bytes";
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
  app.add_option(kOptVersionText, options.versionText, "text answered to a version read")
      ->capture_default_str()
      ->check(CLI::Validator(checkVersionText, ""));
  app.add_option(kOptState, options.statePath, "file the radio state is loaded from and saved to")
      ->type_name("FILE");
  app.add_option(kOptLink, options.linkPath, "symlink kept to the device while running")
      ->type_name("PATH");
  app.add_flag(kOptStay, options.stay,
               "serve one client after another instead of ending with the first");
  app.add_flag(kOptEcho, options.echo, "hand every frame heard back before answering");
  app.add_flag(kOptOtherStations, options.otherStations,
               "send a frame between two other stations before each reply");
  app.add_flag(kOptNoise, options.noise, "send stray bytes before each frame");
  app.add_option(kOptRefuseEvery, options.refuseEvery, "refuse every Nth command (0: never)")
      ->capture_default_str();
  app.add_option(kOptSilentEvery, options.silentEvery,
                 "leave every Nth command unanswered (0: never)")
      ->capture_default_str();
  app.add_option(kOptDelayMs, options.delayMs, "milliseconds to wait before each reply")
      ->capture_default_str();
  app.add_option(kOptOverlong, options.overlong, "zero bytes appended to every reply body")
      ->capture_default_str();
  CLI11_PARSE(app, argc, argv);
  options.address = *parseAddress(address);
  return runRadio(options);
}

}  // namespace

int main(int argc, char **argv) {
  try {
    return run(argc, argv);
  } catch (const std::exception &error) {
    std::fprintf(stderr, "radiosim: %s\n", error.what());
    return 1;
  }
}
