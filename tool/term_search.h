// Finds which of a list of terms occur in a message, folding the message
// once and passing over it once, whatever the number of terms. Case is
// ignored in the message's own encoding.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "text/encodings.h"

namespace brevlith {

class TermSearch {
 public:
  // Empty terms never count as found (they select every message another way).
  // `text` says how the terms' bytes are to be read.
  explicit TermSearch(const std::vector<std::string>& terms, TermText text = TermText::utf8);
  ~TermSearch();
  TermSearch(const TermSearch&) = delete;
  TermSearch& operator=(const TermSearch&) = delete;
  // hits()[i] is true when terms[i], written in the message's encoding, occurs
  // in it, both folded to small letters.
  const std::vector<char>& search(std::string_view message);
  // After a search: the indexes, ascending, of the terms it found and of the
  // empty terms, which select every message. Callers walk this short list
  // rather than all the terms for every message.
  const std::vector<uint32_t>& selected() const { return selected_; }

 private:
  struct Automaton;  // the matcher for two or more different terms

  void select();
  void build_per_encoding(const std::vector<std::string>& terms, TermText text);

  std::vector<char> hits_;
  std::vector<uint32_t> found_, empty_, selected_;
  // The one term that can occur, when there is just one, and its list indexes.
  std::string single_;
  std::vector<size_t> single_indexes_;
  std::unique_ptr<Automaton> automaton_;
  // Terms beyond ASCII: per encoding, the matcher of those it can write
  // (none when it writes none), one of `automata_`, which encodings share
  // where they match alike. A UTF-8 message is folded into `folded_` first.
  bool per_encoding_ = false;
  std::vector<std::unique_ptr<Automaton>> automata_;
  std::array<Automaton*, encoding_count> by_encoding_{};
  std::string folded_;
};

}  // namespace brevlith
