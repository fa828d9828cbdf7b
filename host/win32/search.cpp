// Directory searches and directory creation on Windows: the host's own
// search, so names come back in the file system's order, unsorted.
#include "host/win32/win32.h"

namespace host {

using namespace win32_host;

namespace {

void take(const WIN32_FIND_DATAW& found, FindData& data) {
  data.attributes = found.dwFileAttributes;
  data.name.assign(reinterpret_cast<const char16_t*>(found.cFileName));
}

}  // namespace

Handle find_first_file_w(const Wide& pattern, FindData& data) {
  if (refuse_nul(pattern)) return invalid_handle;
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(wide_chars(pattern), &found);
  if (search != INVALID_HANDLE_VALUE) take(found, data);
  return wrap(search);
}

bool find_next_file_w(Handle search, FindData& data) {
  WIN32_FIND_DATAW found;
  if (!FindNextFileW(native(search), &found)) return false;
  take(found, data);
  return true;
}

bool find_close(Handle search) { return FindClose(native(search)) != 0; }

bool create_directory_w(const Wide& name) {
  if (refuse_nul(name)) return false;
  return CreateDirectoryW(wide_chars(name), nullptr) != 0;
}

bool get_volume_information_w(const Wide& root, Wide& label) {
  label.clear();
  if (refuse_nul(root)) return false;
  wchar_t name[MAX_PATH + 1];
  if (!GetVolumeInformationW(wide_chars(root), name, MAX_PATH + 1, nullptr, nullptr, nullptr,
                             nullptr, 0))
    return false;
  label.assign(reinterpret_cast<const char16_t*>(name));
  return true;
}

uint32_t get_file_attributes_w(const Wide& name) {
  if (refuse_nul(name)) return invalid_file_attributes;
  return GetFileAttributesW(wide_chars(name));
}

}  // namespace host
