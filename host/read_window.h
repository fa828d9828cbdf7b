// The read-ahead window of a disk file, for both hosts. The channels ask for
// 128 bytes at a time, and a host call per 128 bytes would dominate a run, so
// reads are served from one window of the file, refilled by one read at an
// offset. The window stays exact because every file is opened for exclusive
// use: nothing else can change it while the handle is open.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>

namespace host {

class ReadWindow {
 public:
  static constexpr uint32_t size = 64 * 1024;

  // Copies up to n bytes from `position` on into `buffer` and advances
  // `position` past them; `done` receives the count, short only at the end of
  // the file. `read_at(offset, bytes, n, got)` reads the file at an offset,
  // leaving the host's last error behind when it fails; so does this call,
  // keeping what it has copied.
  template <class ReadAt>
  bool read(int64_t& position, char* buffer, uint32_t n, uint32_t& done, ReadAt&& read_at) {
    // Nearly every read is a 128-byte block well inside the window.
    const uint64_t offset = static_cast<uint64_t>(position - offset_);
    if (position < offset_ || offset + n > fill_)
      return read_refilling(position, buffer, n, done, read_at);
    if (n == 128)
      std::memcpy(buffer, bytes_.get() + offset, 128);
    else
      std::memcpy(buffer, bytes_.get() + offset, n);
    position += n;
    done = n;
    return true;
  }

  // Forgets what it holds, for when the file itself changes.
  void clear() { fill_ = 0; }

 private:
  template <class ReadAt>
  [[gnu::noinline]] bool read_refilling(int64_t& position, char* buffer, uint32_t n, uint32_t& done,
                                        ReadAt& read_at) {
    done = 0;
    while (done < n) {
      const int64_t at = position;
      if (at < offset_ || at >= offset_ + fill_) {
        if (!bytes_) bytes_ = std::make_unique<char[]>(size);
        uint32_t got = 0;
        fill_ = 0;
        if (!read_at(at, bytes_.get(), size, got)) return false;
        offset_ = at;
        fill_ = got;
        if (got == 0) return true;  // end of file
      }
      const uint32_t offset = static_cast<uint32_t>(at - offset_);
      const uint32_t take = std::min(n - done, fill_ - offset);
      std::memcpy(buffer + done, bytes_.get() + offset, take);
      done += take;
      position += take;
    }
    return true;
  }

  std::unique_ptr<char[]> bytes_;
  int64_t offset_ = 0;
  uint32_t fill_ = 0;
};

}  // namespace host
