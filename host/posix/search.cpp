// The directory search behind find_first_file_w: the pattern's directory
// part names the folder, its last component is looked up exactly or, when it
// holds wildcards, matched against every name of the folder. Names come out
// sorted (case-insensitively, then by bytes) so that runs are reproducible.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string_view>

#include "host/fault.h"
#include "host/posix/posix.h"
#include "host/utf8.h"
#include "host/wildcard.h"

namespace host {
namespace posix {
namespace {

// Names are kept once, as read, in blocks that never move (a folder may
// hold hundreds of thousands); their wide form and sort key are made when
// needed, so the listing costs little more than the names' own bytes.
class Names {
 public:
  const char* add(std::string_view name) {
    if (blocks_.empty() || size_ - used_ < name.size() + 1) {
      // Small at first, so that looking up one mailbox costs no megabyte.
      size_ = std::max(std::min(size_ * 2, max_block), name.size() + 1);
      std::unique_ptr<char[]> block(new char[size_]);
      blocks_.push_back(std::move(block));
      used_ = 0;
    }
    char* at = blocks_.back().get() + used_;
    std::memcpy(at, name.data(), name.size());
    at[name.size()] = '\0';
    used_ += name.size() + 1;
    return at;
  }

 private:
  static constexpr size_t max_block = size_t{1} << 20;
  std::vector<std::unique_ptr<char[]>> blocks_;
  size_t size_ = 2048, used_ = 0;
};

struct Search : Object {
  std::string folder;  // with a trailing "/" unless empty
  Names names;
  std::vector<const char*> entries;
  size_t next = 0;
};

// The order of the folded wide names, then of the bytes. Up to the first
// byte outside ASCII each byte is one unit; from there on both rests are
// converted, which is the same since a sequence never starts inside ASCII.
bool before(const char* a, const char* b) {
  size_t i = 0;
  for (;; ++i) {
    const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 0x80 || y >= 0x80) break;
    const char16_t fx = fold_case(x), fy = fold_case(y);
    if (fx != fy) return fx < fy;
    if (x == 0) return std::strcmp(a, b) < 0;  // both ended: equal keys
  }
  Wide ka = utf8_to_wide(a + i), kb = utf8_to_wide(b + i);
  for (char16_t& u : ka) u = fold_case(u);
  for (char16_t& u : kb) u = fold_case(u);
  return ka != kb ? ka < kb : std::strcmp(a, b) < 0;
}

uint32_t attributes_of(const std::string& path, const std::string& name) {
  uint32_t attributes = 0;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0)
    attributes = file_attribute_system;  // a dangling link
  else if (S_ISDIR(st.st_mode))
    attributes =
        file_attribute_directory |
        (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) ? file_attribute_reparse_point : 0);
  else if (!S_ISREG(st.st_mode))
    attributes = file_attribute_system;  // FIFO, socket, device: never a mailbox
  if (!name.empty() && name[0] == '.') attributes |= file_attribute_hidden;
  return attributes == 0 ? file_attribute_normal : attributes;
}

bool deliver(Search& s, FindData& data) {
  if (s.next >= s.entries.size()) return fail(win32::no_more_files);
  const std::string name = s.entries[s.next++];
  data.name = utf8_to_wide(name);
  data.attributes = attributes_of(s.folder + name, name);
  return true;
}

struct CloseDir {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

Handle first_entry(const Wide& pattern, FindData& data) {
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
    search->entries.push_back(search->names.add(last));
  } else {
    const std::unique_ptr<DIR, CloseDir> dir(
        ::opendir(search->folder.empty() ? "." : search->folder.c_str()));
    if (!dir) {
      const uint32_t error =
          errno == ENOENT || errno == ENOTDIR ? win32::path_not_found : win32_from_errno(errno);
      return fail(error), invalid_handle;
    }
    Wide name;
    while (const dirent* d = ::readdir(dir.get())) {
      name = utf8_to_wide(d->d_name);
      if (wildcard_match(last_wide, name)) search->entries.push_back(search->names.add(d->d_name));
    }
    std::sort(search->entries.begin(), search->entries.end(), before);
    if (search->entries.empty()) return fail(win32::file_not_found), invalid_handle;
  }
  deliver(*search, data);
  return add_object(std::move(search));
}

}  // namespace
}  // namespace posix

using namespace posix;

Handle find_first_file_w(const Wide& pattern, FindData& data) {
  BREVLITH_FAULT_POINT(find_first_file_w);
  // A folder too large to list in memory is a failure the caller reports,
  // never an end of the listing.
  try {
    return first_entry(pattern, data);
  } catch (const std::bad_alloc&) {
    return fail(win32::not_enough_memory), invalid_handle;
  }
}

bool find_next_file_w(Handle h, FindData& data) {
  BREVLITH_FAULT_POINT(find_next_file_w);
  auto* search = dynamic_cast<Search*>(find_object(h));
  if (!search) return fail(win32::invalid_handle);
  try {
    return deliver(*search, data);
  } catch (const std::bad_alloc&) {
    return fail(win32::not_enough_memory);
  }
}

bool find_close(Handle h) {
  BREVLITH_FAULT_POINT(find_close);
  if (!dynamic_cast<Search*>(find_object(h))) return fail(win32::invalid_handle);
  remove_object(h);
  return true;
}

bool create_directory_w(const Wide& name, Handle folder) {
  BREVLITH_FAULT_POINT(create_directory_w);
  std::string path;
  if (!to_path(name, path)) return false;
  int at = AT_FDCWD;
  if (folder != invalid_handle) {
    if ((at = folder_descriptor(folder)) < 0) return fail(win32::invalid_handle);
    path.erase(0, path.rfind('/') + 1);  // npos + 1: the whole name
  }
  if (::mkdirat(at, path.c_str(), 0777) == 0) return true;
  if (errno == ENOENT) return fail(win32::path_not_found);
  return fail_errno();
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

bool get_file_identity_w(const Wide& name, FileIdentity& identity, Handle folder) {
  BREVLITH_FAULT_POINT(get_file_identity_w);
  std::string path;
  if (!to_path(name, path)) return false;
  int at = AT_FDCWD;
  if (folder != invalid_handle) {
    if ((at = folder_descriptor(folder)) < 0) return fail(win32::invalid_handle);
    path.erase(0, path.rfind('/') + 1);  // npos + 1: the whole name
  }
  struct stat st;
  if (::fstatat(at, path.c_str(), &st, 0) != 0) return fail_errno();
  identity = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return true;
}

}  // namespace host
