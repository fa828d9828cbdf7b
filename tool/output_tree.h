// The folders below the output folder that mirror the folders a walk with
// /r goes through: each made as needed and held, relative to the held
// folder above it, so that a link or a rename never sends files elsewhere.
// Only the folders on the way down to the current one are held.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "host/host.h"
#include "tool/diagnostics.h"

namespace brevlith {

class OutputTree {
 public:
  OutputTree() = default;
  OutputTree(const OutputTree&) = delete;
  OutputTree& operator=(const OutputTree&) = delete;
  ~OutputTree();

  // The held folder for `below` ("Work.fol\Sub.fol\", each part ending in
  // "\"; "" is `top` itself), made where missing. `made` tells whether it
  // is new (no earlier files in it). invalid_handle, reported, when a part
  // cannot be made or held (a file or a link stands at its name).
  host::Handle enter(const std::string& below, host::Handle top, Outcome& outcome, bool& made);

 private:
  void leave_to(size_t depth);

  // The folders held, top down: each one's path below the output folder.
  std::vector<std::pair<std::string, host::Handle>> held_;
};

}  // namespace brevlith
