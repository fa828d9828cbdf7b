// Fault injection for the platform layer. In a build with BREVLITH_FAULTS
// defined, every host operation starts with BREVLITH_FAULT_POINT(kind): the
// call is counted, and when the plan says so it fails at once with a chosen
// Win32 error and the operation's failure result, touching nothing. In every
// other build the macro is empty and nothing here is linked.
//
// The plan comes from the environment of the test binary alone (the tool
// itself never reads its environment):
//   BREVLITH_FAULT="write_file:3:112"      fail the 3rd write_file with 112
//   BREVLITH_FAULT="read_file:2+:31,..."   fail the 2nd and every later one
//   BREVLITH_FAULT_COUNT=<path>            at exit, write "kind count" lines
#pragma once

#include <cstdint>
#include <string_view>

#include "host/host.h"

namespace host::fault {

enum class Call {
  create_file_w,
  get_file_type,
  set_file_pointer,
  set_end_of_file,
  read_file,
  read_file_at,
  write_file,
  write_file_gather,
  get_file_stamp,
  close_handle,
  get_file_information_by_handle,
  set_file_disposition_delete,
  find_first_file_w,
  find_next_file_w,
  find_close,
  create_directory_w,
  get_file_attributes_w,
  get_file_identity_w,
  open_folder_w,
  get_file_permissions,
  count
};

std::string_view call_name(Call kind);

// Counts the call; true (with the last error set) when it must fail.
bool fails_now(Call kind);

// The failure result of an operation, whatever its return type.
struct Failure {
  operator bool() const { return false; }
  operator Handle() const { return invalid_handle; }  // also set_file_pointer's -1
  operator FileType() const { return file_type_unknown; }
  operator uint32_t() const { return invalid_file_attributes; }
};

}  // namespace host::fault

#ifdef BREVLITH_FAULTS
#define BREVLITH_FAULT_POINT(kind)                                                         \
  if (::host::fault::fails_now(::host::fault::Call::kind)) return ::host::fault::Failure { \
    }
#else
#define BREVLITH_FAULT_POINT(kind)
#endif
