#include "console/output.h"

#include "console/error_status.h"
#include "console/process.h"

namespace brevlith {
namespace {

ErrorStatus stdout_failure;
ErrorStatus stderr_failure;

// Returns the failure raised, code 0 for none.
ErrorStatus write_all(host::Handle handle, std::string_view text) {
  if (text.empty()) return {};
  uint32_t done = 0;
  const auto gate = run_system_call([&] {
    return host::write_file(handle, text.data(), static_cast<uint32_t>(text.size()), done);
  });
  ErrorStatus failure;
  if (gate.failed())
    failure = {gate.code, gate.last_error};
  else if (done < text.size())
    failure = {61, 0};
  if (failure.code) raise_error(failure.code, failure.host_error);
  return failure;
}

}  // namespace

ErrorStatus first_stdout_failure() { return stdout_failure; }

void print_text(std::string_view text) {
  const ErrorStatus failure = write_all(process_values().stdout_handle, text);
  if (failure.code && stdout_failure.code == 0) stdout_failure = failure;
}
void print_line_end() { print_text("\r\n"); }
void error_print_text(std::string_view text) {
  const ErrorStatus failure = write_all(process_values().stderr_handle, text);
  if (failure.code && stderr_failure.code == 0) stderr_failure = failure;
}
ErrorStatus first_stderr_failure() { return stderr_failure; }
void error_print_line_end() { error_print_text("\r\n"); }

}  // namespace brevlith
