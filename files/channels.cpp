#include "files/channels.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "console/error_codes.h"
#include "console/error_status.h"
#include "files/channel_record.h"
#include "host/wildcard.h"
#include "text/strings.h"

namespace brevlith {
namespace {

// The table is indexed by number: every lookup is one step, even with
// thousands of output files opened and closed in a run.
std::array<std::unique_ptr<Channel>, max_channel + 1> table;

// The tool runs on one thread, yet four locks guard the services: these
// two (the channel table, and opens), the gate lock around every host call
// (console/error_status.h) and, on Windows, the read-ahead table
// (host/win32/files.cpp). They keep each service whole should a caller ever
// use it from a second thread, and cost one uncontended exchange each. The
// open lock is always taken first. Spin locks: taken several times for every
// message, an exchange is cheaper than a mutex's calls.
class SpinLock {
 public:
  void lock() {
    while (held_.test_and_set(std::memory_order_acquire)) std::this_thread::yield();
  }
  void unlock() { held_.clear(std::memory_order_release); }

 private:
  std::atomic_flag held_;
};
SpinLock table_lock;  // every lookup, insertion and removal
SpinLock open_lock;   // open_channel and next_free_channel, always taken first
int16_t last_free_channel = 0;

// The record of the last closed channel, ready for the next open: a run
// opens a channel for every message, and would otherwise allocate the
// record, its block and its name each time.
std::unique_ptr<Channel> reusable_record;
// Room past the last byte for the line scan, which reads whole vectors, and
// for a whole 128-byte block whatever the record length.
constexpr size_t standard_block = 128 + 16;

std::unique_ptr<Channel>& slot(int32_t number) { return table[static_cast<size_t>(number)]; }

// A record with every field 0, its block large enough for block_size.
std::unique_ptr<Channel> new_record(int32_t block_size) {
  std::unique_ptr<Channel> c;
  if (reusable_record && block_size <= 128) {
    c = std::move(reusable_record);
    std::unique_ptr<uint8_t[]> block = std::move(c->block);
    *c = Channel{};
    c->block = std::move(block);
    return c;
  }
  c = std::make_unique<Channel>();
  c->block =
      std::make_unique<uint8_t[]>(std::max(static_cast<size_t>(block_size) + 16, standard_block));
  return c;
}

void keep_for_reuse(std::unique_ptr<Channel> c) {
  if (!reusable_record && c->block_size <= 128) reusable_record = std::move(c);
}

// Whether a file just opened for writing is where this process's standard
// output or standard error goes. Their identities are read once: a run never
// moves them.
bool is_standard_stream(host::Handle handle) {
  static const std::vector<host::FileIdentity> streams = [] {
    std::vector<host::FileIdentity> found;
    for (const auto which : {host::std_output, host::std_error}) {
      const host::Handle h = host::get_std_handle(which);
      host::FileIdentity id;
      if (run_system_call([&] { return host::get_file_type(h); }).result == host::file_type_disk &&
          run_system_call([&] { return host::get_file_information_by_handle(h, id); }).result)
        found.push_back(id);
    }
    return found;
  }();
  if (streams.empty()) return false;
  host::FileIdentity id;
  const auto known =
      run_system_call([&] { return host::get_file_information_by_handle(handle, id); });
  return known.result && std::find(streams.begin(), streams.end(), id) != streams.end();
}

uint32_t access_for(Mode mode) {
  switch (mode) {
    case Mode::input:
      return host::generic_read;
    case Mode::output:
      return host::generic_write;
    case Mode::append:
      break;
  }
  return host::generic_read | host::generic_write;
}

// Output never leaves its folder, goes into a FIFO or device, or changes a
// file's other names. A message file is nearly always new, and may be made
// anew; a term mailbox nearly always exists.
uint32_t flags_for(Mode mode) {
  constexpr uint32_t output = host::open_no_follow | host::open_disk_file;
  switch (mode) {
    case Mode::output:
      return output | host::open_create_first | host::open_own_file;
    case Mode::append:
      return output | host::open_single_name;
    case Mode::input:
      break;
  }
  return 0;
}

// Opens with the lock wait asked for: a sharing violation is tried again
// after a pause that grows from 1 ms to 50 ms, until about five seconds
// have passed. A holder that outlasts that is no run adding one record; from
// then on a wait is a tenth of a second, so a run of many records against it
// does not take hours.
GateResult<host::Handle> open_file(const std::u16string& wide, Mode mode,
                                   const OpenOptions& options) {
  using namespace std::chrono;
  static bool waited_in_vain = false;
  const auto deadline = steady_clock::now() + (waited_in_vain ? milliseconds(100) : seconds(5));
  auto pause = milliseconds(1);
  for (;;) {
    auto opened = run_system_call([&] {
      return host::create_file_w(wide, access_for(mode),
                                 mode == Mode::input ? host::open_existing : host::open_always,
                                 flags_for(mode), options.permissions, options.folder);
    });
    if (opened.result != host::invalid_handle || options.wait == LockWait::none ||
        opened.last_error != host::win32::sharing_violation)
      return opened;
    if (steady_clock::now() >= deadline) {
      waited_in_vain = true;
      return opened;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, milliseconds(50));
  }
}

// Closes the handle of a channel whose open failed half-way.
void abandon(host::Handle handle) {
  run_system_call([&] { return host::close_handle(handle); });
}

template <class R>
ErrorStatus status_of(const GateResult<R>& call) {
  return {call.code, call.last_error};
}

// The checks made before anything is allocated or the file system touched.
ErrorStatus check_request(const std::u16string& wide, int32_t number, int32_t block_size,
                          bool literal) {
  if (wide.empty() || (!literal && host::has_wildcards_in_name(wide)))
    return {error_code::bad_file_name, 0};
  // Cut short, a longer name would open another file, or every message of
  // a long mailbox name the same one.
  if (wide.size() > max_name)
    return {error_code::path_file_access, host::win32::filename_exced_range};
  if (number < 0 || number > max_channel) return {error_code::channel_not_open, 0};
  if (block_size < 1) return {error_code::invalid_argument, 0};
  if (find_channel(number)) return {error_code::channel_already_open, 0};
  return {};
}

// Output: a disk file is cut to length 0.
ErrorStatus cut_to_start(Channel& c) {
  const auto moved =
      run_system_call([&] { return host::set_file_pointer(c.handle, 0, host::file_begin); });
  if (moved.failed()) return status_of(moved);
  return status_of(run_system_call([&] { return host::set_end_of_file(c.handle); }));
}

// Append: the next byte lands at the end.
ErrorStatus move_to_end(Channel& c) {
  const auto moved =
      run_system_call([&] { return host::set_file_pointer(c.handle, 0, host::file_end); });
  if (!moved.failed()) c.file_position = static_cast<uint64_t>(moved.result);
  return status_of(moved);
}

// Input: the first block is read at once.
ErrorStatus read_first_block(Channel& c) {
  const auto moved =
      run_system_call([&] { return host::set_file_pointer(c.handle, 0, host::file_begin); });
  if (moved.failed()) return status_of(moved);
  uint32_t done = 0;
  const auto read =
      run_system_call([&] { return host::read_file(c.handle, c.block.get(), c.block_size, done); });
  c.block_fill = done;
  c.digest.add(0, c.block.get(), done);
  return status_of(read);
}

// Readies a file just opened for its mode.
ErrorStatus start_channel(Channel& c) {
  // Checked before the cut below: standard output redirected into the
  // output folder keeps what the run has printed so far.
  if (c.mode != Mode::input && is_standard_stream(c.handle))
    return {error_code_for_host_error(host::win32::busy), host::win32::busy};
  const auto type = run_system_call([&] { return host::get_file_type(c.handle); });
  c.device_kind = type.result == host::file_type_disk ? DeviceKind::disk : DeviceKind::other;
  if (c.device_kind != DeviceKind::disk)
    return c.mode == Mode::append ? ErrorStatus{error_code::bad_file_mode, 0} : ErrorStatus{};
  switch (c.mode) {
    case Mode::output:
      return cut_to_start(c);
    case Mode::append:
      return move_to_end(c);
    case Mode::input:
      break;
  }
  return read_first_block(c);
}

}  // namespace

// Each lane's chain is a rotate, an xor and a multiply: four lanes keep the
// multiplier busy, and a changed word changes its lane's product for sure.
void ReadDigest::mix(const uint8_t* step) {
  for (size_t i = 0; i < lanes; ++i) {
    uint64_t word;
    std::memcpy(&word, step + 8 * i, 8);
    lane_[i] = (std::rotl(lane_[i], 29) ^ word) * 0x9E3779B97F4A7C15u;
  }
}

void ReadDigest::add(uint64_t at, const uint8_t* bytes, size_t n) {
  if (!whole_ || n == 0) return;
  if (at != length_) {
    whole_ = false;
    return;
  }
  const size_t have = length_ % sizeof carry_;
  length_ += n;
  if (have) {
    const size_t take = std::min(n, sizeof carry_ - have);
    std::memcpy(carry_ + have, bytes, take);
    bytes += take;
    n -= take;
    if (have + take < sizeof carry_) return;
    mix(carry_);
  }
  for (; n >= sizeof carry_; bytes += sizeof carry_, n -= sizeof carry_) mix(bytes);
  std::memcpy(carry_, bytes, n);
}

uint64_t ReadDigest::value() const {
  ReadDigest last = *this;
  if (const size_t have = length_ % sizeof carry_) {
    uint8_t step[sizeof carry_] = {};
    std::memcpy(step, carry_, have);
    last.mix(step);
  }
  uint64_t h = length_;
  for (const uint64_t lane : last.lane_) {
    h = (h ^ lane) * 0xD6E8FEB86659FD93u;
    h ^= h >> 32;
  }
  return h;
}

Channel* find_channel(int32_t number) {
  if (number < 0 || number > max_channel) return nullptr;
  std::lock_guard lock(table_lock);
  return slot(number).get();
}

void open_channel(const std::string& name, int32_t number, Mode mode, int32_t record_length,
                  const OpenOptions& options) {
  std::lock_guard open(open_lock);
  const std::u16string wide = to_wide(name);
  const int32_t block_size = mode == Mode::input ? record_length : 1;
  if (const ErrorStatus refused = check_request(wide, number, block_size, options.literal);
      refused.code)
    return raise_error(refused.code, refused.host_error);

  std::unique_ptr<Channel> c;
  try {
    c = new_record(block_size);
  } catch (const std::bad_alloc&) {
    return raise_error(error_code::out_of_memory);
  }
  c->mode = mode;
  c->block_size = static_cast<uint32_t>(block_size);
  const auto opened = open_file(wide, mode, options);
  if (opened.result == host::invalid_handle) return raise_error(opened.code, opened.last_error);
  c->handle = opened.result;
  if (const ErrorStatus failed = start_channel(*c); failed.code) {
    abandon(c->handle);
    keep_for_reuse(std::move(c));
    return raise_error(failed.code, failed.host_error);
  }
  std::lock_guard lock(table_lock);
  slot(number) = std::move(c);
}

void close_channel(int32_t number) {
  std::unique_ptr<Channel> c;
  {
    if (number < 0 || number > max_channel) return;
    std::lock_guard lock(table_lock);
    c = std::move(slot(number));
  }
  if (!c) return;
  GateResult<bool> first{true, 0, 0};
  if (c->mode == Mode::output && c->device_kind == DeviceKind::disk)
    first = run_system_call([&] { return host::set_end_of_file(c->handle); });
  const auto closed = run_system_call([&] { return host::close_handle(c->handle); });
  if (!first.failed()) first = closed;
  keep_for_reuse(std::move(c));
  if (first.failed()) raise_error(first.code, first.last_error);
}

void cut_channel(int32_t number, uint64_t length) {
  Channel* c = find_channel(number);
  if (!c) return raise_error(error_code::channel_not_open);
  if (c->mode == Mode::input || c->device_kind != DeviceKind::disk)
    return raise_error(error_code::bad_file_mode);
  const auto moved = run_system_call([&] {
    return host::set_file_pointer(c->handle, static_cast<int64_t>(length), host::file_begin);
  });
  if (moved.raise()) return;
  if (run_system_call([&] { return host::set_end_of_file(c->handle); }).raise()) return;
  c->file_position = length;
  c->buffer_index = 0;
}

void discard_channel_file(int32_t number) {
  Channel* c = find_channel(number);
  if (!c) return raise_error(error_code::channel_not_open);
  if (c->mode == Mode::input) return raise_error(error_code::bad_file_mode);
  run_system_call([&] { return host::set_file_disposition_delete(c->handle); }).raise();
}

uint64_t channel_position(int32_t number) {
  const Channel* c = find_channel(number);
  if (!c) return 0;
  return c->mode == Mode::input ? c->file_position + c->buffer_index : c->file_position;
}

bool channel_on_disk(int32_t number) {
  const Channel* c = find_channel(number);
  return c && c->device_kind == DeviceKind::disk;
}

uint32_t new_file_permissions(int32_t number) {
  const Channel* c = find_channel(number);
  uint32_t bits = host::default_permissions;
  if (!c || !run_system_call([&] { return host::get_file_permissions(c->handle, bits); }).result)
    return host::default_permissions;
  return (bits & 0666) | 0200;
}

host::FileStamp channel_file_stamp(int32_t number) {
  host::FileStamp stamp;
  const Channel* c = find_channel(number);
  if (!c) return raise_error(error_code::channel_not_open), stamp;
  if (run_system_call([&] { return host::get_file_stamp(c->handle, stamp); }).raise()) return {};
  return stamp;
}

bool channel_identity(int32_t number, FileId& id) {
  const Channel* c = find_channel(number);
  if (!c) return raise_error(error_code::channel_not_open), false;
  host::FileIdentity found;
  const auto got =
      run_system_call([&] { return host::get_file_information_by_handle(c->handle, found); });
  if (got.raise() || !got.result) return false;
  id = {found.volume, found.index};
  return true;
}

uint32_t read_channel_at(int32_t number, uint64_t offset, char* buffer, uint32_t size) {
  const Channel* c = find_channel(number);
  if (!c) return raise_error(error_code::channel_not_open), 0;
  if (c->mode != Mode::input || c->device_kind != DeviceKind::disk)
    return raise_error(error_code::bad_file_mode), 0;
  uint32_t done = 0;
  if (run_system_call([&] {
        return host::read_file_at(c->handle, static_cast<int64_t>(offset), buffer, size, done);
      }).raise())
    return 0;
  return done;
}

bool channel_read_unchanged(int32_t number, bool& unchanged) {
  unchanged = false;
  const Channel* c = find_channel(number);
  if (!c) return raise_error(error_code::channel_not_open), false;
  if (c->mode != Mode::input || c->device_kind != DeviceKind::disk)
    return raise_error(error_code::bad_file_mode), false;
  if (!c->digest.whole()) return true;
  std::vector<uint8_t> buffer;
  try {
    buffer.resize(64 * 1024);
  } catch (const std::bad_alloc&) {
    return raise_error(error_code::out_of_memory), false;
  }
  ReadDigest again;
  while (again.length() < c->digest.length()) {
    const uint64_t left = c->digest.length() - again.length();
    const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(left, buffer.size()));
    uint32_t got = 0;
    if (run_system_call([&] {
          return host::read_file_at(c->handle, static_cast<int64_t>(again.length()), buffer.data(),
                                    want, got);
        }).raise())
      return false;
    if (got == 0) return true;  // shorter now
    again.add(again.length(), buffer.data(), got);
  }
  unchanged = again.value() == c->digest.value();
  return true;
}

void place_channel(int32_t number, uint64_t offset) {
  Channel* c = find_channel(number);
  if (!c) return raise_error(error_code::channel_not_open);
  if (c->mode == Mode::input || c->device_kind != DeviceKind::disk)
    return raise_error(error_code::bad_file_mode);
  if (run_system_call([&] {
        return host::set_file_pointer(c->handle, static_cast<int64_t>(offset), host::file_begin);
      }).raise())
    return;
  c->file_position = offset;
}

bool channel_is_open(int32_t number) { return find_channel(number) != nullptr; }

bool read_channel_tail(int32_t number, uint32_t count, std::string& tail) {
  tail.clear();
  const Channel* c = find_channel(number);
  if (!c) return raise_error(error_code::channel_not_open), false;
  const uint32_t want = c->file_position < count ? static_cast<uint32_t>(c->file_position) : count;
  if (want == 0) return true;
  tail.resize(want);
  uint32_t got = 0;
  // Read past the read-ahead window, whose 64 KiB each append would pay for
  // three bytes; the position stays where the next write lands.
  if (run_system_call([&] {
        return host::read_file_at(c->handle, static_cast<int64_t>(c->file_position - want),
                                  tail.data(), want, got);
      }).raise())
    return tail.clear(), false;
  if (got != want) tail.clear();
  return true;
}

int32_t next_free_channel() {
  std::lock_guard open(open_lock);
  do {
    last_free_channel = last_free_channel >= max_channel ? 1 : last_free_channel + 1;
  } while (find_channel(last_free_channel));
  return last_free_channel;
}

}  // namespace brevlith
