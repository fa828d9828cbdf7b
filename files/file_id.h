// A file's identity: two names of one file (links, hard links, spellings)
// give the same one, on every host.
#pragma once

#include <cstdint>

namespace brevlith {

struct FileId {
  uint64_t volume = 0;  // the volume or device
  uint64_t index = 0;   // the file index or inode
  auto operator<=>(const FileId&) const = default;
};

}  // namespace brevlith
