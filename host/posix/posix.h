// Internals shared by the POSIX host files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/host.h"

namespace host::posix {

// One row of the errno -> Win32 table.
struct ErrnoRow {
  int errno_value;
  uint32_t win32_error;
};
// The whole table, for tests that walk it.
const std::vector<ErrnoRow>& errno_table();
// Win32 error number for errno; one not in the table is kept as the host's
// own (win32::host_own_error | errno).
uint32_t win32_from_errno(int errno_value);
// Sets the last error from errno and returns false, for one-line call sites.
bool fail_errno();
bool fail(uint32_t win32_error);

// Wide name -> file-system path: "\" becomes "/". False (and invalid_name)
// for a name holding U+0000, which must never be cut and open another file.
bool to_path(const Wide& name, std::string& path);
// ENOENT means path_not_found when a parent directory of `path` is missing.
uint32_t missing_error(const std::string& path);

struct Object {
  virtual ~Object() = default;
};

// The handle table: handles are small positive integers; 1..3 are the
// standard streams.
Handle add_object(std::unique_ptr<Object> object);
Object* find_object(Handle h);
std::unique_ptr<Object> remove_object(Handle h);
// The descriptor behind a file or stream handle, or -1.
int descriptor(Handle h);
// The descriptor of a folder from open_folder_w, or -1.
int folder_descriptor(Handle h);
// The open console input (/dev/tty), where the terminal answers queries;
// invalid_handle when it is not open.
Handle console_input();
// How long a terminal's answer to the cursor query is awaited: 100 ms.
// Test programs that drive the screen path on a loaded machine wait longer.
void set_terminal_reply_wait(int milliseconds);
// Reads away an answer to a cursor query that came too late to be used, or
// waits for it a short while: the terminal's input is the shell's again
// once the run ends.
void read_away_late_answer();

}  // namespace host::posix
