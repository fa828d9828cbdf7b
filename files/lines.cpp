#include "files/lines.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "console/error_status.h"
#include "files/channels.h"

namespace brevlith {
namespace {

constexpr uint8_t cr = 0x0D, lf = 0x0A, eof_mark = 0x1A;

enum class Next { byte, none, failed };

// Refills the used-up block at its absolute offset.
[[gnu::noinline]] Next refill(Channel& c, ErrorStatus& failure) {
  c.file_position += c.buffer_index;
  c.buffer_index = 0;
  c.block_fill = 0;
  if (c.device_kind == DeviceKind::disk) {
    const auto moved = run_system_call([&] {
      return host::set_file_pointer(c.handle, static_cast<int64_t>(c.file_position),
                                    host::file_begin);
    });
    if (moved.failed()) return failure = {moved.code, moved.last_error}, Next::failed;
  }
  uint32_t done = 0;
  // A device other than a disk file is read one byte at a time: nothing
  // beyond the line is taken from it.
  const uint32_t want = c.device_kind == DeviceKind::disk ? c.block_size : 1;
  const auto read =
      run_system_call([&] { return host::read_file(c.handle, c.block.get(), want, done); });
  if (read.failed()) return failure = {read.code, read.last_error}, Next::failed;
  c.block_fill = done;
  return done == 0 ? Next::none : Next::byte;
}

// Makes the next unread byte available without consuming it.
inline Next look(Channel& c, ErrorStatus& failure) {
  return c.buffer_index < c.block_fill ? Next::byte : refill(c, failure);
}

// The index of the first CR or 0x1A among the n bytes at p, or n. Looks at
// whole 16-byte vectors (8-byte words without SSE2), so up to 15 bytes past
// the end are read (the block has room for them); matches there are ignored.
inline size_t line_stop(const uint8_t* p, size_t n) {
#if defined(__SSE2__) || defined(_M_X64)
  const __m128i crs = _mm_set1_epi8(static_cast<char>(cr));
  const __m128i marks = _mm_set1_epi8(static_cast<char>(eof_mark));
  for (size_t i = 0; i < n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const unsigned hits = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, crs), _mm_cmpeq_epi8(v, marks))));
    if (hits) return std::min(n, i + static_cast<size_t>(std::countr_zero(hits)));
  }
  return n;
#else
  if constexpr (std::endian::native == std::endian::little) {
    constexpr uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
    for (size_t i = 0; i < n; i += 8) {
      uint64_t word;
      std::memcpy(&word, p + i, 8);
      const uint64_t a = word ^ (ones * cr), b = word ^ (ones * eof_mark);
      // Exact for the lowest matching byte, which is all that is used.
      const uint64_t hits = (((a - ones) & ~a) | ((b - ones) & ~b)) & highs;
      if (hits) return std::min(n, i + static_cast<size_t>(std::countr_zero(hits) / 8));
    }
    return n;
  } else {
    size_t i = 0;
    while (i < n && p[i] != cr && p[i] != eof_mark) ++i;
    return i;
  }
#endif
}

void truncate(std::string& out, size_t n) { out.resize(n); }
void truncate(TextBuffer& out, size_t n) { out.resize_down(n); }

// Appends the next line to `out`. 0 on success, else the error status.
template <class Out>
ErrorStatus collect_line(Channel& c, Out& out) {
  const size_t start = out.size();
  ErrorStatus failure;
  for (;;) {
    const Next next = look(c, failure);
    if (next == Next::failed) return truncate(out, start), failure;
    if (next == Next::none) break;
    const uint8_t* run = c.block.get() + c.buffer_index;
    const size_t take = line_stop(run, c.block_fill - c.buffer_index);
    try {
      out.append(reinterpret_cast<const char*>(run), take);
    } catch (const std::bad_alloc&) {
      truncate(out, start);
      return {7, 0};
    }
    c.buffer_index += static_cast<uint32_t>(take);
    if (c.buffer_index == c.block_fill) continue;
    if (run[take] == eof_mark) break;
    ++c.buffer_index;  // the CR
    const Next after = look(c, failure);
    if (after == Next::failed) return truncate(out, start), failure;
    if (after == Next::byte && c.block[c.buffer_index] == lf) ++c.buffer_index;
    return {};
  }
  if (out.size() == start) return {62, 0};
  return {};
}

bool write_bytes(int32_t number, std::string_view bytes, bool line_end) {
  Channel* c = find_channel(number);
  if (!c) return raise_error(52), false;
  if (bytes.empty()) return true;
  if (c->mode == Mode::input) return raise_error(54), false;
  uint32_t done = 0;
  const auto wrote = run_system_call([&] {
    return host::write_file(c->handle, bytes.data(), static_cast<uint32_t>(bytes.size()), done);
  });
  if (wrote.raise()) return false;
  if (done < bytes.size()) return raise_error(c->device_kind == DeviceKind::disk ? 61 : 57), false;
  if (c->device_kind == DeviceKind::disk) c->file_position += done;
  c->buffer_index = line_end ? 0 : c->buffer_index + done;
  return true;
}

}  // namespace

int32_t at_end_of_file(int32_t number) {
  Channel* c = find_channel(number);
  if (!c) return raise_error(53), -1;
  if (c->mode != Mode::input) return 0;
  ErrorStatus failure;
  switch (look(*c, failure)) {
    case Next::failed:
      raise_error(failure.code, failure.host_error);
      return -1;
    case Next::none:
      return -1;
    case Next::byte:
      return c->block[c->buffer_index] == eof_mark ? -1 : 0;
  }
  return -1;
}

bool read_line_append(int32_t number, std::string& out) {
  Channel* c = find_channel(number);
  if (!c) return raise_error(52), false;
  if (c->mode != Mode::input) return raise_error(54), false;
  const ErrorStatus failure = collect_line(*c, out);
  if (failure.code != 0) return raise_error(failure.code, failure.host_error), false;
  return true;
}

namespace {

// The positions of CR and 0x1A in a block of up to 128 bytes, one bit each,
// found once per block rather than once per line.
class Stops {
 public:
  void find(const uint8_t* block, uint32_t fill) {
#if defined(__SSE2__) || defined(_M_X64)
    const __m128i crs = _mm_set1_epi8(static_cast<char>(cr));
    const __m128i marks = _mm_set1_epi8(static_cast<char>(eof_mark));
    uint64_t found[2] = {0, 0};
    for (int k = 0; k < 8; ++k) {  // the block has room for all 128 bytes
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * k));
      const uint64_t hits = static_cast<uint32_t>(
          _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, crs), _mm_cmpeq_epi8(v, marks))));
      found[k / 4] |= hits << (16 * (k % 4));
    }
    bits_[0] = found[0];
    bits_[1] = found[1];
#else
    bits_[0] = bits_[1] = 0;
    for (uint32_t i = 0; i < fill && i < 128; ++i)
      if (block[i] == cr || block[i] == eof_mark) bits_[i / 64] |= uint64_t{1} << (i % 64);
#endif
    if (fill < 64) {
      bits_[0] &= (uint64_t{1} << fill) - 1;
      bits_[1] = 0;
    } else if (fill < 128) {
      bits_[1] &= (uint64_t{1} << (fill - 64)) - 1;
    }
    fill_ = fill;
  }
  // The first stop at or after `from`, or the fill when there is none.
  uint32_t next(uint32_t from) const {
    if (from < 64) {
      if (const uint64_t m = bits_[0] & (~uint64_t{0} << from)) return std::countr_zero(m);
      if (bits_[1]) return 64 + std::countr_zero(bits_[1]);
    } else if (from < 128) {
      if (const uint64_t m = bits_[1] & (~uint64_t{0} << (from - 64)))
        return 64 + std::countr_zero(m);
    }
    return fill_;
  }

 private:
  uint64_t bits_[2] = {0, 0};
  uint32_t fill_ = 0;
};

}  // namespace

// The lines are copied block by block: bytes of lines that end in CR LF
// inside the block, already as they must be written, are left pending in
// block[run, index) and appended in one piece when the block is used up or
// a line needs a different end. Channel fields are mirrored in locals, as
// every append could alias them.
LinesStop read_lines(int32_t number, TextBuffer& out, std::string_view marker, size_t& line_start) {
  Channel* found = find_channel(number);
  if (!found) return raise_error(53), LinesStop::end_of_file;
  if (found->mode != Mode::input) return raise_error(54), LinesStop::failed_line;
  Channel& c = *found;
  // A line whose first byte could begin the marker takes the plain path,
  // as does every line of a block too large for Stops.
  const int first_of_marker =
      marker.empty() || c.block_size > 128 ? -1 : static_cast<uint8_t>(marker[0]);
  const uint8_t* block = c.block.get();
  uint32_t index = c.buffer_index, fill = c.block_fill, run = index;
  Stops stops;
  stops.find(block, fill);
  ErrorStatus failure;
  const auto append_run = [&] {
    out.append(block + run, index - run);
    run = index;
  };
  // Refills the block once its bytes are appended; false on failure.
  const auto next_block = [&](Next& next) {
    append_run();
    c.buffer_index = index;
    next = refill(c, failure);
    block = c.block.get();
    index = run = 0;
    fill = c.block_fill;
    stops.find(block, fill);
    return next != Next::failed;
  };
  line_start = out.size();
  try {
    for (;;) {
      Next next = Next::byte;
      if (index == fill) {
        if (!next_block(next)) {
          return raise_error(failure.code, failure.host_error), LinesStop::end_of_file;
        }
        if (next == Next::none) return LinesStop::end_of_file;
      }
      const uint8_t first = block[index];
      if (first == eof_mark) {
        append_run();
        c.buffer_index = index;
        return LinesStop::end_of_file;
      }
      line_start = out.size() + (index - run);
      if (first == first_of_marker || first_of_marker < 0) {
        append_run();
        c.buffer_index = index;
        failure = collect_line(c, out);
        block = c.block.get();
        run = index = c.buffer_index;
        fill = c.block_fill;
        stops.find(block, fill);
        if (failure.code) {
          return raise_error(failure.code, failure.host_error), LinesStop::failed_line;
        }
        out.append("\r\n", 2);
        const size_t length = out.size() - line_start - 2;
        if (length >= marker.size() &&
            std::memcmp(out.data() + line_start, marker.data(), marker.size()) == 0) {
          return LinesStop::marker;
        }
        continue;
      }
      for (;;) {
        const uint32_t stop = stops.next(index);
        if (stop + 1 < fill && block[stop] == cr && block[stop + 1] == lf) {
          index = stop + 2;  // stays pending
          break;
        }
        if (stop == fill) {  // the line goes on in the next block
          index = fill;
          if (!next_block(next)) break;
          if (next == Next::none) {
            out.append("\r\n", 2);
            break;
          }
          continue;
        }
        index = stop;
        append_run();
        if (block[stop] == eof_mark) {
          out.append("\r\n", 2);
          break;
        }
        ++index;  // a CR without an LF after it in this block
        run = index;
        if (index == fill) {  // an LF may start the next block
          if (!next_block(next)) break;
          if (next == Next::byte && block[0] == lf) run = index = 1;
        }
        out.append("\r\n", 2);
        break;
      }
      if (failure.code) {
        out.resize_down(line_start);
        c.buffer_index = index;
        return raise_error(failure.code, failure.host_error), LinesStop::failed_line;
      }
    }
  } catch (const std::bad_alloc&) {
    // Lines before this one may be missing too: the message is lost anyway.
    out.resize_down(line_start);
    c.buffer_index = index;
    return raise_error(7), LinesStop::failed_line;
  }
}

std::string read_line(int32_t number) {
  std::string line;
  read_line_append(number, line);
  return line;
}

void write_text(int32_t number, std::string_view text) {
  // A 32-bit length bounds one host write; larger texts go in 1 GiB pieces.
  constexpr size_t piece = size_t{1} << 30;
  while (text.size() > piece) {
    if (!write_bytes(number, text.substr(0, piece), false)) return;
    text.remove_prefix(piece);
  }
  write_bytes(number, text, false);
}

void write_line_end(int32_t number) { write_bytes(number, "\r\n", true); }

TextBuffer::~TextBuffer() { std::free(data_); }

void TextBuffer::grow(size_t more) {
  if (more > SIZE_MAX / 2 - size_) throw std::bad_alloc();
  // Half as much again: with growth by remapping a larger step saves
  // little, and the spare room stays small beside the message.
  const size_t capacity = std::max({size_ + more, capacity_ + capacity_ / 2, size_t{4096}});
  void* grown = std::realloc(data_, capacity);
  if (!grown) throw std::bad_alloc();
  data_ = static_cast<char*>(grown);
  capacity_ = capacity;
}

void TextBuffer::erase_front(size_t n) {
  if (n >= size_) {
    size_ = 0;
    return;
  }
  std::memmove(data_, data_ + n, size_ - n);
  size_ -= n;
}

void TextBuffer::release() {
  std::free(data_);
  data_ = nullptr;
  size_ = capacity_ = 0;
}

}  // namespace brevlith
