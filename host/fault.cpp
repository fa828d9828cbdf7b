#include "host/fault.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace host::fault {
namespace {

constexpr std::array<std::string_view, static_cast<size_t>(Call::count)> names = {
    "create_file_w",
    "get_file_type",
    "set_file_pointer",
    "set_end_of_file",
    "read_file",
    "read_file_at",
    "write_file",
    "write_file_gather",
    "get_file_stamp",
    "close_handle",
    "get_file_information_by_handle",
    "set_file_disposition_delete",
    "find_first_file_w",
    "find_next_file_w",
    "find_close",
    "create_directory_w",
    "get_file_attributes_w",
    "get_file_identity_w",
    "open_folder_w",
    "get_file_permissions"};

struct Rule {
  Call kind;
  uint64_t nth;
  bool onwards;
  uint32_t error;
};

struct Plan {
  std::vector<Rule> rules;
  std::array<uint64_t, static_cast<size_t>(Call::count)> calls{};
  std::string count_path;

  Plan() {
    if (const char* path = std::getenv("BREVLITH_FAULT_COUNT")) count_path = path;
    if (const char* text = std::getenv("BREVLITH_FAULT")) parse(text);
  }
  ~Plan() {
    if (count_path.empty()) return;
    if (std::FILE* out = std::fopen(count_path.c_str(), "w")) {
      for (size_t i = 0; i < calls.size(); ++i)
        std::fprintf(out, "%.*s %llu\n", static_cast<int>(names[i].size()), names[i].data(),
                     static_cast<unsigned long long>(calls[i]));
      std::fclose(out);
    }
  }

  // A malformed plan is a broken test, never a quiet run without faults.
  [[noreturn]] static void refuse(const std::string& rule) {
    std::fprintf(stderr, "brevlith_faulty: bad BREVLITH_FAULT rule \"%s\"\n", rule.c_str());
    std::_Exit(125);
  }

  void parse(std::string_view text) {
    while (!text.empty()) {
      const size_t comma = text.find(',');
      const std::string rule(text.substr(0, comma));
      text = comma == text.npos ? std::string_view{} : text.substr(comma + 1);
      const size_t c1 = rule.find(':'), c2 = rule.find(':', c1 + 1);
      if (c1 == rule.npos || c2 == rule.npos) refuse(rule);
      Rule r{Call::count, 0, false, 0};
      for (size_t i = 0; i < names.size(); ++i)
        if (names[i] == std::string_view(rule).substr(0, c1)) r.kind = static_cast<Call>(i);
      std::string nth = rule.substr(c1 + 1, c2 - c1 - 1);
      if (!nth.empty() && nth.back() == '+') r.onwards = true, nth.pop_back();
      char* end = nullptr;
      r.nth = std::strtoull(nth.c_str(), &end, 10);
      if (r.kind == Call::count || nth.empty() || *end || r.nth == 0) refuse(rule);
      r.error = static_cast<uint32_t>(std::strtoul(rule.c_str() + c2 + 1, &end, 10));
      if (*end || r.error == 0) refuse(rule);
      rules.push_back(r);
    }
  }
};

Plan& plan() {
  static Plan p;
  return p;
}

}  // namespace

std::string_view call_name(Call kind) { return names[static_cast<size_t>(kind)]; }

bool fails_now(Call kind) {
  Plan& p = plan();
  const uint64_t n = ++p.calls[static_cast<size_t>(kind)];
  for (const Rule& r : p.rules) {
    if (r.kind == kind && (n == r.nth || (r.onwards && n > r.nth))) {
      set_last_error(r.error);
      return true;
    }
  }
  return false;
}

}  // namespace host::fault
