#include "files/directories.h"

#include <new>
#include <utility>

#include "console/error_codes.h"
#include "console/error_status.h"
#include "files/channels.h"
#include "host/host.h"
#include "host/wildcard.h"
#include "text/strings.h"

namespace brevlith {
namespace {

// The thread's pending search, behind dir_first and dir_next.
thread_local DirListing pending;

bool qualifies(const host::FindData& entry, uint32_t mask) {
  const uint32_t carried = entry.attributes & (ATTR_HIDDEN | ATTR_SYSTEM | ATTR_DIRECTORY);
  // Each of these the mask must admit; with ATTR_ONLY one must be there.
  if (carried & ~mask) return false;
  if ((mask & ATTR_ONLY) && carried == 0) return false;
  return entry.name != u"." && entry.name != u"..";
}

// The entry's name in `name`; false, with the name kept for the caller's
// report, where a character the code page cannot hold became "?": that name
// would open another file, or match as a wildcard.
bool take_name(const host::FindData& entry, std::string& name,
               std::vector<std::string>& unconvertible) {
  bool replaced = false;
  name = to_text(entry.name, &replaced);
  if (name.empty()) throw std::bad_alloc();  // the conversion had no memory
  if (!replaced) return true;
  unconvertible.push_back(name);
  return false;
}

// "Nothing (more) matches" is an answer; any other failure means entries
// may have been left out, and the caller must be able to tell.
bool nothing_matched(uint32_t host_error) {
  return host_error == host::win32::file_not_found || host_error == host::win32::path_not_found ||
         host_error == host::win32::no_more_files;
}

}  // namespace

DirListing::~DirListing() { close(); }

void DirListing::close() {
  if (search_ != host::invalid_handle) run_system_call([&] { return host::find_close(search_); });
  search_ = host::invalid_handle;
  mask_ = 0;
}

// Memory running out inside a search must not pass for its end: the caller
// gets "" with code 7 and the search is closed.
void DirListing::out_of_memory() {
  close();
  raise_error(error_code::out_of_memory, host::win32::not_enough_memory);
}

// Asks for entries until one qualifies; closes the search after the last.
std::string DirListing::next_qualifying(host::FindData& entry) {
  for (;;) {
    const auto next = run_system_call([&] { return host::find_next_file_w(search_, entry); });
    if (!next.result) {
      if (!nothing_matched(next.last_error)) next.raise();
      close();
      return {};
    }
    if (std::string name; qualifies(entry, mask_) && take_name(entry, name, unconvertible_)) {
      attributes_ = entry.attributes;
      return name;
    }
  }
}

uint32_t normalise_mask(uint32_t mask) {
  mask &= ATTR_HIDDEN | ATTR_SYSTEM | ATTR_DIRECTORY | ATTR_ONLY;
  if (!(mask & (ATTR_HIDDEN | ATTR_SYSTEM | ATTR_DIRECTORY))) mask &= ~ATTR_ONLY;
  return mask;
}

std::string DirListing::first(const std::string& pattern, uint32_t mask) try {
  std::u16string wide = to_wide(pattern);
  if (wide.empty()) return next();
  close();
  unconvertible_.clear();
  // A pattern cut short could match other names.
  if (wide.size() > 256) {
    raise_error(error_code::path_file_access, host::win32::filename_exced_range);
    return {};
  }
  if (wide.back() == u':' || wide.back() == u'\\') wide += u"*.*";
  host::FindData entry;
  const auto found = run_system_call([&] { return host::find_first_file_w(wide, entry); });
  if (found.result == host::invalid_handle) {
    if (!nothing_matched(found.last_error)) found.raise();
    return {};
  }
  search_ = found.result;
  mask_ = normalise_mask(mask);
  if (std::string name; qualifies(entry, mask_) && take_name(entry, name, unconvertible_)) {
    attributes_ = entry.attributes;
    return name;
  }
  return next_qualifying(entry);
} catch (const std::bad_alloc&) {
  out_of_memory();
  return {};
}

std::string DirListing::next() try {
  if (search_ == host::invalid_handle) return {};
  host::FindData entry;
  return next_qualifying(entry);
} catch (const std::bad_alloc&) {
  out_of_memory();
  return {};
}

std::vector<std::string> DirListing::take_unconvertible_names() {
  return std::exchange(unconvertible_, {});
}

std::string dir_first(const std::string& pattern, uint32_t mask) {
  return pending.first(pattern, mask);
}

std::string dir_next() { return pending.next(); }

std::vector<std::string> take_unconvertible_names() { return pending.take_unconvertible_names(); }

bool entry_exists(const std::string& name) {
  const auto got = run_system_call([&] { return host::get_file_attributes_w(to_wide(name)); });
  return got.result != host::invalid_file_attributes;
}

uint32_t entry_attributes(const std::string& name) {
  const auto got = run_system_call([&] { return host::get_file_attributes_w(to_wide(name)); });
  got.raise();
  return got.result;
}

bool file_identity(const std::string& name, FileId& id, host::Handle folder) {
  host::FileIdentity found;
  const auto got =
      run_system_call([&] { return host::get_file_identity_w(to_wide(name), found, folder); });
  if (got.raise() || !got.result) return false;
  id = {found.volume, found.index};
  return true;
}

void make_dir(const std::string& name, host::Handle folder) {
  std::u16string wide = to_wide(name);
  if (host::has_wildcards_in_name(wide)) return raise_error(error_code::path_not_found);
  if (wide.size() > max_name)
    return raise_error(error_code::path_file_access, host::win32::filename_exced_range);
  const auto made = run_system_call([&] { return host::create_directory_w(wide, folder); });
  made.raise();
}

host::Handle hold_folder(const std::string& name, host::Handle folder) {
  const auto held = run_system_call([&] { return host::open_folder_w(to_wide(name), folder); });
  held.raise();
  return held.result;
}

void release_folder(host::Handle folder) {
  if (folder != host::invalid_handle) host::close_handle(folder);
}

}  // namespace brevlith
