// SPDX-License-Identifier: MIT
// Command-line options of the simulated radio in one place: their names,
// their defaults and the struct that carries their values to the simulator
// and to the serving loop. Tests build radiosim command lines from the same
// names.
#ifndef RADIOSIM_SIM_OPTIONS_H
#define RADIOSIM_SIM_OPTIONS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace radiosim {

constexpr const char *kOptAddress = "--address";           // bus address of the radio
constexpr const char *kOptVersionText = "--version-text";  // text answered to a version read
constexpr const char *kOptState = "--state";               // file the radio state lives in
constexpr const char *kOptLink = "--link";                 // symlink kept to the line's device
constexpr const char *kOptStay = "--stay";                 // serve one client after another
constexpr const char *kOptEcho = "--echo";                 // hand every frame back as heard
constexpr const char *kOptOtherStations =
    "--other-stations";                       // traffic of two other stations before a reply
constexpr const char *kOptNoise = "--noise";  // stray bytes between frames
constexpr const char *kOptRefuseEvery = "--refuse-every";  // refuse every Nth command
constexpr const char *kOptSilentEvery = "--silent-every";  // leave every Nth command unanswered
constexpr const char *kOptWithout = "--without";     // a command this radio lacks: refused always
constexpr const char *kOptDelayMs = "--delay-ms";    // pause before each reply
constexpr const char *kOptOverlong = "--overlong";   // zero bytes appended to each reply body
constexpr const char *kOptWireBaud = "--wire-baud";  // pace the replies as a line this fast

constexpr std::uint8_t kDefaultAddress = 0x20;  // the radio's usual bus address
constexpr const char *kDefaultVersionText = "radiosim 1.0";
constexpr std::size_t kMaxVersionText = 253;  // longest text a version reply carries

struct SimOptions {
  std::uint8_t address = kDefaultAddress;
  std::string version_text = kDefaultVersionText;
  std::string state_path;  // empty: state is not kept
  std::string link_path;   // empty: no symlink
  bool stay = false;
  bool echo = false;
  bool other_stations = false;
  bool noise = false;
  unsigned refuse_every = 0;         // 0: never
  unsigned silent_every = 0;         // 0: never
  std::vector<std::string> without;  // radioctl's names of the commands it refuses
  unsigned delay_ms = 0;
  unsigned wire_baud = 0;  // 0: send at once
  unsigned overlong = 0;
};

// A bus address written in decimal or as 0x hex, at most 0xFC.
std::optional<std::uint8_t> parseAddress(std::string_view text);

}  // namespace radiosim

#endif
