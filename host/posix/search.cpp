// The directory search behind find_first_file_w: the pattern's directory
// part names the folder, its last component is looked up exactly or, when it
// holds wildcards, matched against every name of the folder. Names come out
// sorted (case-insensitively, then by bytes) so that runs are reproducible.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "host/fault.h"
#include "host/posix/posix.h"
#include "host/utf8.h"
#include "host/wildcard.h"

namespace host {
namespace posix {
namespace {

struct Entry {
  std::string bytes;
  Wide name;
  Wide key;  // folded, for the order
};

struct Search : Object {
  std::string folder;  // with a trailing "/" unless empty
  std::vector<Entry> entries;
  size_t next = 0;
};

uint32_t attributes_of(const std::string& path, const std::string& name) {
  uint32_t attributes = 0;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0)
    attributes = file_attribute_system;  // a dangling link
  else if (S_ISDIR(st.st_mode))
    attributes = file_attribute_directory;
  else if (!S_ISREG(st.st_mode))
    attributes = file_attribute_system;  // FIFO, socket, device: never a mailbox
  if (!name.empty() && name[0] == '.') attributes |= file_attribute_hidden;
  return attributes == 0 ? file_attribute_normal : attributes;
}

bool deliver(Search& s, FindData& data) {
  if (s.next >= s.entries.size()) return fail(win32::no_more_files);
  const Entry& e = s.entries[s.next++];
  data.name = e.name;
  data.attributes = attributes_of(s.folder + e.bytes, e.bytes);
  return true;
}

}  // namespace
}  // namespace posix

using namespace posix;

Handle find_first_file_w(const Wide& pattern, FindData& data) {
  BREVLITH_FAULT_POINT(find_first_file_w);
  std::string path;
  if (!to_path(pattern, path)) return invalid_handle;
  const size_t slash = path.find_last_of('/');
  auto search = std::make_unique<Search>();
  std::string last = path;
  if (slash != std::string::npos) {
    search->folder = path.substr(0, slash + 1);
    last = path.substr(slash + 1);
  }
  const Wide last_wide = utf8_to_wide(last);
  if (last.empty() || has_wildcards(utf8_to_wide(search->folder)))
    return fail(win32::file_not_found), invalid_handle;

  if (!has_wildcards(last_wide)) {
    // The file system's own exact lookup, as a Linux user expects.
    struct stat st;
    const std::string full = search->folder + last;
    if (::lstat(full.c_str(), &st) != 0) {
      return fail(errno == ENOENT ? missing_error(full) : win32_from_errno(errno)), invalid_handle;
    }
    search->entries.push_back({last, last_wide, {}});
  } else {
    DIR* dir = ::opendir(search->folder.empty() ? "." : search->folder.c_str());
    if (!dir) {
      const uint32_t error =
          errno == ENOENT || errno == ENOTDIR ? win32::path_not_found : win32_from_errno(errno);
      return fail(error), invalid_handle;
    }
    while (const dirent* d = ::readdir(dir)) {
      Wide name = utf8_to_wide(d->d_name);
      if (!wildcard_match(last_wide, name)) continue;
      Wide key = name;
      for (char16_t& u : key) u = fold_case(u);
      search->entries.push_back({d->d_name, std::move(name), std::move(key)});
    }
    ::closedir(dir);
    std::sort(search->entries.begin(), search->entries.end(), [](const Entry& a, const Entry& b) {
      return a.key != b.key ? a.key < b.key : a.bytes < b.bytes;
    });
    if (search->entries.empty()) return fail(win32::file_not_found), invalid_handle;
  }
  deliver(*search, data);
  return add_object(std::move(search));
}

bool find_next_file_w(Handle h, FindData& data) {
  BREVLITH_FAULT_POINT(find_next_file_w);
  auto* search = dynamic_cast<Search*>(find_object(h));
  if (!search) return fail(win32::invalid_handle);
  return deliver(*search, data);
}

bool find_close(Handle h) {
  BREVLITH_FAULT_POINT(find_close);
  if (!dynamic_cast<Search*>(find_object(h))) return fail(win32::invalid_handle);
  remove_object(h);
  return true;
}

bool create_directory_w(const Wide& name) {
  BREVLITH_FAULT_POINT(create_directory_w);
  std::string path;
  if (!to_path(name, path)) return false;
  if (::mkdir(path.c_str(), 0777) == 0) return true;
  if (errno == ENOENT) return fail(win32::path_not_found);
  return fail_errno();
}

bool get_volume_information_w(const Wide&, Wide& label) {
  BREVLITH_FAULT_POINT(get_volume_information_w);
  label.clear();  // Linux volumes carry no label the tool could ask for
  return true;
}

uint32_t get_file_attributes_w(const Wide& name) {
  BREVLITH_FAULT_POINT(get_file_attributes_w);
  std::string path;
  if (!to_path(name, path)) return invalid_file_attributes;
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return fail_errno(), invalid_file_attributes;
  const size_t slash = path.find_last_of('/');
  return attributes_of(path, slash == std::string::npos ? path : path.substr(slash + 1));
}

}  // namespace host
