// Directory searches and directory creation on Windows: the host's own
// search, so names come back in the file system's order, unsorted. The host
// also matches a pattern against each file's 8.3 short name ("*.mbx" finds
// "In.mbx~" through "INMBX~1.MBX"), so every name it returns is checked
// again against the pattern with the matcher the POSIX host uses.
#include <memory>

#include "host/wildcard.h"
#include "host/win32/win32.h"

namespace host {

using namespace win32_host;

namespace {

struct Search {
  HANDLE handle;
  Wide last;  // the pattern's last part, upper-cased
};

void take(const WIN32_FIND_DATAW& found, FindData& data) {
  data.attributes = found.dwFileAttributes;
  data.name.assign(reinterpret_cast<const char16_t*>(found.cFileName));
}

// Case as the file system ignores it, beyond the matcher's own Latin-1 folding.
Wide upper(Wide text) {
  if (!text.empty())
    CharUpperBuffW(reinterpret_cast<wchar_t*>(text.data()), static_cast<DWORD>(text.size()));
  return text;
}

// The part after the last separator, or after a leading drive ("C:*.mbx").
Wide last_part(const Wide& pattern) {
  const size_t slash = pattern.find_last_of(u"\\/");
  if (slash != Wide::npos) return pattern.substr(slash + 1);
  if (pattern.size() >= 2 && pattern[1] == u':') return pattern.substr(2);
  return pattern;
}

bool long_name_matches(const Search& search, const WIN32_FIND_DATAW& found) {
  return wildcard_match(search.last, upper(reinterpret_cast<const char16_t*>(found.cFileName)));
}

Search* of(Handle h) { return reinterpret_cast<Search*>(h); }

}  // namespace

Handle find_first_file_w(const Wide& pattern, FindData& data) {
  if (refuse_nul(pattern)) return invalid_handle;
  auto search = std::make_unique<Search>();
  search->last = upper(last_part(pattern));
  WIN32_FIND_DATAW found;
  search->handle = FindFirstFileW(wide_chars(pattern), &found);
  if (search->handle == INVALID_HANDLE_VALUE) return invalid_handle;
  while (!long_name_matches(*search, found)) {
    if (!FindNextFileW(search->handle, &found)) {
      const DWORD error = GetLastError();
      FindClose(search->handle);
      SetLastError(error == win32::no_more_files ? win32::file_not_found : error);
      return invalid_handle;
    }
  }
  take(found, data);
  return reinterpret_cast<Handle>(search.release());
}

bool find_next_file_w(Handle search, FindData& data) {
  WIN32_FIND_DATAW found;
  do {
    if (!FindNextFileW(of(search)->handle, &found)) return false;
  } while (!long_name_matches(*of(search), found));
  take(found, data);
  return true;
}

bool find_close(Handle search) {
  const std::unique_ptr<Search> owned(of(search));
  return FindClose(owned->handle) != 0;
}

bool create_directory_w(const Wide& name, Handle) {
  if (refuse_nul(name)) return false;
  return CreateDirectoryW(wide_chars(name), nullptr) != 0;
}

uint32_t get_file_attributes_w(const Wide& name) {
  if (refuse_nul(name)) return invalid_file_attributes;
  return GetFileAttributesW(wide_chars(name));
}

// A held folder cannot be renamed: the name still leads into it.
bool get_file_identity_w(const Wide& name, FileIdentity& identity, Handle) {
  if (refuse_nul(name)) return false;
  // No access asked and every sharing allowed: a file another program holds
  // open still answers.
  const HANDLE h =
      CreateFileW(wide_chars(name), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(h, &info) != 0;
  const DWORD error = GetLastError();
  CloseHandle(h);
  SetLastError(ok ? 0 : error);
  if (ok)
    identity = {info.dwVolumeSerialNumber,
                (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return ok;
}

}  // namespace host
