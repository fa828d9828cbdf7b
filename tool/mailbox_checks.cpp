#include "tool/mailbox_checks.h"

#include <cstring>
#include <memory>

#include "console/error_status.h"
#include "files/channels.h"
#include "files/directories.h"
#include "text/strings.h"
#include "tool/message_writer.h"

namespace brevlith {

std::string why_not_a_mailbox(int32_t channel) {
  if (!channel_on_disk(channel)) return "";
  ErrorScope scope;  // a read that fails decides nothing: the split reports it
  // A mailbox starts with the separator: one short read tells.
  char start[separator.size()];
  const uint32_t got = read_channel_at(channel, 0, start, sizeof start);
  if (got == 0 || (got == sizeof start && std::string_view(start, got) == separator)) return "";
  // A line starts after a CR or an LF: the looser rule never takes a
  // mailbox for something else.
  constexpr uint64_t nul_window = 4096;
  constexpr uint32_t chunk = 64 * 1024;
  const std::unique_ptr<char[]> buffer(new char[chunk]);
  size_t matched = 0;  // separator bytes seen at the start of this line; npos: none
  for (uint64_t offset = 0;;) {
    const uint32_t done = read_channel_at(channel, offset, buffer.get(), chunk);
    if (scope.take().code) return "";
    if (done == 0) return "no line in it starts with \"" + std::string(separator) + "\"";
    for (uint32_t i = 0; i < done; ++i, ++offset) {
      const char ch = buffer[i];
      if (matched != std::string_view::npos) {
        if (ch == separator[matched]) {
          if (++matched == separator.size()) return "";
          continue;
        }
        matched = std::string_view::npos;
      }
      if (ch == '\r' || ch == '\n')
        matched = 0;
      else if (ch == '\0' && offset < nul_window)
        return "it holds NUL bytes before any line that starts with \"" + std::string(separator) +
               "\"";
    }
  }
}

bool base_name_taken(WalkMemory& memory, const Plan& plan, Outcome& outcome,
                     const std::string& base_name, const std::string& path) {
  if (!plan.numbered_files) return false;
  const auto [earlier, first] = memory.numbered_bases.try_emplace(base_key(base_name), path);
  if (first || earlier->second == path) return false;
  report(outcome, "skipped " + shown_name(path) +
                      (plan.search_mode() ? " whole, for every term" : "") +
                      ": its numbered files (" + shown_name(base_name) +
                      "-0001.txt and on) would replace those of " + shown_name(earlier->second) +
                      ", which has the same base name; rename one of them, or split them in "
                      "separate runs from separate folders");
  return true;
}

}  // namespace brevlith
