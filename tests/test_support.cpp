// The shared test helpers that read the same on every host; the rest are
// in posix/ and win32/.
#include "tests/test_support.h"

#include "console/process.h"

namespace brevlith::testing {

std::string host_stderr(const std::string& linux_text) {
  if (!windows_host()) return linux_text;
  std::string out;
  for (size_t i = 0; i < linux_text.size(); ++i) {
    if (linux_text[i] == '\n') out += '\r';
    out += linux_text[i];
    if (linux_text.compare(i + 1, 15, "brevlithoutput/") == 0) {
      out += "brevlithoutput\\";
      i += 15;
    }
  }
  return out;
}

void init_test_process() {
  ProcessValues& p = process_values();
  p.stdin_handle = host::get_std_handle(host::std_input);
  p.stdout_handle = host::get_std_handle(host::std_output);
  p.stderr_handle = p.screen_handle = host::get_std_handle(host::std_error);
}

}  // namespace brevlith::testing
