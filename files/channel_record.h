// The record behind a channel number, and the look-up that finds it: files/'s
// own, for the channel and line operations. Nothing outside files/ reads or
// changes a channel's fields; it asks the operations of files/channels.h.
#pragma once

#include <cstdint>
#include <memory>

#include "files/channels.h"
#include "host/host.h"

namespace brevlith {

enum class DeviceKind { disk, other };

// A running digest of the bytes an input channel read from its disk file,
// from offset 0 on in order: cheap enough for every read, and the same
// however the reads were cut into blocks. Bytes read out of order leave it
// not whole, and then it tells nothing.
class ReadDigest {
 public:
  void add(uint64_t at, const uint8_t* bytes, size_t n);
  uint64_t value() const;
  uint64_t length() const { return length_; }
  bool whole() const { return whole_; }

 private:
  static constexpr size_t lanes = 4;  // words mixed side by side, 32 bytes a step
  void mix(const uint8_t* step);
  uint64_t lane_[lanes] = {};
  uint8_t carry_[lanes * 8] = {};  // the bytes of an unfinished step
  uint64_t length_ = 0;
  bool whole_ = true;
};

struct Channel {
  host::Handle handle = host::invalid_handle;
  DeviceKind device_kind = DeviceKind::disk;
  Mode mode = Mode::input;
  uint64_t file_position = 0;  // input: offset of block[0]; else where the next byte lands
  uint32_t block_size = 0;     // the record length for input, 1 otherwise
  uint32_t buffer_index = 0;   // input: next unread byte of block; else the column
  uint32_t block_fill = 0;
  // Input: the byte that ends lines, CR or LF, set by the first line end
  // read (files/lines.h); 0 until then.
  uint8_t line_end = 0;
  std::unique_ptr<uint8_t[]> block;
  ReadDigest digest;  // input on a disk file: of every block read
};

// The open channel with this number, or nullptr.
Channel* find_channel(int32_t number);

}  // namespace brevlith
