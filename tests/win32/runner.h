// Windows-only test helpers: programs built beside the test binary, run with
// a raw command line of the test's own making, or kept running beside it.
#pragma once

#include <string>

#include "tests/test_support.h"

namespace brevlith::testing {

// The full name of a program built beside the running test binary.
std::string sibling_program(const std::string& file_name);

// Runs `program` with exactly `command_line` as its raw command line, the
// program name included as the caller writes it: nothing is quoted.
RunResult run_command_line(const std::string& program, const std::u16string& command_line,
                           const RunOptions& options = {});

// A program running beside the test until the object dies: its standard
// input is a pipe that the destructor closes, then it is waited for.
class BackgroundProgram {
 public:
  BackgroundProgram(const std::string& program, const std::u16string& command_line);
  ~BackgroundProgram();
  BackgroundProgram(const BackgroundProgram&) = delete;
  BackgroundProgram& operator=(const BackgroundProgram&) = delete;
  // The next line of its standard output, without the line end; "" at its end.
  std::string read_line();
  // Closes its standard input and waits; its exit code.
  int finish();

 private:
  void* process_ = nullptr;
  void* input_ = nullptr;
  void* output_ = nullptr;
  int exit_code_ = -1;
};

}  // namespace brevlith::testing
