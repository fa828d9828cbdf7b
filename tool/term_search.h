// Finds which of a list of terms occur in a message, folding the message
// once and passing over it once, whatever the number of terms.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brevlith {

class TermSearch {
 public:
  // Empty terms never count as found (they select every message another way).
  explicit TermSearch(const std::vector<std::string>& terms);
  // hits()[i] is true when terms[i] occurs in the message folded to lower case.
  const std::vector<char>& search(std::string_view message);

 private:
  std::vector<std::string> terms_;
  std::vector<char> hits_;
  std::string folded_;
};

}  // namespace brevlith
