// Numbered file channels. open_channel binds a file to a number in one mode,
// the line operations read and write through it, close_channel releases it.
// Files are opened exclusively: while a channel is open, no other open of the
// same file succeeds (access_error). Failures never stop anything: they
// raise an error code and leave the channel number exactly as it was.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "files/file_id.h"
#include "host/host.h"

namespace brevlith {

enum class Mode { input, output, append };
inline constexpr int32_t max_channel = 32767;
// Longest name, in UTF-16 units, that a channel opens.
inline constexpr size_t max_name = 255;

// Opens `name` (at most 255 UTF-16 units) on `number`:
//   input  - existing file, read from 0, the first block read at once;
//   output - created when missing, cut to length 0;
//   append - created when missing, positioned at its end.
// Errors (error_code::): bad_file_name for an empty or wildcard name (file
// system not touched), path_file_access with the host error
// filename_exced_range for a longer name (never cut), channel_not_open for a
// number below 0, invalid_argument for a record length below 1,
// channel_already_open (that channel untouched), out_of_memory, bad_file_mode
// for append on a non-disk file, else the host's.
// How a file is opened, beyond its name and mode:
//   wait     - with LockWait::bounded, a file held by another program is
//              waited for, a few seconds at most, before the open fails
//              with access_error: other runs hold a term mailbox or a term file only
//              for a moment;
//   permissions - the permission bits a file created for output or append
//              takes (new_file_permissions; masked by the umask);
//   literal  - the name is a file's own (found on disk, or built from one):
//              its "*" and "?" are characters, as a POSIX name may hold them;
//   folder   - a folder from hold_folder (files/directories.h): the file is
//              the one of the name's last part in that very folder.
// A file that is this process's standard output or standard error is never
// opened for writing (host error busy): its bytes would mix. Nor is output
// ever written through a link at the name, into anything but a disk file,
// or through another name (a hard link) of the file: an output file that
// has one is given a new file of its own, an append file is refused.
enum class LockWait { none, bounded };
struct OpenOptions {
  LockWait wait = LockWait::none;
  uint32_t permissions = host::default_permissions;
  bool literal = false;
  host::Handle folder = host::invalid_handle;
};
void open_channel(const std::string& name, int32_t number, Mode mode, int32_t record_length,
                  const OpenOptions& options = {});

// Releases the channel; an output channel on a disk file is first cut where
// the last write ended. Not open: nothing, no error.
void close_channel(int32_t number);

// Cuts the disk file of an output or append channel to `length` bytes, and
// the next write lands there: a record that could not be written whole is
// taken back. channel_not_open, bad_file_mode for an input channel or not a
// disk file, else the host's code.
void cut_channel(int32_t number, uint64_t length);

// The file of an output channel is removed when the channel closes: a
// message file that could not be written whole must not pass for a message.
// channel_not_open, bad_file_mode for an input channel, else the host's code.
void discard_channel_file(int32_t number);

// Input: the offset of the next unread byte; output and append: where the
// next byte lands. 0 when the channel is not open.
uint64_t channel_position(int32_t number);

// Whether the channel is open on a disk file.
bool channel_on_disk(int32_t number);

// The permission bits for a file made from the one open on the channel: its
// read and write bits, and always its owner's write bit, so that a read-only
// mailbox does not make files the next run cannot replace. The host's
// default when the channel is not open or the host cannot tell.
uint32_t new_file_permissions(int32_t number);

// The size and the last write and change times of the file open on the
// channel, as they are now: what tells whether another program changed it.
// channel_not_open, else the host's code (the stamp then all 0).
host::FileStamp channel_file_stamp(int32_t number);

// The identity of the file open on the channel. False, with
// channel_not_open or the host's code raised, when it cannot be told.
bool channel_identity(int32_t number, FileId& id);

// Reads up to `size` bytes at `offset` of the disk file open for input on
// the channel, beside its line reading (whose place stays as it was);
// returns how many, 0 at the end. channel_not_open, bad_file_mode when it is
// no input channel on a disk file, else the host's code (0 returned).
uint32_t read_channel_at(int32_t number, uint64_t offset, char* buffer, uint32_t size);

// For an input channel on a disk file: whether the bytes it has read are
// the ones the file holds now, read again from the file itself (past any
// read-ahead). False with the error raised when they cannot be read again.
bool channel_read_unchanged(int32_t number, bool& unchanged);

// For an output or append channel on a disk file: the next write lands at
// `offset`, over what is there; nothing is cut. channel_not_open,
// bad_file_mode, else the host's code.
void place_channel(int32_t number, uint64_t offset);

// Whether a channel of this number is open.
bool channel_is_open(int32_t number);

// For a channel open for output or append: the last `count` bytes before
// its position, at the file's end, into `tail` (fewer when the file is
// shorter); the position stays. False, with the host's code raised, when
// they cannot be read.
bool read_channel_tail(int32_t number, uint32_t count, std::string& tail);

// The first number after the one handed out last that is not open, wrapping
// after 32767 to 1. The number is not reserved.
int32_t next_free_channel();

}  // namespace brevlith
