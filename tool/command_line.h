// The command line, read once: the mailbox pattern and the search term cut
// from the tail, and every word classified, for the main procedure, the
// walk and the warnings alike.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/host.h"

namespace brevlith {

enum class WordKind {
  name,            // before the first option: a mailbox's name, or part of it
  search_option,   // the first /s=
  second_search,   // a later /s=: ignored
  recurse_option,  // /r before any /s=: the folders below are walked too
  index_option,    // /i before the first /s=
  not_an_option,   // /x, /S=x, /s: looks like an option, but is none
  text,            // any other word after the first option
};

struct Word {
  std::string text;
  WordKind kind = WordKind::name;
};

// help: the line is exactly --help, -h or /? (on Windows also -?);
// version: exactly --version. Either one asks for nothing else.
enum class Request { run, help, version };

struct CommandLine {
  Request request = Request::run;
  std::string mailbox_pattern;  // field 1 at "/", quotes and blanks trimmed
  std::string search_term;      // field 2 at "/s=", blanks trimmed
  // Set when a character of the pattern or the term has no place in the
  // ANSI code page, and became "?".
  bool pattern_replaced = false;
  bool term_replaced = false;
  // The host's arguments where it split them (else the tail's words, a
  // quoted stretch staying whole), in order.
  std::vector<Word> words;
  // The name words as the walk reads them ("/" turned into "\"), where the
  // host split the arguments; from a raw command line, the words before the
  // first "/" without their quotes, when there are two or more.
  std::vector<std::string> names;
};

// `arguments` are the host's split arguments, empty on a host with a raw
// command line; `tail` is the command tail either way.
CommandLine parse_command_line(std::u16string_view tail, const std::vector<host::Text>& arguments);

}  // namespace brevlith
