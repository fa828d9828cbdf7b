#include "console/process.h"

#include "console/command_tail.h"
#include "console/output.h"
#include "console/screen.h"

namespace brevlith {
namespace {

constexpr uint32_t console_processed_input = 0x1;  // ENABLE_PROCESSED_INPUT

}  // namespace

ProcessValues& process_values() {
  static ProcessValues values;
  return values;
}

int run_process(int argc, char** argv, int (*main_procedure)()) {
  if (!host::start(argc, argv)) return 255;
  ProcessValues& p = process_values();
  p.stderr_handle = p.screen_handle = host::get_std_handle(host::std_error);
  p.stdin_handle = host::get_std_handle(host::std_input);
  p.stdout_handle = host::get_std_handle(host::std_output);
  p.console_input_handle = host::open_console_input();
  uint32_t mode = 0;
  if (host::get_console_mode(p.stdout_handle, mode)) {
    p.stdout_is_console = true;
    p.screen_handle = p.stdout_handle;
  }
  host::set_console_mode(p.screen_handle, 3);  // processed output, wrap at end of line
  p.stderr_is_console = host::get_console_mode(p.stderr_handle, mode);
  // Line input and echo off; processed input stays on, so that Ctrl+C reaches
  // the control handler, which stops the run at its next message boundary.
  host::set_console_mode(p.stdin_handle, console_processed_input);
  prepare_cursor();
  locate_command_tail();

  const int result = main_procedure();
  flush_marks();  // whatever way the run ended

  host::finish();  // may still read the console input
  if (p.console_input_handle != host::invalid_handle) host::close_handle(p.console_input_handle);
  return result;
}

}  // namespace brevlith
