// Standard output through the real binary: exact bytes, and one write per
// piece the tool prints, on a pipe and on a file (its progress marks in one).
#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <sstream>

#include "tests/test_support.h"

namespace brevlith::testing {
namespace {

const std::string mailbox =
    "From ???@??? a\r\nhello\r\nFrom ???@??? b\r\nx\r\nFrom ???@??? c\r\ny\r\n";

// What a normal run over x.mbx prints, one element per write.
std::vector<std::string> expected_pieces() {
  std::vector<std::string> pieces;
  const std::string& b = banner;
  for (size_t at = 0; at < b.size();) {
    const size_t end = b.find("\r\n", at);
    if (end > at) pieces.push_back(b.substr(at, end - at));
    pieces.push_back("\r\n");
    at = end + 2;
  }
  for (const char* piece : {"Created output subdirectory .\\brevlithoutput", "\r\n",
                            "Processing: x.mbx", "\r\n", "..", "3", "\r\n"})
    pieces.push_back(piece);
  return pieces;
}

std::string joined(const std::vector<std::string>& pieces) {
  std::string all;
  for (const std::string& p : pieces) all += p;
  return all;
}

// The writes to descriptor 1 in an strace log written with -xx.
std::vector<std::string> stdout_writes(const std::string& log) {
  static const std::regex line(
      R"(^(?:\d+ +)?write\(1, \"((?:\\x[0-9a-f]{2})*)\", (\d+)\) += (-?\d+))");
  std::vector<std::string> writes;
  std::istringstream in(log);
  for (std::string l; std::getline(in, l);) {
    std::smatch m;
    if (!std::regex_search(l, m, line)) continue;
    const std::string hex = m[1];
    std::string bytes;
    for (size_t i = 0; i + 4 <= hex.size(); i += 4)
      bytes.push_back(static_cast<char>(std::stoi(hex.substr(i + 2, 2), nullptr, 16)));
    EXPECT_EQ(std::to_string(bytes.size()), m[2].str()) << l;
    EXPECT_EQ(m[2].str(), m[3].str()) << "short write: " << l;
    writes.push_back(bytes);
  }
  return writes;
}

bool strace_works() {
  static const bool works = [] {
    const RunResult r = run_program({"strace", "-qq", "-e", "trace=none", "true"});
    return r.exit_code == 0;
  }();
  return works;
}

TEST(StandardOutput, ExactBytesOnAPipeAndOnAFile) {
  ScopedTempDir dir;
  write_file("x.mbx", mailbox);
  const RunResult piped = run_brevlith({"x.mbx"});
  EXPECT_EQ(piped.exit_code, 0);
  EXPECT_EQ(piped.out, joined(expected_pieces()));

  ScopedTempDir again;
  write_file("x.mbx", mailbox);
  RunOptions to_file;
  to_file.stdout_path = again.path() + "/out.txt";
  const RunResult filed = run_brevlith({"x.mbx"}, to_file);
  EXPECT_EQ(filed.exit_code, 0);
  EXPECT_EQ(filed.out, "");
  EXPECT_EQ(read_file(to_file.stdout_path), joined(expected_pieces()));
}

TEST(StandardOutput, OneWritePerPieceMarksTogether) {
  BREVLITH_LINUX_ONLY("strace watches Linux system calls");
  BREVLITH_REQUIRE_TOOL(strace_works(), "strace is missing or cannot trace here");
  for (const bool to_file : {false, true}) {
    ScopedTempDir dir;
    write_file("x.mbx", mailbox);
    // Neither file disturbs the run: the tool reads x.mbx and writes only
    // into its output folder.
    const std::string log = dir.path() + "/trace.txt";
    RunOptions options;
    // LeakSanitizer cannot run under ptrace; the leak check is not the point here.
    options.in_child = [] {
      const char* asan = std::getenv("ASAN_OPTIONS");
      const std::string value = std::string(asan ? asan : "") + ":detect_leaks=0";
      ::setenv("ASAN_OPTIONS", value.c_str(), 1);
    };
    if (to_file) options.stdout_path = dir.path() + "/out.txt";
    const RunResult r = run_program({"strace", "-f", "-qq", "-s", "1000000", "-xx", "-e",
                                     "trace=write", "-o", log, brevlith_binary(), "x.mbx"},
                                    options);
    const std::string trace = read_file(log);
    EXPECT_EQ(r.exit_code, 0) << r.err;
    const std::vector<std::string> writes = stdout_writes(trace);
    EXPECT_EQ(writes, expected_pieces()) << (to_file ? "file" : "pipe");
    const std::string out = to_file ? read_file(options.stdout_path) : r.out;
    EXPECT_EQ(out, joined(writes));
  }
}

}  // namespace
}  // namespace brevlith::testing
