#include "files/lines.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#endif

#include "console/error_codes.h"
#include "console/error_status.h"
#include "files/channel_record.h"
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
  if (c.device_kind == DeviceKind::disk) c.digest.add(c.file_position, c.block.get(), done);
  return done == 0 ? Next::none : Next::byte;
}

// Makes the next unread byte available without consuming it.
inline Next look(Channel& c, ErrorStatus& failure) {
  return c.buffer_index < c.block_fill ? Next::byte : refill(c, failure);
}

// One bit for each line end byte `End` (CR, LF, or both for 0: the first
// line end is not known yet) or 0x1A among the 16 bytes at p, the lowest
// for p[0].
template <uint8_t End>
inline uint32_t stops_in_16(const uint8_t* p) {
#if defined(__SSE2__) || defined(_M_X64)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i marks = _mm_set1_epi8(static_cast<char>(eof_mark));
  __m128i found = _mm_cmpeq_epi8(v, marks);
  if constexpr (End != lf) found = _mm_or_si128(found, _mm_cmpeq_epi8(v, _mm_set1_epi8(cr)));
  if constexpr (End != cr) found = _mm_or_si128(found, _mm_cmpeq_epi8(v, _mm_set1_epi8(lf)));
  return static_cast<uint32_t>(_mm_movemask_epi8(found));
#else
  uint32_t bits = 0;
  for (uint32_t i = 0; i < 16; ++i)
    if ((End != lf && p[i] == cr) || (End != cr && p[i] == lf) || p[i] == eof_mark)
      bits |= uint32_t{1} << i;
  return bits;
#endif
}

// The index of the first stop among the n bytes at p, or n. Looks at whole
// 16-byte pieces, so up to 15 bytes past the end are read (the block has
// room for them); matches there are ignored.
template <uint8_t End>
inline size_t line_stop(const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; i += 16)
    if (const uint32_t hits = stops_in_16<End>(p + i))
      return std::min(n, i + static_cast<size_t>(std::countr_zero(hits)));
  return n;
}

void truncate(std::string& out, size_t n) { out.resize(n); }
void truncate(TextBuffer& out, size_t n) { out.resize_down(n); }

// Appends the next line to `out`. 0 on success, else the error status.
// `End` is the channel's line end, 0 while it is not known: then the first
// CR or LF found decides it.
template <uint8_t End, class Out>
ErrorStatus collect_line_ended(Channel& c, Out& out) {
  const size_t start = out.size();
  ErrorStatus failure;
  for (;;) {
    const Next next = look(c, failure);
    if (next == Next::failed) return truncate(out, start), failure;
    if (next == Next::none) break;
    const uint8_t* run = c.block.get() + c.buffer_index;
    const size_t take = line_stop<End>(run, c.block_fill - c.buffer_index);
    try {
      out.append(reinterpret_cast<const char*>(run), take);
    } catch (const std::bad_alloc&) {
      truncate(out, start);
      return {error_code::out_of_memory, 0};
    }
    c.buffer_index += static_cast<uint32_t>(take);
    if (c.buffer_index == c.block_fill) continue;
    if (run[take] == eof_mark) break;
    ++c.buffer_index;  // the CR or LF
    if constexpr (End != cr) {
      if (run[take] == lf) {
        c.line_end = lf;
        // A CR right before the LF belongs to the line end.
        if (out.size() > start && out.data()[out.size() - 1] == '\r') truncate(out, out.size() - 1);
        return {};
      }
    }
    if constexpr (End == 0) c.line_end = cr;
    const Next after = look(c, failure);
    if (after == Next::failed) return truncate(out, start), failure;
    if (after == Next::byte && c.block[c.buffer_index] == lf) ++c.buffer_index;
    return {};
  }
  if (out.size() == start) return {error_code::past_end, 0};
  return {};
}

template <class Out>
ErrorStatus collect_line(Channel& c, Out& out) {
  if (c.line_end == cr) return collect_line_ended<cr>(c, out);
  if (c.line_end == lf) return collect_line_ended<lf>(c, out);
  return collect_line_ended<0>(c, out);
}

bool write_bytes(int32_t number, std::string_view bytes, bool line_end) {
  Channel* c = find_channel(number);
  if (!c) return raise_error(error_code::channel_not_open), false;
  if (bytes.empty()) return true;
  if (c->mode == Mode::input) return raise_error(error_code::bad_file_mode), false;
  uint32_t done = 0;
  const auto wrote = run_system_call([&] {
    return host::write_file(c->handle, bytes.data(), static_cast<uint32_t>(bytes.size()), done);
  });
  if (wrote.raise()) return false;
  if (done < bytes.size())
    return raise_error(c->device_kind == DeviceKind::disk ? error_code::disk_full
                                                          : error_code::device_short_write),
           false;
  if (c->device_kind == DeviceKind::disk) c->file_position += done;
  c->buffer_index = line_end ? 0 : c->buffer_index + done;
  return true;
}

}  // namespace

int32_t at_end_of_file(int32_t number) {
  Channel* c = find_channel(number);
  if (!c) return raise_error(error_code::file_not_found), -1;
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
  if (!c) return raise_error(error_code::channel_not_open), false;
  if (c->mode != Mode::input) return raise_error(error_code::bad_file_mode), false;
  const ErrorStatus failure = collect_line(*c, out);
  if (failure.code != 0) return raise_error(failure.code, failure.host_error), false;
  return true;
}

bool lines_end_in_lf(int32_t number) {
  const Channel* c = find_channel(number);
  return c && c->mode == Mode::input && c->line_end == lf;
}

namespace {

// The positions of the line end byte `End` and 0x1A in a block of up to
// 128 bytes, one bit each, found once per block rather than once per line.
template <uint8_t End>
class Stops {
 public:
  void find(const uint8_t* block, uint32_t fill) {
    uint64_t found[2] = {0, 0};
    for (int k = 0; k < 8; ++k)  // the block has room for all 128 bytes
      found[k / 4] |= uint64_t{stops_in_16<End>(block + 16 * k)} << (16 * (k % 4));
    bits_[0] = found[0];
    bits_[1] = found[1];
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

// Copies lines from an input channel's blocks into a message, block by
// block: bytes of lines that end in CR LF inside the block, already as they
// must be written, are left pending in block[run, index) and appended in one
// piece when the block is used up or a line needs a different end. `End`
// is the channel's line end, CR or LF, already decided. The
// channel's fields are mirrored here, as every append could alias them; the
// failure is kept apart, so that this record never escapes and stays in
// registers.
template <uint8_t End>
class LineCopier {
 public:
  LineCopier(Channel& c, TextBuffer& out, std::string_view marker)
      : c_(c), out_(out), marker_(marker) {
    // A line whose first byte could begin the marker takes the plain path,
    // as does every line of a block too large for Stops.
    first_of_marker_ = marker.empty() || c.block_size > 128 ? -1 : static_cast<uint8_t>(marker[0]);
    take_block();
  }

  // read_lines itself; line_start is kept up to date for the caller's
  // clean-up when an append throws.
  LinesStop copy(size_t& line_start, ErrorStatus& failure) {
    line_start = out_.size();
    for (;;) {
      if (index_ == fill_) {
        Next next = Next::byte;
        if (!next_block(next, failure)) return LinesStop::end_of_file;
        if (next == Next::none) return LinesStop::end_of_file;
      }
      const uint8_t first = block_[index_];
      if (first == eof_mark) {
        hand_back();
        return LinesStop::end_of_file;
      }
      line_start = out_.size() + (index_ - run_);
      if (first == first_of_marker_ || first_of_marker_ < 0) {
        if (!copy_line_whole(failure)) return LinesStop::failed_line;
        if (starts_with_marker(line_start)) return LinesStop::marker;
        continue;
      }
      if constexpr (End == cr)
        copy_line_in_place(failure);
      else
        copy_lf_line_in_place(failure);
      if (failure.code) {
        out_.resize_down(line_start);
        c_.buffer_index = index_;
        return LinesStop::failed_line;
      }
    }
  }

  // Where reading stopped, for a copy broken off by an exception.
  uint32_t index() const { return index_; }

 private:
  // The channel's current block, from its next unread byte.
  void take_block() {
    block_ = c_.block.get();
    index_ = run_ = c_.buffer_index;
    fill_ = c_.block_fill;
    stops_.find(block_, fill_);
  }

  void append_pending() {
    out_.append(block_ + run_, index_ - run_);
    run_ = index_;
  }

  // The pending bytes appended and the channel left at the next unread byte.
  void hand_back() {
    append_pending();
    c_.buffer_index = index_;
  }

  // Refills the block once its bytes are appended; false on failure.
  bool next_block(Next& next, ErrorStatus& failure) {
    hand_back();
    next = refill(c_, failure);
    take_block();
    return next != Next::failed;
  }

  // A line that may be the marker, through the plain line reader; false
  // when it failed (nothing of it appended).
  bool copy_line_whole(ErrorStatus& failure) {
    hand_back();
    failure = collect_line(c_, out_);
    take_block();
    if (failure.code) return false;
    out_.append("\r\n", 2);
    return true;
  }

  bool starts_with_marker(size_t line_start) const {
    const size_t length = out_.size() - line_start - 2;
    return length >= marker_.size() &&
           std::memcmp(out_.data() + line_start, marker_.data(), marker_.size()) == 0;
  }

  // Any other line: its bytes and its CR LF, left pending where the block
  // holds them so; a failed refill is left in `failure`.
  void copy_line_in_place(ErrorStatus& failure) {
    for (;;) {
      Next next = Next::byte;
      const uint32_t stop = stops_.next(index_);
      if (stop + 1 < fill_ && block_[stop] == cr && block_[stop + 1] == lf) {
        index_ = stop + 2;  // stays pending
        return;
      }
      if (stop == fill_) {  // the line goes on in the next block
        index_ = fill_;
        if (!next_block(next, failure)) return;
        if (next == Next::none) break;
        continue;
      }
      index_ = stop;
      append_pending();
      if (block_[stop] == eof_mark) break;
      ++index_;  // a CR without an LF after it in this block
      run_ = index_;
      if (index_ == fill_) {  // an LF may start the next block
        if (!next_block(next, failure)) return;
        if (next == Next::byte && block_[0] == lf) run_ = index_ = 1;
      }
      break;
    }
    out_.append("\r\n", 2);
  }

  // The same for a file whose lines end in LF: a line that ends in CR LF
  // stays pending, one that ends in a lone LF gains the CR.
  void copy_lf_line_in_place(ErrorStatus& failure) {
    uint32_t from = index_;  // where the line's bytes in this block begin
    bool continued = false;  // its bytes in earlier blocks are appended
    for (;;) {
      const uint32_t stop = stops_.next(index_);
      if (stop == fill_) {  // the line goes on in the next block
        index_ = fill_;
        Next next = Next::byte;
        if (!next_block(next, failure)) return;
        if (next == Next::none) break;
        from = 0;
        continued = true;
        continue;
      }
      if (block_[stop] == eof_mark) {
        index_ = stop;
        append_pending();
        break;
      }
      const bool after_cr =
          stop > from ? block_[stop - 1] == cr : continued && out_.data()[out_.size() - 1] == '\r';
      if (!after_cr) {
        index_ = stop;
        append_pending();
        out_.append("\r\n", 2);
        run_ = stop + 1;
      }
      index_ = stop + 1;
      return;
    }
    out_.append("\r\n", 2);
  }

  Channel& c_;
  TextBuffer& out_;
  const std::string_view marker_;
  int first_of_marker_;
  const uint8_t* block_ = nullptr;
  uint32_t index_ = 0, fill_ = 0, run_ = 0;
  Stops<End> stops_;
};

}  // namespace

namespace {

template <uint8_t End>
LinesStop copy_lines(Channel& c, TextBuffer& out, std::string_view marker, size_t& line_start,
                     ErrorStatus& failure) {
  LineCopier<End> copier(c, out, marker);
  try {
    return copier.copy(line_start, failure);
  } catch (const std::bad_alloc&) {
    // Lines before this one may be missing too: the message is lost anyway.
    out.resize_down(line_start);
    c.buffer_index = copier.index();
    failure = {error_code::out_of_memory, 0};
    return LinesStop::failed_line;
  }
}

// One line of a file whose first line end is not read yet, through the
// plain reader, which decides it. Nothing when the caller goes on.
std::optional<LinesStop> undecided_line(Channel& c, TextBuffer& out, std::string_view marker,
                                        size_t& line_start, ErrorStatus& failure) {
  line_start = out.size();
  const Next next = look(c, failure);
  if (next != Next::byte || c.block[c.buffer_index] == eof_mark) return LinesStop::end_of_file;
  failure = collect_line(c, out);
  if (failure.code) return LinesStop::failed_line;
  try {
    out.append("\r\n", 2);
  } catch (const std::bad_alloc&) {
    out.resize_down(line_start);
    failure = {error_code::out_of_memory, 0};
    return LinesStop::failed_line;
  }
  const size_t length = out.size() - line_start - 2;
  if (length >= marker.size() &&
      std::memcmp(out.data() + line_start, marker.data(), marker.size()) == 0)
    return LinesStop::marker;
  return std::nullopt;
}

}  // namespace

LinesStop read_lines(int32_t number, TextBuffer& out, std::string_view marker, size_t& line_start) {
  Channel* c = find_channel(number);
  if (!c) return raise_error(error_code::file_not_found), LinesStop::end_of_file;
  if (c->mode != Mode::input) return raise_error(error_code::bad_file_mode), LinesStop::failed_line;
  ErrorStatus failure;
  std::optional<LinesStop> stop;
  while (!stop && c->line_end == 0) stop = undecided_line(*c, out, marker, line_start, failure);
  if (!stop)
    stop = c->line_end == lf ? copy_lines<lf>(*c, out, marker, line_start, failure)
                             : copy_lines<cr>(*c, out, marker, line_start, failure);
  if (failure.code) raise_error(failure.code, failure.host_error);
  return *stop;
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

void write_pieces(int32_t number, std::initializer_list<std::string_view> pieces) {
  Channel* c = find_channel(number);
  if (!c) return raise_error(error_code::channel_not_open);
  if (pieces.size() > host::max_write_pieces) return raise_error(error_code::invalid_argument);
  host::WritePiece parts[host::max_write_pieces];
  size_t count = 0;
  uint64_t total = 0;
  for (const std::string_view piece : pieces)
    if (!piece.empty()) parts[count++] = {piece.data(), piece.size()}, total += piece.size();
  if (total == 0) return;
  if (c->mode == Mode::input) return raise_error(error_code::bad_file_mode);
  uint64_t done = 0;
  const auto wrote =
      run_system_call([&] { return host::write_file_gather(c->handle, parts, count, done); });
  // What was written stands in the file, short or not: the position says
  // where, so that a caller can take the record back from its start.
  if (c->device_kind == DeviceKind::disk) c->file_position += done;
  c->buffer_index += static_cast<uint32_t>(done);
  if (wrote.raise()) return;
  if (done < total)
    raise_error(c->device_kind == DeviceKind::disk ? error_code::disk_full
                                                   : error_code::device_short_write);
}

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
