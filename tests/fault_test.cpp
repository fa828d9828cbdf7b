// Every host call of a small run, failed in turn through brevlith_faulty:
// the run must end cleanly, report what it could not do on standard error
// with exit code 1, and leave every message it could write intact.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>

#include "tests/test_support.h"

namespace brevlith::testing {
namespace {

const std::string& faulty_binary() {
  static const std::string path = BREVLITH_FAULTY_BINARY;
  return path;
}

// Every message starts with a separator line, so a term mailbox splits into
// its records at each CR LF + separator.
const std::string record_start = "\r\nFrom ???@???";

// Mixed line ends; a CR LF straddles the first 128-byte block of a.mbx.
const std::map<std::string, std::string> mailboxes = {
    {"a.mbx", "From ???@??? one\r\nSubject: needle first\r" + std::string(87, 'x') +
                  "\r\nFrom ???@??? two\nnothing here\r\n" + std::string(300, 'y') +
                  "\rFrom ???@??? three\r\nNEEDLE shouted, and other\r\n"},
    {"b.mbx", "From ???@??? four\r\nother\rFrom ???@??? five\r\nneedle again\r\n"},
};

struct Scenario {
  std::string name;
  std::vector<std::string> args;
  std::string term_file;         // terms.txt when not empty
  std::string needle_file = {};  // brevlithoutput/needle.mbx before the run, when not empty
};

const Scenario scenarios[] = {
    {"normal mode", {"*.mbx"}, ""},
    {"one term", {"*.mbx", "/s=needle"}, ""},
    {"term file", {"*.mbx", "/s=terms.txt"}, "needle\r\nother\r\nabsent\r\n"},
    {"term mailbox ending in Ctrl-Z", {"*.mbx", "/s=needle"}, "", "\r\nFrom ???@??? 0\r\n\x1a"},
    {"index", {"*.mbx", "/i", "/s=needle"}, ""},
};

// A realistic error for each kind of call.
const std::map<std::string, uint32_t> injected_error = {
    // Not 32: appends wait a few seconds for a file another program holds.
    {"create_file_w", 5},
    {"get_file_type", 6},
    {"set_file_pointer", 87},
    {"set_end_of_file", 112},
    {"read_file", 31},
    {"read_file_at", 31},
    {"write_file", 112},
    {"write_file_gather", 112},
    {"get_file_stamp", 31},
    {"close_handle", 31},
    {"get_file_information_by_handle", 6},
    {"set_file_disposition_delete", 5},
    {"find_first_file_w", 5},
    {"find_next_file_w", 31},
    {"find_close", 6},
    {"create_directory_w", 5},
    {"get_volume_information_w", 31},
    {"get_file_attributes_w", 5},
    {"get_file_identity_w", 5},
    {"open_folder_w", 5},
    {"get_file_permissions", 6},
};

struct Outcome {
  RunResult result;
  std::map<std::string, std::string> files;  // brevlithoutput, by name
  std::map<std::string, uint64_t> counts;    // only when counted
};

Outcome run_once(const Scenario& s, const std::string& plan, bool count) {
  ScopedTempDir dir;
  for (const auto& [name, bytes] : mailboxes) write_file(name, bytes);
  if (!s.term_file.empty()) write_file("terms.txt", s.term_file);
  if (!s.needle_file.empty()) {
    ::mkdir("brevlithoutput", 0755);
    write_file("brevlithoutput/needle.mbx", s.needle_file);
  }
  const std::string count_path = dir.path() + "/fault-counts";
  RunOptions options;
  options.timeout_seconds = 20;
  options.in_child = [&] {
    if (!plan.empty()) ::setenv("BREVLITH_FAULT", plan.c_str(), 1);
    if (count) ::setenv("BREVLITH_FAULT_COUNT", count_path.c_str(), 1);
  };
  std::vector<std::string> argv{faulty_binary()};
  argv.insert(argv.end(), s.args.begin(), s.args.end());
  Outcome o;
  o.result = run_program(argv, options);
  for (const std::string& name : list_dir("brevlithoutput"))
    o.files[name] = read_file("brevlithoutput/" + name);
  if (count) {
    std::istringstream in(read_file(count_path));
    std::string kind;
    uint64_t n;
    while (in >> kind >> n) o.counts[kind] = n;
  }
  return o;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> records_of(const std::string& mbx) {
  std::vector<std::string> records;
  for (size_t at = 0; at < mbx.size();) {
    size_t next = mbx.find(record_start, at + 1);
    if (next == std::string::npos) next = mbx.size();
    records.push_back(mbx.substr(at, next - at));
    at = next;
  }
  return records;
}

bool is_prefix(const std::string& part, const std::string& whole) {
  return part.size() <= whole.size() && whole.compare(0, part.size(), part) == 0;
}

// A damaged term mailbox may only lack records, or hold one cut short at a
// line end (a message whose reading failed), in the clean order.
bool whole_records_in_order(const std::string& damaged, const std::string& clean) {
  const std::vector<std::string> want = records_of(clean);
  size_t next = 0;
  for (const std::string& record : records_of(damaged)) {
    while (next < want.size() && record != want[next] &&
           !(is_prefix(record, want[next]) && record.ends_with("\r\n")))
      ++next;
    if (next == want.size()) return false;
    ++next;
  }
  return true;
}

// The index may lack the rows of files that failed (named), or any row when
// the index itself is named or the failure was broader; what it holds are
// whole rows in the clean order.
template <class Named>
std::string index_damage(const std::string& clean, const std::string& damaged, bool any_may_miss,
                         const Named& is_named) {
  const std::vector<std::string> want = lines_of(clean);
  // A message cut short by a read error keeps its row, with its own size.
  const auto same = [&](const std::string& a, const std::string& b) {
    return a == b || (any_may_miss && a.substr(0, a.rfind(',')) == b.substr(0, b.rfind(',')));
  };
  // The header goes with the first row written.
  const auto may_miss = [&](size_t i) {
    return i == 0 || any_may_miss || is_named(want[i].substr(0, want[i].find(',')));
  };
  size_t next = 0;
  for (const std::string& row : lines_of(damaged)) {
    for (; next < want.size() && !same(want[next], row); ++next)
      if (!may_miss(next)) return "index.csv lacks the row of " + want[next] + "; ";
    if (next++ == want.size()) return "index.csv holds rows the clean run did not write; ";
  }
  for (; next < want.size(); ++next)
    if (!may_miss(next)) return "index.csv lacks the row of " + want[next] + "; ";
  return "";
}

// Checks one faulted run against the clean one; returns what is wrong. When
// every write from some point on fails, standard error fails too, and only
// the exit code and the files can tell.
std::string judge(const Outcome& clean, const Outcome& faulted, bool stderr_fails) {
  std::ostringstream wrong;
  const RunResult& r = faulted.result;
  if (r.exit_code != 0 && r.exit_code != 1) wrong << "exit code " << r.exit_code << "; ";
  const std::vector<std::string> diagnostics = lines_of(r.err);
  bool broad = false, about_stdout = false;
  std::vector<std::string> named;
  for (const std::string& line : diagnostics) {
    if (!line.starts_with("brevlith: ") || line.find(": ", 10) == std::string::npos)
      wrong << "stray stderr line \"" << line << "\"; ";
    const std::string output = "brevlith: cannot write brevlithoutput/";
    if (line.starts_with(output))
      named.push_back(line.substr(output.size(), line.find(": ", output.size()) - output.size()));
    else if (line == "brevlith: cannot write to standard output: disk full or file too large")
      about_stdout = true;
    else
      broad = true;
  }
  broad = broad || stderr_fails;
  if (r.exit_code == 0 && !diagnostics.empty()) wrong << "diagnostics with exit code 0; ";
  if (r.exit_code == 1 && diagnostics.empty() && !stderr_fails)
    wrong << "exit code 1 without a diagnostic; ";
  if (r.exit_code == 0 && (r.out != clean.result.out || faulted.files != clean.files))
    wrong << "exit code 0 but not the clean run's result; ";
  if (!broad && !about_stdout && r.out != clean.result.out)
    wrong << "standard output differs for a failure of a message file; ";
  const auto is_named = [&](const std::string& name) {
    return std::find(named.begin(), named.end(), name) != named.end();
  };
  for (const auto& [name, bytes] : faulted.files) {
    const auto it = clean.files.find(name);
    if (it == clean.files.end()) {
      wrong << "unexpected file " << name << "; ";
      continue;
    }
    if (bytes == it->second) continue;
    if (name == "index.csv") {
      wrong << index_damage(it->second, bytes, broad || is_named(name), is_named);
      continue;
    }
    if (!broad && !is_named(name)) wrong << name << " damaged without a diagnostic; ";
    // An end mark stays the last byte; only a run that can write nothing
    // more cannot put it back.
    const size_t mark = it->second.ends_with('\x1a') ? 1 : 0;
    const size_t kept = bytes.ends_with('\x1a') ? mark : 0;
    const bool intact =
        name.ends_with(".mbx")
            ? (kept == mark || stderr_fails) &&
                  whole_records_in_order(bytes.substr(0, bytes.size() - kept),
                                         it->second.substr(0, it->second.size() - mark))
            : is_prefix(bytes, it->second);
    if (!intact) wrong << name << " holds bytes the clean run did not write; ";
  }
  for (const auto& [name, bytes] : clean.files)
    if (name == "index.csv" && !faulted.files.contains(name))
      wrong << index_damage(bytes, "", broad || is_named(name), is_named);
    else if (!faulted.files.contains(name) && !broad && !is_named(name))
      wrong << name << " missing without a diagnostic; ";
  return wrong.str();
}

void walk_every_call(const Scenario& s) {
  const Outcome clean = run_once(s, "", true);
  ASSERT_EQ(clean.result.exit_code, 0) << clean.result.err;
  ASSERT_FALSE(clean.files.empty());
  ASSERT_FALSE(clean.counts.empty()) << "no call counts from " << faulty_binary();
  int runs = 0;
  for (const auto& [kind, calls] : clean.counts) {
    ASSERT_TRUE(injected_error.contains(kind)) << kind;
    for (uint64_t n = 1; n <= calls; ++n) {
      for (const char* onwards : {"", "+"}) {
        const std::string plan = kind + ":" + std::to_string(n) + onwards + ":" +
                                 std::to_string(injected_error.at(kind));
        const Outcome faulted = run_once(s, plan, false);
        ++runs;
        const std::string wrong = judge(clean, faulted, kind == "write_file" && *onwards);
        EXPECT_EQ(wrong, "") << s.name << ", " << plan << "\nstdout:\n"
                             << faulted.result.out << "\nstderr:\n"
                             << faulted.result.err;
        if (std::getenv("BREVLITH_FAULT_LOG"))
          std::fprintf(stderr, "%s | %s | exit %d | %s", s.name.c_str(), plan.c_str(),
                       faulted.result.exit_code, faulted.result.err.c_str());
      }
    }
  }
  EXPECT_GT(runs, 50);
}

TEST(FaultWalk, NormalModeSurvivesEveryFailedCall) { walk_every_call(scenarios[0]); }
TEST(FaultWalk, SearchWithOneTermSurvivesEveryFailedCall) { walk_every_call(scenarios[1]); }
TEST(FaultWalk, TermFileSurvivesEveryFailedCall) { walk_every_call(scenarios[2]); }
TEST(FaultWalk, AnEndMarkSurvivesEveryFailedCall) { walk_every_call(scenarios[3]); }
TEST(FaultWalk, TheIndexSurvivesEveryFailedCall) { walk_every_call(scenarios[4]); }

}  // namespace
}  // namespace brevlith::testing
