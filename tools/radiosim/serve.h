// SPDX-License-Identifier: MIT
// The radio's life as a process: load or create its state file, open the
// line and announce its device path, serve clients until stopped by a
// signal or left by the client, save the state on the way out.
#ifndef RADIOSIM_SERVE_H
#define RADIOSIM_SERVE_H

#include "sim_options.h"

namespace radiosim {

// Runs the radio; returns the process exit status.
int runRadio(const SimOptions &options);

}  // namespace radiosim

#endif
