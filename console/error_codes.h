// The run time's error codes, by what they mean. A failing service records
// one of these in the caller's error status; codes from first_fatal_code on
// end the process. The host-error table (error_status.cpp) maps host
// last-error numbers onto them.
#pragma once

#include <cstdint>

namespace brevlith::error_code {

inline constexpr uint8_t invalid_argument = 5;       // host error 87; an unusable argument
inline constexpr uint8_t out_of_memory = 7;          // no memory for a string or a buffer
inline constexpr uint8_t bad_handle = 51;            // invalid handle, format, data; code 0
inline constexpr uint8_t channel_not_open = 52;      // a channel number that is not open
inline constexpr uint8_t file_not_found = 53;        // also end-of-file test on a closed channel
inline constexpr uint8_t bad_file_mode = 54;         // a channel used against its mode
inline constexpr uint8_t channel_already_open = 55;  // a number that is open, opened again
inline constexpr uint8_t device_short_write = 57;    // fewer bytes stored off a disk file
inline constexpr uint8_t disk_full = 61;             // also fewer bytes stored on a disk file
inline constexpr uint8_t past_end = 62;              // reading past the end of the data
inline constexpr uint8_t bad_file_name = 64;         // an empty or wildcard name opened
inline constexpr uint8_t too_many_files = 67;        // too many open files
inline constexpr uint8_t device_unavailable = 68;    // drive or unit not available
inline constexpr uint8_t access_error = 70;          // access denied, write-protect, sharing
inline constexpr uint8_t device_not_ready = 71;
inline constexpr uint8_t media_error = 72;
inline constexpr uint8_t other_device = 74;      // not the same device
inline constexpr uint8_t path_file_access = 75;  // path/file access error; unknown host errors
inline constexpr uint8_t path_not_found = 76;    // also a folder name with a wildcard
inline constexpr uint8_t damaged_memory = 241;   // fatal: the process ends

}  // namespace brevlith::error_code
