#include "tool/mailbox_checks.h"

#include <cstring>
#include <memory>

#include "console/error_status.h"
#include "files/channels.h"
#include "files/directories.h"
#include "text/numbers.h"
#include "text/strings.h"
#include "tool/mailbox_walk.h"
#include "tool/message_writer.h"

namespace brevlith {
namespace {

bool lower_ends_with(std::string_view name, std::string_view end) {
  if (name.size() < end.size()) return false;
  for (size_t i = 0; i < end.size(); ++i) {
    char ch = name[name.size() - end.size() + i];
    if (host::windows_names && ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
    if (ch != end[i]) return false;
  }
  return true;
}

// The number of a numbered file's name as this tool writes it (base-0001.txt;
// from 10,000 on without leading zeros), and its base name; 0 for any other.
int32_t number_of(std::string_view name, std::string_view& base_name) {
  if (!lower_ends_with(name, ".txt")) return 0;
  name.remove_suffix(4);
  const size_t dash = name.rfind('-');
  if (dash == std::string_view::npos) return 0;
  const std::string_view digits = name.substr(dash + 1);
  if (digits.size() < 4 || digits.size() > 9 || (digits.size() > 4 && digits[0] == '0')) return 0;
  int32_t number = 0;
  for (const char ch : digits) {
    if (ch < '0' || ch > '9') return 0;
    number = number * 10 + (ch - '0');
  }
  base_name = name.substr(0, dash);
  return number;
}

// The one listing of the output folder a run makes for its numbered files.
void note_earlier_numbers(Run& run) {
  ErrorScope scope;  // a folder that cannot be listed only loses the warning
  DirListing listing;
  for (std::string name = listing.first(std::string(output_prefix) + "*.txt", 0); !name.empty();
       name = listing.next()) {
    std::string_view base_name;
    if (const int32_t number = number_of(name, base_name)) {
      int32_t& highest = run.earlier_numbers[base_key(base_name)];
      highest = std::max(highest, number);
    }
  }
}

}  // namespace

std::string base_key(std::string_view base_name) {
  std::string key(base_name);
  if constexpr (host::windows_names)
    for (char& ch : key)
      if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
  return key;
}

bool survey_output_folder(Run& run) {
  if (run.numbered_files) note_earlier_numbers(run);
  if (!run.searcher) return true;
  ErrorScope scope;  // a term mailbox not there yet is no failure
  const std::vector<std::string> single{run.search_term};
  for (const std::string& term : run.term_count > 0 ? run.terms : single) {
    if (term.empty()) continue;
    FileId id;
    if (file_identity(std::string(output_prefix) + file_stem(term) + ".mbx", id, run.output_folder))
      run.own_files.insert(id);
  }
  FileId id;
  if (run.term_count == 0 || !file_identity(run.search_term, id) || !run.own_files.contains(id))
    return true;
  report(run.outcome, "the term file " + shown_name(run.search_term) +
                          " is also a term mailbox this run would add records to; copy it out of " +
                          std::string(output_folder) + " and name the copy");
  return false;
}

void note_own_file(Run& run, int32_t channel) {
  FileId id;
  ErrorScope scope;  // unknown, it is only not remembered
  if (channel_identity(channel, id)) run.own_files.insert(id);
}

bool is_own_file(const Run& run, const FileId& identity, const std::string& mailbox_name) {
  if (run.own_files.contains(identity)) return true;
  std::string_view base_name;
  const int32_t number = number_of(mailbox_name, base_name);
  const auto taken = run.numbers_taken.find(base_key(base_name));
  if (number == 0 || taken == run.numbers_taken.end() || number > taken->second) return false;
  ErrorScope scope;
  FileId there;
  return file_identity(std::string(output_prefix) + mailbox_name, there, run.output_folder) &&
         there == identity;
}

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

bool base_name_taken(Run& run, const std::string& base_name, const std::string& path) {
  if (!run.numbered_files) return false;
  const auto [earlier, first] = run.numbered_bases.try_emplace(base_key(base_name), path);
  if (first || earlier->second == path) return false;
  report(run.outcome,
         "skipped " + shown_name(path) + (run.searcher ? " whole, for every term" : "") +
             ": its numbered files (" + shown_name(base_name) +
             "-0001.txt and on) would replace those of " + shown_name(earlier->second) +
             ", which has the same base name; rename one of them, or split them in "
             "separate runs from separate folders");
  return true;
}

void warn_if_earlier_numbered_files(Run& run, const std::string& path, const std::string& base_name,
                                    int32_t numbers_taken) {
  const auto found = run.earlier_numbers.find(base_key(base_name));
  if (found == run.earlier_numbers.end() || found->second <= numbers_taken) return;
  std::string after(output_prefix), last(output_prefix);
  append_numbered_name(after, base_name, numbers_taken);
  append_numbered_name(last, base_name, found->second);
  warn(run.outcome, "earlier numbered files", path,
       "numbered files after " + shown_name(after) + " up to " + shown_name(last) +
           " are left from an earlier run: this run wrote " +
           format_number(run.numbered_written, "0,") + " for " + shown_name(path) +
           "; delete them so that they are not taken for its messages");
}

}  // namespace brevlith
