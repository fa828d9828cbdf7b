// File operations on Windows. A file opened for reading alone is read
// through a read-ahead window (host/read_window.h).
#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

#include "host/read_window.h"
#include "host/win32/win32.h"

namespace host {

using namespace win32_host;

namespace {

struct ReadAhead {
  HANDLE handle;
  int64_t position = 0;  // the file pointer as the caller sees it
  ReadWindow window;
};

std::mutex read_ahead_lock;  // one of the four locks: see files/channels.cpp
std::vector<std::unique_ptr<ReadAhead>> read_aheads;

ReadAhead* find_read_ahead(HANDLE h) {
  std::lock_guard lock(read_ahead_lock);
  for (const auto& r : read_aheads)
    if (r->handle == h) return r.get();
  return nullptr;
}

bool move_pointer(HANDLE h, int64_t distance, DWORD method, int64_t& result) {
  LARGE_INTEGER move, moved;
  move.QuadPart = distance;
  if (!SetFilePointerEx(h, move, &moved, method)) return false;
  result = moved.QuadPart;
  return true;
}

bool read_windowed(ReadAhead& r, char* buffer, uint32_t n, uint32_t& done) {
  return r.window.read(r.position, buffer, n, done,
                       [&r](int64_t at, char* bytes, uint32_t want, uint32_t& got) {
                         int64_t ignored;
                         DWORD read = 0;
                         if (!move_pointer(r.handle, at, FILE_BEGIN, ignored) ||
                             !ReadFile(r.handle, bytes, want, &read, nullptr))
                           return false;
                         got = read;
                         return true;
                       });
}

// Whether the last part of `name` is a reserved device name: "nul.mbx" or
// "C:\\x\\AUX " opens the device in every folder, which may never answer.
bool is_device_name(const Wide& name) {
  const size_t slash = name.find_last_of(u"\\/:");
  Wide base = name.substr(slash == Wide::npos ? 0 : slash + 1);
  base = base.substr(0, base.find(u'.'));
  while (!base.empty() && base.back() == u' ') base.pop_back();
  for (char16_t& u : base)
    if (u >= u'a' && u <= u'z') u -= 0x20;
  if (base == u"CON" || base == u"PRN" || base == u"AUX" || base == u"NUL" || base == u"CONIN$" ||
      base == u"CONOUT$")
    return true;
  if (base.size() != 4 || !(base.starts_with(u"COM") || base.starts_with(u"LPT"))) return false;
  const char16_t n = base[3];
  return (n >= u'1' && n <= u'9') || n == u'\u00b9' || n == u'\u00b2' || n == u'\u00b3';
}

}  // namespace

// The folder is held so that it cannot be renamed or removed: the name of
// a file in it still leads there.
Handle create_file_w(const Wide& name, uint32_t access, Disposition disposition, uint32_t flags,
                     uint32_t, Handle) {
  // New files take the output folder's inherited security, which Windows
  // gives them anyway; the mailbox's bits would copy its read-only flag.
  if (refuse_nul(name)) return invalid_handle;
  if (is_device_name(name)) return SetLastError(win32::bad_device), invalid_handle;
  const bool writing = access & generic_write;
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  // A file opened for writing is opened with the right to remove it if it
  // ends incomplete.
  const HANDLE h = CreateFileW(
      wide_chars(name), access | (writing ? DELETE : 0), 0, &inheritable,
      static_cast<DWORD>(disposition),
      FILE_ATTRIBUTE_NORMAL | (flags & open_no_follow ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
  if (h == INVALID_HANDLE_VALUE) return invalid_handle;
  const DWORD error = GetLastError();  // the caller may judge the open by it
  BY_HANDLE_FILE_INFORMATION info;
  DWORD refused = win32::success;
  const bool single = flags & (open_own_file | open_single_name);
  const bool examined = single || (flags & open_no_follow);
  // A pipe or device reached by another name: a read of it may never end.
  if (((flags & open_disk_file) || !writing) && GetFileType(h) != FILE_TYPE_DISK)
    refused = win32::bad_file_type;
  else if (examined && !GetFileInformationByHandle(h, &info))
    refused = GetLastError();
  else if (examined && (flags & open_no_follow) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    refused = win32::stopped_on_symlink;
  else if (examined && single && info.nNumberOfLinks > 1)
    refused = win32::too_many_links;  // its other names must keep their bytes
  if (refused != win32::success) {
    CloseHandle(h);
    SetLastError(refused);
    return invalid_handle;
  }
  if (access == generic_read) {
    try {
      auto r = std::make_unique<ReadAhead>();
      r->handle = h;
      std::lock_guard lock(read_ahead_lock);
      read_aheads.push_back(std::move(r));
    } catch (const std::bad_alloc&) {
      // Read without the window.
    }
  }
  SetLastError(error);
  return wrap(h);
}

FileType get_file_type(Handle h) { return static_cast<FileType>(GetFileType(native(h))); }

int64_t set_file_pointer(Handle h, int64_t distance, MoveMethod method) {
  ReadAhead* r = find_read_ahead(native(h));
  if (r && method != file_end) {
    const int64_t target = (method == file_begin ? 0 : r->position) + distance;
    if (target < 0) return SetLastError(win32::negative_seek), -1;
    return r->position = target;
  }
  int64_t moved;
  if (!move_pointer(native(h), distance, static_cast<DWORD>(method), moved)) return -1;
  if (r) r->position = moved;
  return moved;
}

bool set_end_of_file(Handle h) {
  if (ReadAhead* r = find_read_ahead(native(h))) {
    int64_t ignored;
    if (!move_pointer(r->handle, r->position, FILE_BEGIN, ignored)) return false;
    r->window.clear();
  }
  return SetEndOfFile(native(h)) != 0;
}

bool read_file(Handle h, void* buffer, uint32_t n, uint32_t& done) {
  done = 0;
  if (ReadAhead* r = find_read_ahead(native(h)))
    return read_windowed(*r, static_cast<char*>(buffer), n, done);
  DWORD got = 0;
  const BOOL ok = ReadFile(native(h), buffer, n, &got, nullptr);
  done = got;
  // A pipe whose writer has gone is at its end, as a file is.
  if (!ok && GetLastError() == win32::broken_pipe) {
    SetLastError(win32::success);
    return true;
  }
  return ok != 0;
}

bool read_file_at(Handle h, int64_t offset, void* buffer, uint32_t n, uint32_t& done) {
  done = 0;
  // A read at an offset moves the handle's own pointer: it is put back.
  int64_t saved;
  if (!move_pointer(native(h), 0, FILE_CURRENT, saved)) return false;
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
  DWORD got = 0;
  const BOOL ok = ReadFile(native(h), buffer, n, &got, &at);
  const DWORD error = GetLastError();
  int64_t ignored;
  move_pointer(native(h), saved, FILE_BEGIN, ignored);
  if (!ok && error != ERROR_HANDLE_EOF) return SetLastError(error), false;
  done = got;
  SetLastError(win32::success);
  return true;
}

bool write_file(Handle h, const void* buffer, uint32_t n, uint32_t& done) {
  DWORD put = 0;
  const BOOL ok = WriteFile(native(h), buffer, n, &put, nullptr);
  done = put;
  return ok != 0;
}

// Windows has no gather write for ordinary handles (WriteFileGather wants
// page-aligned pieces and unbuffered files). Small records are joined into one
// WriteFile; a large message is written where it lies, a WriteFile a piece,
// since joining would copy it for one call saved.
bool write_file_gather(Handle h, const WritePiece* pieces, size_t count, uint64_t& done) {
  done = 0;
  constexpr size_t join_limit = 64 * 1024;
  size_t total = 0;
  for (size_t i = 0; i < count; ++i) total += pieces[i].size;
  if (total <= join_limit) {
    thread_local std::string joined;
    joined.clear();
    for (size_t i = 0; i < count; ++i)
      joined.append(static_cast<const char*>(pieces[i].bytes), pieces[i].size);
    uint32_t put = 0;
    const bool ok =
        joined.empty() || write_file(h, joined.data(), static_cast<uint32_t>(joined.size()), put);
    done = put;
    return ok;
  }
  constexpr size_t step = size_t{1} << 30;  // a DWORD bounds one WriteFile
  for (size_t i = 0; i < count; ++i) {
    const char* bytes = static_cast<const char*>(pieces[i].bytes);
    for (size_t at = 0; at < pieces[i].size;) {
      const auto n = static_cast<uint32_t>(std::min(step, pieces[i].size - at));
      uint32_t put = 0;
      const bool ok = write_file(h, bytes + at, n, put);
      done += put;
      if (!ok || put < n) return ok;
      at += n;
    }
  }
  return true;
}

bool get_file_information_by_handle(Handle h, FileIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(native(h), &info)) return false;
  identity = {info.dwVolumeSerialNumber,
              (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
  return true;
}

bool set_file_disposition_delete(Handle h) {
  FILE_DISPOSITION_INFO info{TRUE};
  return SetFileInformationByHandle(native(h), FileDispositionInfo, &info, sizeof info) != 0;
}

bool get_file_stamp(Handle h, FileStamp& stamp) {
  LARGE_INTEGER size;
  FILE_BASIC_INFO basic;
  if (!GetFileSizeEx(native(h), &size) ||
      !GetFileInformationByHandleEx(native(h), FileBasicInfo, &basic, sizeof basic))
    return false;
  stamp = {size.QuadPart, basic.LastWriteTime.QuadPart, basic.ChangeTime.QuadPart};
  return true;
}

bool get_file_permissions(Handle, uint32_t& permissions) {
  permissions = default_permissions;  // new files take the folder's access rights
  return true;
}

// Inside a held folder the name is one that held folder's full name leads
// through, which cannot change while it is held; a link there is refused.
Handle open_folder_w(const Wide& name, Handle in) {
  if (refuse_nul(name)) return invalid_handle;
  const DWORD no_follow = in != invalid_handle ? FILE_FLAG_OPEN_REPARSE_POINT : 0;
  // No FILE_SHARE_DELETE: nobody renames or removes the folder while held.
  const HANDLE h =
      CreateFileW(wide_chars(name), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | no_follow, nullptr);
  if (h == INVALID_HANDLE_VALUE) return invalid_handle;
  BY_HANDLE_FILE_INFORMATION info;
  if (no_follow) {
    const DWORD refused =
        !GetFileInformationByHandle(h, &info)                  ? GetLastError()
        : info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT ? win32::stopped_on_symlink
        : !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)  ? win32::already_exists
                                                               : win32::success;
    if (refused != win32::success) {
      CloseHandle(h);
      SetLastError(refused);
      return invalid_handle;
    }
  }
  return wrap(h);
}

bool close_handle(Handle h) {
  {
    std::lock_guard lock(read_ahead_lock);
    std::erase_if(read_aheads, [&](const auto& r) { return r->handle == native(h); });
  }
  return CloseHandle(native(h)) != 0;
}

}  // namespace host
