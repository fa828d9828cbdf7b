// Text operations on an open channel. The first line end of a file decides
// how its lines end: when it is CR or CR LF, only CR ends a line (CR LF is one
// terminator, also across a block refill) and a lone LF is an ordinary byte;
// when it is a lone LF, LF ends each line, a CR right before an LF belongs to
// the line end, and any other CR is an ordinary byte. 0x1A ends the file and
// is never consumed. Writes are one host write each. Errors are named as in
// console/error_codes.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>
#include <string_view>

namespace brevlith {

// -1 when every byte before the first 0x1A has been consumed or the file holds
// no more (also for a number that is not open: file_not_found, or a read
// failure); 0 else.
// Output and append channels are never at their end.
int32_t at_end_of_file(int32_t number);

// The next line without its terminator. "" with past_end at the end of the
// data, channel_not_open, bad_file_mode on an output channel, the host's code
// on a read failure (the bytes collected are dropped), out_of_memory.
// Used by tests and fuzzers only: the tool reads through read_lines; this
// stays as the one-line-at-a-time model that read_lines is checked against.
std::string read_line(int32_t number);
// The same, appending the line to `out` (which keeps its capacity): the
// mailbox walk collects messages without a copy per line. Returns false
// when nothing was appended because of a failure or the end of the data.
bool read_line_append(int32_t number, std::string& out);

// True when the first line end read from the input channel was a lone LF,
// so that its lines end at LF; false before any line end was read.
bool lines_end_in_lf(int32_t number);

// A growable run of bytes for collecting a message. It grows with realloc, so
// the allocator can move a large message by remapping its pages instead of
// copying it, and the old and the new storage are never both held. append
// throws std::bad_alloc when memory runs out (the contents stay as they were).
class TextBuffer {
 public:
  TextBuffer() = default;
  ~TextBuffer();
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  const char* data() const { return data_; }
  size_t size() const { return size_; }
  std::string_view view() const { return {data_, size_}; }
  void append(const void* bytes, size_t n) {
    if (n == 0) return;  // data_ may still be null
    if (n > capacity_ - size_) grow(n);
    std::memcpy(data_ + size_, bytes, n);
    size_ += n;
  }
  void append(std::string_view bytes) { append(bytes.data(), bytes.size()); }
  // Keeps the storage, so the next message of the same size costs nothing.
  void resize_down(size_t n) { size_ = n < size_ ? n : size_; }
  // Drops the first n bytes, moving the rest to the front.
  void erase_front(size_t n);
  // Frees the storage.
  void release();

 private:
  void grow(size_t more);
  char* data_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
};

enum class LinesStop { end_of_file, marker, failed_line };

// Reads lines from an input channel exactly as a loop of at_end_of_file and
// read_line would, appending each line followed by CR LF to `out`, and stops:
//   marker      - after appending a line that begins with `marker` (every
//                 line, for an empty marker); `line_start` is where it begins;
//   end_of_file - when at_end_of_file would be true (its failure raised);
//   failed_line - when read_line would fail: its code is raised and nothing
//                 is appended for that line, not even the CR LF.
// A number that is not open is at its end, as for at_end_of_file
// (file_not_found, end_of_file); an output channel fails as for read_line
// (bad_file_mode, failed_line).
LinesStop read_lines(int32_t number, TextBuffer& out, std::string_view marker, size_t& line_start);

// The bytes of `text` in one write; "" writes nothing and fails nowhere.
// channel_not_open, bad_file_mode for an input channel, the host's code,
// disk_full (device_short_write off disk) when short.
void write_text(int32_t number, std::string_view text);
// CR LF in one write.
void write_line_end(int32_t number);
// The pieces one after another in one host write (up to 8; "" pieces are
// skipped): a record of several parts costs one call. Failures as for
// write_text; the position advances by what was written, even when short.
void write_pieces(int32_t number, std::initializer_list<std::string_view> pieces);

}  // namespace brevlith
