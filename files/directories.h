// Directory enumeration, one name per call, and directory creation. A single
// name is tested by enumerating it as a pattern: "" means no entry of that
// name qualifies. The enumeration raises an error only when the host fails
// for another reason than nothing (more) matching, or memory runs out (out_of_memory,
// the search closed), so that a caller can tell a folder that could not be
// read from one that holds nothing more.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "files/file_id.h"
#include "host/host.h"

namespace brevlith {

// The search mask: the attribute bits a listed entry may carry, and
// ATTR_ONLY for entries that carry at least one of them.
inline constexpr uint32_t ATTR_HIDDEN = host::file_attribute_hidden;
inline constexpr uint32_t ATTR_SYSTEM = host::file_attribute_system;
inline constexpr uint32_t ATTR_DIRECTORY = host::file_attribute_directory;
inline constexpr uint32_t ATTR_ONLY = 128;

// Keeps only the meaningful bits; ATTR_ONLY only with hidden, system or
// directory beside it.
uint32_t normalise_mask(uint32_t mask);

// Abandons a pending search, starts one for `pattern` (a trailing "\" or ":"
// lists the folder) and returns the first qualifying bare name, or "". An
// empty pattern continues the pending search instead.
// A pattern over 256 UTF-16 units is never cut: "" and path_file_access
// (name too long).
std::string dir_first(const std::string& pattern, uint32_t mask);
// The next qualifying name of the pending search; "" after the last, again
// and again. Used by tests only: the walk lists with a DirListing of its own.
std::string dir_next();
// The names the search has skipped since dir_first or the last call because
// the ANSI code page cannot hold them (shown with "?" for each such character).
std::vector<std::string> take_unconvertible_names();

// A search of its own, for a walk that does other work between its names.
// dir_first and dir_next share the thread's one pending search: a look-up
// made with them in between would drop the walk's. first, next and
// take_unconvertible_names behave as those three, on this search alone; it
// is closed when the listing goes.
class DirListing {
 public:
  DirListing() = default;
  ~DirListing();
  DirListing(const DirListing&) = delete;
  DirListing& operator=(const DirListing&) = delete;
  std::string first(const std::string& pattern, uint32_t mask);
  std::string next();
  // Whether the entry last returned is a symbolic link (or junction).
  bool last_is_link() const { return attributes_ & host::file_attribute_reparse_point; }
  std::vector<std::string> take_unconvertible_names();

 private:
  void close();
  void out_of_memory();
  std::string next_qualifying(host::FindData& entry);

  host::Handle search_ = host::invalid_handle;
  uint32_t mask_ = 0;
  uint32_t attributes_ = 0;
  std::vector<std::string> unconvertible_;
};

// Whether anything at all stands at `name` (a file, folder, link or device),
// looked up through the gate; a failed look-up is no error of the caller's.
// It touches no search, so it is the look-up to use during a walk.
bool entry_exists(const std::string& name);
// What stands at `name` (links followed): its ATTR_ bits, or ATTR_INVALID
// when nothing does or the host cannot tell, with the host's code raised
// (file_not_found or path_not_found for nothing there).
inline constexpr uint32_t ATTR_INVALID = host::invalid_file_attributes;
uint32_t entry_attributes(const std::string& name);

// The identity of the file `name` reaches, without opening or locking it;
// with `folder` (from hold_folder), of the name's last part in that folder.
// False, with the host's code raised, when it cannot be told.
bool file_identity(const std::string& name, FileId& id, host::Handle folder = host::invalid_handle);

// Creates one directory; its parent must exist. Errors: path_not_found for a
// wildcard name (host not asked) or a missing parent, path_file_access when
// the name exists or is over 255 units (never cut), else the host-error
// table's code.
// With `folder` (from hold_folder): the name's last part made in that folder.
void make_dir(const std::string& name, host::Handle folder = host::invalid_handle);
// Opens the folder `name` and holds it until the process ends, for files
// opened in it (OpenOptions::folder): a folder renamed or linked to the name
// meanwhile never receives them. invalid_handle and the host's code on failure.
// With `folder`: the folder of the name's last part in that held folder,
// never reached through a link.
host::Handle hold_folder(const std::string& name, host::Handle folder = host::invalid_handle);
// Lets a folder from hold_folder go; invalid_handle: nothing.
void release_folder(host::Handle folder);

}  // namespace brevlith
