// The command tail: the rebuild from split arguments (NUL bytes of the
// input separate them) and the skipping of the program name on a raw line
// (the input read as UTF-8), each against a direct model.
#include <cstdint>
#include <string>
#include <vector>

#include "check.h"
#include "console/command_tail.h"
#include "host/utf8.h"

namespace {

bool model_is_option(const std::string& a) {
  if (a.size() < 2 || a[0] != '/') return false;
  const char c = a[1];
  const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  return letter && (a.size() == 2 || a[2] == '=');
}

std::u16string model_rebuild(const std::vector<std::string>& args) {
  std::string joined;
  bool before_options = true;
  for (size_t i = 0; i < args.size(); ++i) {
    if (model_is_option(args[i])) before_options = false;
    if (i > 0) joined += ' ';
    for (char c : args[i]) joined += before_options && c == '/' ? '\\' : c;
  }
  return host::utf8_to_wide(joined);
}

std::u16string model_skip(const std::u16string& line) {
  size_t pos = 0;
  if (!line.empty() && line[0] == u'"') {
    const size_t close = line.find(u'"', 1);
    if (close == line.npos) return {};
    pos = close + 1;
  } else {
    while (pos < line.size() && line[pos] > u' ') ++pos;
  }
  while (pos < line.size() && line[pos] == u' ') ++pos;
  return line.substr(pos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args;
  if (!bytes.empty()) {
    args.emplace_back();
    for (char c : bytes) {
      if (c == '\0')
        args.emplace_back();
      else
        args.back() += c;
    }
  }
  FUZZ_CHECK(brevlith::rebuild_tail(args) == model_rebuild(args));
  for (const std::string& a : args)
    FUZZ_CHECK(brevlith::is_option_argument(a) == model_is_option(a));
  const std::u16string line = host::utf8_to_wide(bytes);
  FUZZ_CHECK(brevlith::skip_program_name(line) == model_skip(line));
  return 0;
}
