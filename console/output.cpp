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

// Marks waiting to be written; a fixed block, so a mark never allocates.
constexpr size_t mark_block = 4096;
char marks[mark_block];
size_t marks_held = 0;

void write_stdout(std::string_view text) {
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

}  // namespace

void flush_marks() {
  if (marks_held == 0) return;
  const std::string_view held(marks, marks_held);
  marks_held = 0;
  // The marks' own failure is not that of the output whose turn it is now.
  ErrorScope scope;
  write_stdout(held);
}

void print_mark(char mark) {
  if (process_values().stdout_is_console) return write_stdout(std::string_view(&mark, 1));
  marks[marks_held++] = mark;
  if (marks_held == mark_block) flush_marks();
}

ErrorStatus first_stdout_failure() {
  flush_marks();
  return stdout_failure;
}

void print_text(std::string_view text) {
  flush_marks();
  write_stdout(text);
}
void print_line_end() { print_text("\r\n"); }
void error_print_text(std::string_view text) {
  flush_marks();
  const ErrorStatus failure = write_all(process_values().stderr_handle, text);
  if (failure.code == 0) return;
  raise_error(failure.code, failure.host_error);
  if (stderr_failure.code == 0) stderr_failure = failure;
}
ErrorStatus first_stderr_failure() { return stderr_failure; }

}  // namespace brevlith
