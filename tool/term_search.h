// Finds which of a list of terms occur in a message, folding the message
// once and passing over it once, whatever the number of terms.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace brevlith {

class TermSearch {
 public:
  // Empty terms never count as found (they select every message another way).
  explicit TermSearch(const std::vector<std::string>& terms);
  ~TermSearch();
  TermSearch(const TermSearch&) = delete;
  TermSearch& operator=(const TermSearch&) = delete;
  // hits()[i] is true when terms[i] occurs in the message folded to lower case.
  const std::vector<char>& search(std::string_view message);
  // After a search: the indexes, ascending, of the terms it found and of the
  // empty terms, which select every message. Callers walk this short list
  // rather than all the terms for every message.
  const std::vector<uint32_t>& selected() const { return selected_; }

 private:
  struct Automaton;  // the matcher for two or more different terms

  void select();

  std::vector<char> hits_;
  std::vector<uint32_t> found_, empty_, selected_;
  // The one term that can occur, when there is just one, and its list indexes.
  std::string single_;
  std::vector<size_t> single_indexes_;
  std::unique_ptr<Automaton> automaton_;
};

}  // namespace brevlith
