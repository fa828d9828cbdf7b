#include "files/lines.h"

#include <cstring>
#include <new>

#include "console/error_status.h"
#include "files/channels.h"

namespace brevlith {
namespace {

constexpr uint8_t cr = 0x0D, lf = 0x0A, eof_mark = 0x1A;

enum class Next { byte, none, failed };

// Makes the next unread byte available without consuming it, refilling the
// block at its absolute offset when it is used up.
Next look(Channel& c, ErrorStatus& failure) {
  if (c.buffer_index < c.block_fill) return Next::byte;
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

// Appends the next line to `out`. 0 on success, else the error status.
ErrorStatus collect_line(Channel& c, std::string& out) {
  const size_t start = out.size();
  ErrorStatus failure;
  for (;;) {
    const Next next = look(c, failure);
    if (next == Next::failed) return out.resize(start), failure;
    if (next == Next::none) break;
    const uint8_t* run = c.block.get() + c.buffer_index;
    const size_t left = c.block_fill - c.buffer_index;
    const void* stop_cr = std::memchr(run, cr, left);
    const size_t scan = stop_cr ? static_cast<const uint8_t*>(stop_cr) - run : left;
    const void* stop_eof = std::memchr(run, eof_mark, scan);
    const size_t take = stop_eof ? static_cast<const uint8_t*>(stop_eof) - run : scan;
    try {
      out.append(reinterpret_cast<const char*>(run), take);
    } catch (const std::bad_alloc&) {
      out.resize(start);
      out.shrink_to_fit();
      return {7, 0};
    }
    c.buffer_index += static_cast<uint32_t>(take);
    if (stop_eof) break;
    if (stop_cr) {
      ++c.buffer_index;  // the CR
      const Next after = look(c, failure);
      if (after == Next::failed) return out.resize(start), failure;
      if (after == Next::byte && c.block[c.buffer_index] == lf) ++c.buffer_index;
      return {};
    }
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

}  // namespace brevlith
