// The process frame: start-up, the standard handles, the command tail, and
// shut-down around the tool's main procedure.
#pragma once

#include <string>
#include <vector>

#include "host/host.h"

namespace brevlith {

struct ProcessValues {
  host::Handle stdin_handle = host::invalid_handle;
  host::Handle stdout_handle = host::invalid_handle;
  host::Handle stderr_handle = host::invalid_handle;
  // Where the screen path writes: standard output when it is a console, else
  // standard error.
  host::Handle screen_handle = host::invalid_handle;
  host::Handle console_input_handle = host::invalid_handle;
  bool stdout_is_console = false;
  bool stderr_is_console = false;
};

ProcessValues& process_values();

// Starts the process, runs `main_procedure` once and returns its result as
// the exit code (255 when start-up refuses the host).
int run_process(int argc, char** argv, int (*main_procedure)());

}  // namespace brevlith
