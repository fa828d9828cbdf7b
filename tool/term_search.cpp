#include "tool/term_search.h"

#include "text/strings.h"

namespace brevlith {

TermSearch::TermSearch(const std::vector<std::string>& terms)
    : terms_(terms), hits_(terms.size(), 0) {}

const std::vector<char>& TermSearch::search(std::string_view message) {
  folded_.resize(message.size());
  for (size_t i = 0; i < message.size(); ++i)
    folded_[i] = static_cast<char>(fold_table[static_cast<unsigned char>(message[i])]);
  const std::string_view folded(folded_);
  for (size_t i = 0; i < terms_.size(); ++i)
    hits_[i] = !terms_[i].empty() && folded.find(terms_[i]) != std::string_view::npos;
  return hits_;
}

}  // namespace brevlith
