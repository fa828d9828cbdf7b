// Warnings for input that the tool reads exactly by its rules but that
// probably does not mean what the user thinks: a stray Ctrl-Z, lines ended
// by LF alone, option-like words that are no options, a term that looks like
// a term file's name, term files that search for something else than they
// seem to. None changes what the run does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tool/command_line.h"
#include "tool/diagnostics.h"

namespace brevlith {

inline constexpr std::string_view usage_line = "usage: brevlith filename.ext [/s=searchterm]";

// The option-like words of the command tail that are not the first /s=:
// another letter, /s without "=", a second /s=.
void warn_about_option_words(Outcome& outcome, const std::vector<Word>& words);

// True for a word before the options that begins with "-" and names no
// file (-h, --help): warned about, and not taken for a mailbox name.
bool is_stray_dash_word(Outcome& outcome, const std::string& word);

// A file whose first line ends in LF alone, and so was read as LF-ended:
// what that means for its lines (or terms).
void warn_read_as_lf_ended(Outcome& outcome, const std::string& file, bool term_file);

// The mailbox ended at a Ctrl-Z at `offset` of a file of `size` bytes, in
// message `message`; bytes after it were not read.
void warn_if_ctrl_z_inside(Outcome& outcome, const std::string& file, uint64_t offset, int64_t size,
                           int32_t message);

// The terms read from `file` (empty for an empty file), for what searches
// something else than the user wrote: a byte order mark, a file that is no
// text, an empty line, blanks at a term's ends, two terms that go to one
// term mailbox or are the same once folded.
void warn_about_terms(Outcome& outcome, const std::string& file,
                      const std::vector<std::string>& terms);

// The search term of /s= begins and ends with a double quote, or ends in one
// it does not begin with (the whole option was quoted): the quotes are part
// of the term, and the warning shows how to type it without them.
void warn_if_term_quoted(Outcome& outcome, const std::string& term);

// No file of the term's name exists, but the term looks like one.
void warn_if_term_looks_like_a_file(Outcome& outcome, const std::string& term);

}  // namespace brevlith
