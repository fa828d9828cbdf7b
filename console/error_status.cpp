#include "console/error_status.h"

namespace brevlith {

namespace detail {
std::atomic<int> gate_lock{0};
}

namespace {
thread_local ErrorStatus outermost;
thread_local ErrorStatus* current = &outermost;
}  // namespace

ErrorScope::ErrorScope() : previous_(current) { current = &own_; }
ErrorScope::~ErrorScope() { current = previous_; }

ErrorStatus& current_error_status() { return *current; }

void raise_error(uint8_t code, uint32_t host_error) {
  if (code == 0) code = error_code::bad_handle;
  *current = {code, host_error};
  if (code >= first_fatal_code) host::exit_process(255);
}

uint8_t error_code_for_host_error(uint32_t e) {
  using namespace error_code;
  // Host errors 1 to 39 row by row; the index is the host error.
  static constexpr uint8_t low[40] = {
      path_file_access,    // 0: not a failure; kept so the index is the value
      path_file_access,    // 1 invalid function
      file_not_found,      // 2 file not found
      path_not_found,      // 3 path not found
      too_many_files,      // 4 too many open files
      access_error,        // 5 access denied
      bad_handle,          // 6 invalid handle
      damaged_memory,      // 7 arena trashed
      out_of_memory,       // 8 not enough memory
      damaged_memory,      // 9 invalid block
      damaged_memory,      // 10 bad environment
      bad_handle,          // 11 bad format
      bad_handle,          // 12 invalid access
      bad_handle,          // 13 invalid data
      out_of_memory,       // 14 out of memory
      device_unavailable,  // 15 invalid drive
      path_file_access,    // 16 current directory
      other_device,        // 17 not the same device
      file_not_found,      // 18 no more files
      access_error,        // 19 write protect
      device_unavailable,  // 20 bad unit
      device_not_ready,    // 21 not ready
      bad_handle,          // 22 bad command
      media_error,         // 23 CRC
      bad_handle,          // 24 bad length
      media_error,         // 25 seek
      media_error,         // 26 not DOS disk
      media_error,         // 27 sector not found
      media_error,         // 28 out of paper
      media_error,         // 29 write fault
      media_error,         // 30 read fault
      media_error,         // 31 general failure
      access_error,        // 32 sharing violation
      access_error,        // 33 lock violation
      media_error,         // 34 wrong disk
      media_error,         // 35 FCB unavailable
      access_error,        // 36 sharing buffer exceeded
      path_file_access,    // 37 (unassigned)
      past_end,            // 38 handle EOF
      disk_full,           // 39 handle disk full
  };
  if (e < 40) return low[e];
  if ((e & 0xFFFF0000u) == host::win32::host_own_error) return media_error;  // as a general failure
  if (e == host::win32::invalid_parameter) return invalid_argument;
  if (e == host::win32::disk_full) return disk_full;
  return path_file_access;
}

}  // namespace brevlith
