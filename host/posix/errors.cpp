#include <cerrno>
#include <cstring>

#include "host/posix/posix.h"

namespace host::posix {

thread_local uint32_t last_error = 0;

const std::vector<ErrnoRow>& errno_table() {
  static const std::vector<ErrnoRow> table = {
      {ENOENT, win32::file_not_found},
      {ENOTDIR, win32::path_not_found},
      {EMFILE, win32::too_many_open_files},
      {ENFILE, win32::too_many_open_files},
      {EACCES, win32::access_denied},
      {EPERM, win32::access_denied},
      {EISDIR, win32::access_denied},
      {EBADF, win32::invalid_handle},
      {ENOMEM, win32::not_enough_memory},
      {EROFS, win32::write_protect},
      {EIO, win32::gen_failure},
      {EWOULDBLOCK, win32::sharing_violation},
      {EINVAL, win32::invalid_parameter},
      {ENOSPC, win32::disk_full},
      {EDQUOT, win32::disk_full},
      {EFBIG, win32::disk_full},
      {ENAMETOOLONG, win32::filename_exced_range},
      {EEXIST, win32::already_exists},
      {ELOOP, win32::cant_resolve_filename},
      {EPIPE, win32::broken_pipe},
      {ENXIO, win32::bad_unit},
  };
  return table;
}

uint32_t win32_from_errno(int e) {
  for (const ErrnoRow& row : errno_table())
    if (row.errno_value == e) return row.win32_error;
  // Kept as the host's own number, so that the report gives its true reason.
  if (e > 0 && e <= 0xFFFF) return win32::host_own_error | static_cast<uint32_t>(e);
  return win32::gen_failure;
}

bool fail_errno() { return fail(win32_from_errno(errno)); }

bool fail(uint32_t error) {
  last_error = error;
  return false;
}

}  // namespace host::posix

namespace host {
uint32_t get_last_error() { return posix::last_error; }
Text host_error_text(uint32_t error) {
  Text text = std::strerror(static_cast<int>(error & 0xFFFF));
  if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z') text[0] = static_cast<char>(text[0] + 32);
  return text;
}
void set_last_error(uint32_t error) { posix::last_error = error; }
}  // namespace host
