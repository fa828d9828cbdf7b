// POSIX implementation of the process, standard-handle and file operations.
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cfenv>
#include <csignal>
#include <cstring>
#include <typeinfo>

#include "host/fault.h"
#include "host/posix/posix.h"
#include "host/read_window.h"
#include "host/utf8.h"

namespace host {
namespace posix {
namespace {

std::vector<std::unique_ptr<Object>> objects;
std::vector<size_t> free_slots;
std::vector<Text> saved_arguments;
Handle console_input_open = invalid_handle;
volatile std::sig_atomic_t stop_signal_number = 0;

extern "C" void note_stop_signal(int signal_number) {
  if (stop_signal_number == 0) stop_signal_number = signal_number;
}

// The signal only notes the request, so that no write is cut; SA_RESTART
// resumes the read or write it arrived in. A signal ignored when the
// process started (nohup, a background job) stays ignored.
void catch_stop_signal(int signal_number) {
  struct sigaction old {};
  if (::sigaction(signal_number, nullptr, &old) != 0 || old.sa_handler == SIG_IGN) return;
  struct sigaction action {};
  action.sa_handler = note_stop_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  ::sigaction(signal_number, &action, nullptr);
}

struct File final : Object {
  int fd = -1;
  FileType type = file_type_unknown;
  bool stream = false;  // a standard handle: plain read/write, never closed
  int64_t pos = 0;
  int64_t size = 0;  // disk files: kept current, since we hold the only lock
  FileIdentity identity;
  mode_t mode = 0;  // as opened
  // Files opened for writing, to remove one left incomplete: its name in
  // `folder` (a held folder's descriptor, or the current directory).
  int folder = AT_FDCWD;
  std::string path;
  ReadWindow window;  // disk files opened for reading
  ~File() override {
    if (!stream && fd >= 0) ::close(fd);
  }
};

struct Folder final : Object {
  int fd = -1;
  ~Folder() override { ::close(fd); }
};

// Every 128-byte refill looks its file up twice: an exact type test is one
// comparison, where a dynamic_cast walks the class hierarchy.
inline File* find_file(Handle h) {
  Object* object = find_object(h);
  return object && typeid(*object) == typeid(File) ? static_cast<File*>(object) : nullptr;
}

FileType type_of(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return file_type_disk;
  if (S_ISCHR(st.st_mode)) return file_type_char;
  if (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode)) return file_type_pipe;
  return file_type_unknown;
}

Handle std_handle(int fd) {
  static Handle handles[3] = {0, 0, 0};
  if (handles[fd] == 0) {
    auto file = std::make_unique<File>();
    file->fd = fd;
    file->stream = true;
    struct stat st;
    file->type = ::fstat(fd, &st) == 0 ? type_of(st) : file_type_unknown;
    handles[fd] = add_object(std::move(file));
  }
  return handles[fd];
}

bool read_stream(File& f, char* buffer, uint32_t n, uint32_t& done) {
  ssize_t got;
  do got = ::read(f.fd, buffer, n);
  while (got < 0 && errno == EINTR);
  if (got < 0) return fail_errno();
  done = static_cast<uint32_t>(got);
  return true;
}

inline bool read_disk(File& f, char* buffer, uint32_t n, uint32_t& done) {
  return f.window.read(f.pos, buffer, n, done,
                       [&f](int64_t at, char* bytes, uint32_t want, uint32_t& got) {
                         ssize_t r;
                         do r = ::pread(f.fd, bytes, want, at);
                         while (r < 0 && errno == EINTR);
                         if (r < 0) return fail_errno();
                         got = static_cast<uint32_t>(r);
                         return true;
                       });
}

// Why an open for writing that did not follow a link failed: ELOOP is a link
// at the name itself unless a folder on the way loops.
uint32_t write_open_error(int folder, const std::string& path, int e) {
  struct stat st;
  if (e == ELOOP && ::fstatat(folder, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(st.st_mode))
    return win32::stopped_on_symlink;
  if (e == ENXIO) return win32::bad_file_type;  // a FIFO nobody reads, or a socket
  return win32_from_errno(e);
}

}  // namespace

Handle add_object(std::unique_ptr<Object> object) {
  size_t slot;
  if (!free_slots.empty()) {
    slot = free_slots.back();
    free_slots.pop_back();
    objects[slot] = std::move(object);
  } else {
    slot = objects.size();
    objects.push_back(std::move(object));
  }
  return static_cast<Handle>(slot + 1);
}

Object* find_object(Handle h) {
  if (h < 1 || static_cast<size_t>(h) > objects.size()) return nullptr;
  return objects[h - 1].get();
}

std::unique_ptr<Object> remove_object(Handle h) {
  if (!find_object(h)) return nullptr;
  free_slots.push_back(h - 1);
  return std::move(objects[h - 1]);
}

int descriptor(Handle h) {
  File* f = find_file(h);
  return f ? f->fd : -1;
}

int folder_descriptor(Handle h) {
  const Object* held = find_object(h);
  return held && typeid(*held) == typeid(Folder) ? static_cast<const Folder*>(held)->fd : -1;
}

Handle console_input() { return console_input_open; }

}  // namespace posix

using namespace posix;

bool start(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) saved_arguments.emplace_back(argv[i]);
  // A closed pipe or a file-size limit must fail the one write, as a full
  // disk does, not kill the process and lose the messages still to come.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  // Ctrl+C, typed at the terminal or sent, stops the run at its next
  // message boundary, so no message file is left cut in half.
  catch_stop_signal(SIGINT);
  catch_stop_signal(SIGTERM);
  catch_stop_signal(SIGHUP);
  std::fesetround(FE_TONEAREST);
  std::feclearexcept(FE_ALL_EXCEPT);
  // A closed standard descriptor would be handed to the next file opened,
  // and standard output written into a message file. /dev/null opened the
  // wrong way round keeps the place, and every use of it still fails.
  for (int fd = 0; fd < 3; ++fd)
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF)
      ::open("/dev/null", (fd == 0 ? O_WRONLY : O_RDONLY) | O_NOCTTY);
  for (int fd = 0; fd < 3; ++fd) std_handle(fd);
  return true;
}

void finish() { read_away_late_answer(); }

void exit_process(int code) { ::_exit(code); }

int stop_signal() { return stop_signal_number; }

bool command_line(Wide&) { return false; }

std::vector<Text> arguments() { return saved_arguments; }

uint32_t gate_enter() { return 0; }
void gate_leave(uint32_t) {}

Text native_name(std::string_view name) {
  Text out(name);
  for (char& c : out)
    if (c == '\\') c = '/';
  return out;
}

Handle get_std_handle(StdHandle which) {
  return std_handle(which == std_input ? 0 : which == std_output ? 1 : 2);
}

Handle create_file_w(const Wide& name, uint32_t access, Disposition disposition, uint32_t flags,
                     uint32_t permissions, Handle folder) {
  BREVLITH_FAULT_POINT(create_file_w);
  thread_local std::string path;  // kept: one file is opened per message
  if (!to_path(name, path)) return invalid_handle;
  if (path.empty()) return fail(win32::file_not_found), invalid_handle;
  int at = AT_FDCWD;
  if (folder != invalid_handle) {
    const Object* held = find_object(folder);
    if (!held || typeid(*held) != typeid(Folder))
      return fail(win32::invalid_handle), invalid_handle;
    at = static_cast<const Folder*>(held)->fd;
    path.erase(0, path.rfind('/') + 1);  // npos + 1: the whole name
  }
  const bool writing = access & generic_write;
  const bool no_follow = flags & open_no_follow;
  // Never hang on a FIFO (cleared below for what may be read).
  int open_flags = O_NOCTTY | O_NONBLOCK | (no_follow ? O_NOFOLLOW : 0);
  if ((access & generic_read) && writing)
    open_flags |= O_RDWR;
  else if (writing)
    open_flags |= O_WRONLY;
  else
    open_flags |= O_RDONLY;

  int fd = -1;
  const auto create = [&] {
    fd = ::openat(at, path.c_str(), open_flags | O_CREAT | O_EXCL, permissions & 07777);
    if (fd < 0 && errno == EEXIST) fd = ::openat(at, path.c_str(), open_flags);  // made in between
  };
  struct stat st;
  for (bool unlinked = false;;) {
    if (disposition == open_always && (flags & open_create_first)) {
      create();
    } else {
      fd = ::openat(at, path.c_str(), open_flags);
      if (fd < 0 && errno == ENOENT && disposition == open_always) create();
    }
    if (fd < 0) {
      if (errno == ENOENT)
        return fail(at == AT_FDCWD ? missing_error(path) : win32::path_not_found), invalid_handle;
      return fail(writing ? write_open_error(at, path, errno) : win32_from_errno(errno)),
             invalid_handle;
    }
    // The lock comes before anything is done to the file, and before its
    // size is trusted: a file just created may already have been written by
    // another run between our create and our lock.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int e = errno;
      ::close(fd);
      return fail(win32_from_errno(e)), invalid_handle;
    }
    if (::fstat(fd, &st) != 0) {
      const int e = errno;
      ::close(fd);
      return fail(win32_from_errno(e)), invalid_handle;
    }
    // The link count is in the stat taken anyway: no call more.
    const bool alone = flags & (open_own_file | open_single_name);
    if (!alone || st.st_nlink <= 1 || !S_ISREG(st.st_mode)) break;
    // The name leaves the shared file; the next turn makes one of its own.
    const bool name_freed =
        (flags & open_own_file) && !unlinked && ::unlinkat(at, path.c_str(), 0) == 0;
    ::close(fd);
    if (!name_freed) return fail(win32::too_many_links), invalid_handle;
    unlinked = true;
  }
  auto file = std::make_unique<File>();
  file->fd = fd;
  // A folder is refused as Windows refuses it.
  if (S_ISDIR(st.st_mode)) return fail(win32::access_denied), invalid_handle;
  if ((flags & open_disk_file) && !S_ISREG(st.st_mode))
    return fail(win32::bad_file_type), invalid_handle;
  file->type = type_of(st);
  file->size = st.st_size;
  file->mode = st.st_mode;
  file->identity = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  if (writing) {
    file->folder = at;
    file->path = path;
  }
  if (file->type != file_type_disk) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return add_object(std::move(file));
}

Handle open_folder_w(const Wide& name, Handle in) {
  BREVLITH_FAULT_POINT(open_folder_w);
  std::string path;
  if (!to_path(name, path)) return invalid_handle;
  if (path.empty()) return fail(win32::path_not_found), invalid_handle;
  int at = AT_FDCWD, no_follow = 0;
  if (in != invalid_handle) {
    if ((at = folder_descriptor(in)) < 0) return fail(win32::invalid_handle), invalid_handle;
    path.erase(0, path.rfind('/') + 1);  // npos + 1: the whole name
    no_follow = O_NOFOLLOW;
  }
  auto folder = std::make_unique<Folder>();
  folder->fd = ::openat(at, path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | no_follow);
  struct stat st;
  if (folder->fd < 0 && no_follow && (errno == ENOTDIR || errno == ELOOP) &&
      ::fstatat(at, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
    return fail(S_ISLNK(st.st_mode) ? win32::stopped_on_symlink : win32::already_exists),
           invalid_handle;
  if (folder->fd < 0) {
    const int e = errno;
    return fail(e == ENOENT ? missing_error(path) : win32_from_errno(e)), invalid_handle;
  }
  return add_object(std::move(folder));
}

FileType get_file_type(Handle h) {
  BREVLITH_FAULT_POINT(get_file_type);
  File* f = find_file(h);
  if (!f) return fail(win32::invalid_handle), file_type_unknown;
  return f->type;
}

int64_t set_file_pointer(Handle h, int64_t distance, MoveMethod method) {
  BREVLITH_FAULT_POINT(set_file_pointer);
  File* f = find_file(h);
  if (!f) return fail(win32::invalid_handle), -1;
  if (f->type != file_type_disk || f->stream) return fail(win32::invalid_parameter), -1;
  const int64_t base = method == file_begin ? 0 : method == file_current ? f->pos : f->size;
  if (base + distance < 0) return fail(win32::invalid_parameter), -1;
  f->pos = base + distance;
  return f->pos;
}

bool set_end_of_file(Handle h) {
  BREVLITH_FAULT_POINT(set_end_of_file);
  File* f = find_file(h);
  if (!f) return fail(win32::invalid_handle);
  if (f->type != file_type_disk || f->stream) return fail(win32::invalid_parameter);
  if (f->pos == f->size) return true;  // already ends there: no system call
  if (::ftruncate(f->fd, f->pos) != 0) return fail_errno();
  f->size = f->pos;
  f->window.clear();
  return true;
}

bool read_file(Handle h, void* buffer, uint32_t n, uint32_t& done) {
  BREVLITH_FAULT_POINT(read_file);
  done = 0;
  File* f = find_file(h);
  if (!f) return fail(win32::invalid_handle);
  if (f->type == file_type_disk && !f->stream)
    return read_disk(*f, static_cast<char*>(buffer), n, done);
  return read_stream(*f, static_cast<char*>(buffer), n, done);
}

bool read_file_at(Handle h, int64_t offset, void* buffer, uint32_t n, uint32_t& done) {
  BREVLITH_FAULT_POINT(read_file_at);
  done = 0;
  const File* f = find_file(h);
  if (!f) return fail(win32::invalid_handle);
  if (f->type != file_type_disk || f->stream) return fail(win32::invalid_parameter);
  ssize_t r;
  do r = ::pread(f->fd, buffer, n, offset);
  while (r < 0 && errno == EINTR);
  if (r < 0) return fail_errno();
  done = static_cast<uint32_t>(r);
  return true;
}

bool write_file(Handle h, const void* buffer, uint32_t n, uint32_t& done) {
  BREVLITH_FAULT_POINT(write_file);
  done = 0;
  File* f = find_file(h);
  if (!f) return fail(win32::invalid_handle);
  const bool positioned = f->type == file_type_disk && !f->stream;
  const char* bytes = static_cast<const char*>(buffer);
  while (done < n) {
    ssize_t put = positioned ? ::pwrite(f->fd, bytes + done, n - done, f->pos)
                             : ::write(f->fd, bytes + done, n - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      // A non-blocking pipe or terminal that is full is waited for, as a
      // blocking one would be: the bytes are the report, not to be dropped.
      if (!positioned && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd p{f->fd, POLLOUT, 0};
        if (::poll(&p, 1, -1) >= 0 || errno == EINTR) continue;
      }
      return fail_errno();
    }
    if (put == 0) return fail(win32::disk_full);
    done += static_cast<uint32_t>(put);
    if (positioned) {
      f->pos += put;
      f->size = std::max(f->size, f->pos);
    }
  }
  if (positioned) f->window.clear();
  return true;
}

bool write_file_gather(Handle h, const WritePiece* pieces, size_t count, uint64_t& done) {
  BREVLITH_FAULT_POINT(write_file_gather);
  done = 0;
  File* f = find_file(h);
  if (!f) return fail(win32::invalid_handle);
  if (count > max_write_pieces) return fail(win32::invalid_parameter);
  const bool positioned = f->type == file_type_disk && !f->stream;
  iovec parts[max_write_pieces];
  int left = 0;
  for (size_t i = 0; i < count; ++i)
    if (pieces[i].size) parts[left++] = {const_cast<void*>(pieces[i].bytes), pieces[i].size};
  iovec* next = parts;
  // A write may take fewer bytes than asked (a 2 GiB cap, a signal): the
  // rest follows from where it stopped, as write_file goes on.
  while (left > 0) {
    const ssize_t put =
        positioned ? ::pwritev(f->fd, next, left, f->pos) : ::writev(f->fd, next, left);
    if (put < 0) {
      if (errno == EINTR) continue;
      if (!positioned && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd p{f->fd, POLLOUT, 0};
        if (::poll(&p, 1, -1) >= 0 || errno == EINTR) continue;
      }
      if (positioned) f->window.clear();
      return fail_errno();
    }
    if (put == 0) return fail(win32::disk_full);
    done += static_cast<uint64_t>(put);
    if (positioned) {
      f->pos += put;
      f->size = std::max(f->size, f->pos);
    }
    for (size_t taken = static_cast<size_t>(put); taken > 0;) {
      const size_t here = std::min(taken, next->iov_len);
      next->iov_base = static_cast<char*>(next->iov_base) + here;
      next->iov_len -= here;
      taken -= here;
      if (next->iov_len == 0) ++next, --left;
    }
  }
  if (positioned) f->window.clear();
  return true;
}

bool get_file_stamp(Handle h, FileStamp& stamp) {
  BREVLITH_FAULT_POINT(get_file_stamp);
  File* f = find_file(h);
  if (!f) return fail(win32::invalid_handle);
  struct stat st;
  if (::fstat(f->fd, &st) != 0) return fail_errno();
  constexpr int64_t ns = 1000000000;
  stamp = {st.st_size, st.st_mtim.tv_sec * ns + st.st_mtim.tv_nsec,
           st.st_ctim.tv_sec * ns + st.st_ctim.tv_nsec};
  return true;
}

bool get_file_permissions(Handle h, uint32_t& permissions) {
  BREVLITH_FAULT_POINT(get_file_permissions);
  const File* f = find_file(h);
  if (!f) return fail(win32::invalid_handle);
  permissions = f->stream ? default_permissions : f->mode & 07777;
  return true;
}

bool close_handle(Handle h) {
  BREVLITH_FAULT_POINT(close_handle);
  File* f = find_file(h);
  if (f && f->stream) return true;  // the standard streams stay open
  std::unique_ptr<Object> object = remove_object(h);
  if (!object) return fail(win32::invalid_handle);
  if (h == console_input_open) console_input_open = invalid_handle;
  if (f) {
    const int fd = f->fd;
    f->fd = -1;
    if (::close(fd) != 0) return fail_errno();
  }
  return true;
}

bool get_file_information_by_handle(Handle h, FileIdentity& identity) {
  BREVLITH_FAULT_POINT(get_file_information_by_handle);
  File* f = find_file(h);
  if (!f) return fail(win32::invalid_handle);
  if (f->stream) {
    struct stat st;
    if (::fstat(f->fd, &st) != 0) return fail_errno();
    identity = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return true;
  }
  identity = f->identity;
  return true;
}

bool set_file_disposition_delete(Handle h) {
  BREVLITH_FAULT_POINT(set_file_disposition_delete);
  File* f = find_file(h);
  if (!f || f->stream) return fail(win32::invalid_handle);
  if (f->path.empty()) return fail(win32::access_denied);  // not opened for writing
  // Removed now, while our lock still keeps other runs out of the file; the
  // name is free for the next run at once, as on Windows after the close.
  // A file another program put at the name meanwhile is not ours to remove.
  struct stat st;
  if (::fstatat(f->folder, f->path.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return fail_errno();
  if (FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)} !=
      f->identity)
    return fail(win32::file_invalid);
  if (::unlinkat(f->folder, f->path.c_str(), 0) != 0) return fail_errno();
  f->path.clear();
  return true;
}

Wide multi_byte_to_wide_char(std::string_view text) { return utf8_to_wide(text); }
Text wide_char_to_multi_byte(std::u16string_view wide, bool* replaced) {
  // Only an unpaired surrogate that is no escaped byte has no UTF-8 form.
  if (replaced) {
    *replaced = false;
    for (size_t i = 0; i < wide.size(); ++i) {
      const char16_t u = wide[i];
      if (u >= 0xD800 && u <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
          wide[i + 1] <= 0xDFFF)
        ++i;
      else if (u >= 0xD800 && u <= 0xDFFF && !(u >= 0xDC80 && u <= 0xDCFF))
        *replaced = true;
    }
  }
  return wide_to_utf8(wide);
}
uint32_t ansi_code_page() { return 65001; }

Handle open_console_input() {
  const int fd = ::open("/dev/tty", O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return fail_errno(), invalid_handle;
  auto file = std::make_unique<File>();
  file->fd = fd;
  file->type = file_type_char;
  return console_input_open = add_object(std::move(file));
}

bool get_console_mode(Handle h, uint32_t& mode) {
  File* f = find_file(h);
  if (!f || !::isatty(f->fd)) return fail(win32::invalid_handle);
  mode = 3;
  return true;
}

bool set_console_mode(Handle h, uint32_t) {
  uint32_t mode;
  return get_console_mode(h, mode);
}

}  // namespace host
