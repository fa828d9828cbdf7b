#include "console/output.h"

#include "console/error_status.h"
#include "console/process.h"

namespace brevlith {
namespace {

ErrorStatus stdout_failure;
ErrorStatus stderr_failure;

bool reader_gone = false;

// Returns the failure, code 0 for none.
ErrorStatus write_all(host::Handle handle, std::string_view text) {
  if (text.empty()) return {};
  uint32_t done = 0;
  const auto gate = run_system_call([&] {
    return host::write_file(handle, text.data(), static_cast<uint32_t>(text.size()), done);
  });
  if (gate.failed()) return {gate.code, gate.last_error};
  if (done < text.size()) return {error_code::disk_full, 0};
  return {};
}

}  // namespace

ErrorStatus first_stdout_failure() { return stdout_failure; }

void print_text(std::string_view text) {
  if (reader_gone) return;
  const ErrorStatus failure = write_all(process_values().stdout_handle, text);
  if (failure.code == 0) return;
  // A reader that has closed the pipe (`brevlith x.mbx | head -1`) wants no
  // more of the report; the run goes on writing every file, and says nothing.
  if (failure.host_error == host::win32::broken_pipe ||
      failure.host_error == host::win32::no_data) {
    reader_gone = true;
    return;
  }
  raise_error(failure.code, failure.host_error);
  if (stdout_failure.code == 0) stdout_failure = failure;
}
void print_line_end() { print_text("\r\n"); }
void error_print_text(std::string_view text) {
  const ErrorStatus failure = write_all(process_values().stderr_handle, text);
  if (failure.code == 0) return;
  raise_error(failure.code, failure.host_error);
  if (stderr_failure.code == 0) stderr_failure = failure;
}
ErrorStatus first_stderr_failure() { return stderr_failure; }

}  // namespace brevlith
