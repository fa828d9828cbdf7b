// Drives the screen path directly, for the terminal tests: each argument is
// one step, run in order inside the normal process frame.
//   w=TEXT   screen_write_text      e       screen_line_end
//   c=C,R    set_cursor (1-based)   p=TEXT  print_text (standard output)
// TEXT may hold \r \n \t \\ and \xHH, so that any byte passes a shell.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "console/output.h"
#include "console/process.h"
#include "console/screen.h"
#include "host/posix/posix.h"

namespace {

std::vector<std::string> steps;

std::string unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char c = s[++i];
    if (c == 'r') {
      out += '\r';
    } else if (c == 'n') {
      out += '\n';
    } else if (c == 't') {
      out += '\t';
    } else if (c == 'x' && i + 2 < s.size()) {
      out += static_cast<char>(std::strtol(s.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

int run_steps() {
  for (const std::string& step : steps) {
    const std::string arg = step.size() > 2 ? step.substr(2) : "";
    switch (step.empty() ? '?' : step[0]) {
      case 'w':
        brevlith::screen_write_text(unescape(arg));
        break;
      case 'e':
        brevlith::screen_line_end();
        break;
      case 'c':
        brevlith::set_cursor(std::atoi(arg.c_str()), std::atoi(arg.c_str() + arg.find(',') + 1));
        break;
      case 'p':
        brevlith::print_text(unescape(arg));
        break;
      default:
        std::fprintf(stderr, "screen_probe: unknown step %s\n", step.c_str());
        return 2;
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  steps.assign(argv + 1, argv + argc);
  // A busy test machine may keep the terminal from answering in time; the
  // steps are about the screen rules, not about a silent terminal.
  host::posix::set_terminal_reply_wait(3000);
  return brevlith::run_process(argc, argv, &run_steps);
}
