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

std::string numbered_message(int i, size_t size, const std::string& word) {
  std::string m = "From ???@??? ";
  m.append(std::to_string(i)).append("\r\n").append(word).append(" ").append(std::to_string(i));
  if (m.size() + 3 < size) m.append(" ").append(size - m.size() - 3, 'x');
  return m.append("\r\n");
}

std::string numbered_mailbox(int from, int to) {
  std::string all;
  for (int i = from; i <= to; ++i) all += numbered_message(i);
  return all;
}

std::string joined(const std::vector<std::string>& parts) {
  std::string all;
  for (const std::string& p : parts) all += p;
  return all;
}

std::string with_commas(int n) {
  std::string digits = std::to_string(n);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3)
    digits.insert(digits.begin() + i, ',');
  return digits;
}

}  // namespace brevlith::testing
