// The platform layer: every operating-system service the tool needs, shaped
// like the Win32 call it stands for. Each operation reports failure through
// a thread-local last-error value holding a Win32 error number, whatever the
// host, so the gate and the host-error table work the same everywhere.
// Names are lower case (windows.h defines the upper-case ones as macros).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace host {

using Text = std::string;     // bytes in the ANSI code page
using Wide = std::u16string;  // UTF-16 code units

// Opaque handle to a host object (file, standard stream, directory search).
using Handle = std::intptr_t;
inline constexpr Handle invalid_handle = -1;

// Win32 error numbers the layer reports.
namespace win32 {
inline constexpr uint32_t success = 0;
inline constexpr uint32_t file_not_found = 2;
inline constexpr uint32_t path_not_found = 3;
inline constexpr uint32_t too_many_open_files = 4;
inline constexpr uint32_t access_denied = 5;
inline constexpr uint32_t invalid_handle = 6;
inline constexpr uint32_t not_enough_memory = 8;
inline constexpr uint32_t no_more_files = 18;
inline constexpr uint32_t write_protect = 19;
inline constexpr uint32_t bad_unit = 20;
inline constexpr uint32_t gen_failure = 31;
inline constexpr uint32_t sharing_violation = 32;
inline constexpr uint32_t handle_eof = 38;
inline constexpr uint32_t invalid_parameter = 87;
inline constexpr uint32_t broken_pipe = 109;
inline constexpr uint32_t disk_full = 112;
inline constexpr uint32_t invalid_name = 123;
inline constexpr uint32_t negative_seek = 131;
inline constexpr uint32_t busy = 170;  // here: the file is the run's own standard output
inline constexpr uint32_t already_exists = 183;
inline constexpr uint32_t no_data = 232;  // a pipe whose reader has closed it
inline constexpr uint32_t filename_exced_range = 206;
inline constexpr uint32_t bad_file_type = 222;  // here: not a disk file where one is written
inline constexpr uint32_t stopped_on_symlink = 681;
inline constexpr uint32_t invalid_flags = 1004;  // read, never reported: a code page refusing flags
inline constexpr uint32_t file_invalid = 1006;   // here: another file now stands at the name
inline constexpr uint32_t too_many_links = 1142;  // here: the file has other names (hard links)
inline constexpr uint32_t bad_device = 1200;  // here: the name is a device (con, nul, com1, ...)
inline constexpr uint32_t cant_resolve_filename = 1921;
// The customer bit: set, the low 16 bits are the host's own error number
// (an errno) for a failure that has no Win32 counterpart.
inline constexpr uint32_t host_own_error = 0x20000000u;
}  // namespace win32

uint32_t get_last_error();
void set_last_error(uint32_t error);
// The host's own words for a win32::host_own_error number, in lower case.
Text host_error_text(uint32_t error);

// ---- Process -------------------------------------------------------------

// Host-specific start-up (signals, console modes, host check). Keeps argc and
// argv for the command line. Returns false when the process must end with
// exit code 255 (an unsupported host).
bool start(int argc, char** argv);
// Host-specific shut-down: undoes what start() acquired.
void finish();
// Ends the process at once: no further output, no clean-up.
[[noreturn]] void exit_process(int code);
// The signal that asked the run to stop (SIGTERM, SIGHUP, SIGINT where not
// ignored; on Windows the console's Ctrl+C, Ctrl+Break, close, log-off and
// shut-down events as 2, 21, 1 and 15), 0 while none has. The request is
// only noted: the tool stops itself at its next message boundary.
int stop_signal();

// The raw UTF-16 command line, program name included, where the host has one
// (Windows). False where the host hands over split arguments instead.
bool command_line(Wide& line);
// The arguments after the program name, as the host delivered them (bytes).
// Empty on a host that has a raw command line.
std::vector<Text> arguments();

// Entered and left around every gate call (Windows: no error dialogs of the
// host's own, floating-point state kept). Nothing to do on POSIX.
uint32_t gate_enter();
void gate_leave(uint32_t saved);

// A name as the user's shell writes it, for diagnostics ("\" is "/" on POSIX).
Text native_name(std::string_view name);
#ifdef _WIN32
inline constexpr std::string_view diagnostic_line_end = "\r\n";
// Names may start with a drive ("C:a.mbx": drive C's current folder) or the
// long-path prefix "\\?\", whose "?" is no wildcard; In.mbx and in.mbx are
// one file.
inline constexpr bool windows_names = true;
#else
inline constexpr std::string_view diagnostic_line_end = "\n";
inline constexpr bool windows_names = false;
#endif

// ---- Standard handles and console ----------------------------------------

enum StdHandle { std_input, std_output, std_error };
Handle get_std_handle(StdHandle which);

// Console modes (Windows) / terminal checks (POSIX: succeeds when the handle
// is a terminal; set does nothing there).
bool get_console_mode(Handle h, uint32_t& mode);
bool set_console_mode(Handle h, uint32_t mode);

// The console input device ("CONIN$"; /dev/tty). invalid_handle on failure.
Handle open_console_input();

struct ScreenInfo {
  int width = 0, height = 0;       // of the whole screen buffer, in cells
  int cursor_x = 0, cursor_y = 0;  // 0-based
  // False where the host cannot tell the size or where the cursor stands (a
  // terminal that does not answer its position query): then the other fields
  // mean nothing, and only the calls "at the cursor" below can place text.
  bool cursor_known = true;
};
struct Cell {
  char16_t ch;
  uint16_t attribute;
};
bool get_console_screen_buffer_info(Handle h, ScreenInfo& info);
// Writes n cells of one row starting at (x, y).
bool write_console_output_w(Handle h, const Cell* cells, int n, int x, int y);
// Scrolls the rows 1..height-1 up by one; the bottom row becomes `fill`.
bool scroll_console_screen_buffer_w(Handle h, Cell fill);
bool set_console_cursor_position(Handle h, int x, int y);
// For an unknown cursor: writes n cells where the cursor stands, the console
// wrapping and scrolling them as it does its ordinary output, and ends the
// line there (CR LF). Windows always knows its cursor and never needs them.
bool write_console_cells_at_cursor(Handle h, const Cell* cells, int n);
bool write_console_line_end(Handle h);
bool get_console_cursor_info(Handle h, uint32_t& size, bool& visible);
bool set_console_cursor_info(Handle h, uint32_t size, bool visible);

// ---- Files ----------------------------------------------------------------

inline constexpr uint32_t generic_read = 0x80000000u;
inline constexpr uint32_t generic_write = 0x40000000u;
enum Disposition { open_existing = 3, open_always = 4 };
enum FileType { file_type_unknown = 0, file_type_disk = 1, file_type_char = 2, file_type_pipe = 3 };
enum MoveMethod { file_begin = 0, file_current = 1, file_end = 2 };

// What an open asks beyond access and disposition, as CreateFileW's flags
// do; the host applies each, and decides nothing from the access itself.
enum OpenFlags : uint32_t {
  // Never through a link (or reparse point) at the name: stopped_on_symlink.
  open_no_follow = 0x1,
  // A disk file only: bad_file_type for a FIFO or device, access_denied for
  // a folder.
  open_disk_file = 0x2,
  // With open_always: the file is nearly always new, so it is created first
  // and opened only when it exists.
  open_create_first = 0x4,
  // A file with other names (hard links) is given a new file of its own
  // under this name, the other names keeping the old one (on Windows it is
  // refused, as open_single_name does).
  open_own_file = 0x8,
  // A file with other names (hard links) is refused: too_many_links.
  open_single_name = 0x10,
};
// What a file this call creates may be used for (POSIX permission bits, masked
// by the umask); existing files keep theirs, and Windows gives new files the
// folder's inherited access rights.
inline constexpr uint32_t default_permissions = 0666;

// Opens or creates a file for exclusive use (share mode 0): while the handle
// is open, every other open of the same file fails with sharing_violation.
// The lock is held before the file's size is read, so the size is the one
// no other program can change while the handle is open. On Windows a file
// opened for reading must be a disk file (its read may never end
// otherwise), and a name whose last part is a reserved device name (con,
// nul, com1, ...) is never opened at all (bad_device).
// With `folder` (from open_folder_w) the file is the one of the name's last
// part in that very folder, wherever the name's folder part leads by now.
// A name holding U+0000 is refused with invalid_name. invalid_handle on failure.
Handle create_file_w(const Wide& name, uint32_t access, Disposition disposition, uint32_t flags = 0,
                     uint32_t permissions = default_permissions, Handle folder = invalid_handle);
// Opens a folder and holds it until close_handle: another folder renamed or
// linked to its name meanwhile never receives the files opened in it (on
// Windows the held folder cannot be renamed or removed).
// With `folder` (from open_folder_w): the folder of the name's last part in
// that very folder, never reached through a link.
Handle open_folder_w(const Wide& name, Handle folder = invalid_handle);
FileType get_file_type(Handle h);
// Moves the file pointer; returns the new absolute offset, or -1 on failure.
int64_t set_file_pointer(Handle h, int64_t distance, MoveMethod method);
// Cuts the file at the file pointer.
bool set_end_of_file(Handle h);
// Reads up to n bytes at the file pointer and advances it; `done` receives the
// count (0 at the end of the file).
bool read_file(Handle h, void* buffer, uint32_t n, uint32_t& done);
// Reads up to n bytes at `offset` from the file itself, past any read-ahead
// (what it holds now), leaving the file pointer as the caller sees it.
bool read_file_at(Handle h, int64_t offset, void* buffer, uint32_t n, uint32_t& done);
// Writes n bytes at the file pointer in one request and advances it.
bool write_file(Handle h, const void* buffer, uint32_t n, uint32_t& done);
// Writes the pieces one after another at the file pointer, as one request
// where the host has one, and advances it; `done` receives the bytes written
// in all. At most max_write_pieces pieces.
struct WritePiece {
  const void* bytes;
  size_t size;
};
inline constexpr size_t max_write_pieces = 8;
bool write_file_gather(Handle h, const WritePiece* pieces, size_t count, uint64_t& done);
// The file's size and the times of its last write and last change (of its
// contents or its metadata; the host's own units) as they are now: another
// program may have changed them.
struct FileStamp {
  int64_t size = 0;
  int64_t written = 0;
  int64_t changed = 0;
  bool operator==(const FileStamp&) const = default;
};
bool get_file_stamp(Handle h, FileStamp& stamp);
// The permission bits of the file (default_permissions where the host has none).
bool get_file_permissions(Handle h, uint32_t& permissions);
bool close_handle(Handle h);
// Which file a handle is open on: two handles with the same identity reach
// the same file (GetFileInformationByHandle's volume and file index).
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};
bool get_file_information_by_handle(Handle h, FileIdentity& identity);
// The file of a handle opened for writing goes when the handle is closed
// (SetFileInformationByHandle with FileDispositionInfo); until then it stays
// locked, so no other program's file of the same name is removed instead.
// When another file has taken the name meanwhile, both stay (file_invalid).
bool set_file_disposition_delete(Handle h);

// ---- Directories ----------------------------------------------------------

// The bits an entry carries. They stay beside the request mask of
// files/directories.h (ATTR_*), which also holds bits no entry carries.
inline constexpr uint32_t file_attribute_hidden = 0x2;
inline constexpr uint32_t file_attribute_system = 0x4;
inline constexpr uint32_t file_attribute_directory = 0x10;
inline constexpr uint32_t file_attribute_normal = 0x80;
// A symbolic link or junction, beside the bits of what it leads to.
inline constexpr uint32_t file_attribute_reparse_point = 0x400;
inline constexpr uint32_t invalid_file_attributes = 0xFFFFFFFFu;

struct FindData {
  uint32_t attributes = 0;
  Wide name;  // bare name as stored
};
// Starts a search for `pattern` (wildcards * and ? in its last component).
// invalid_handle when nothing matches (file_not_found) or the folder is
// missing (path_not_found).
Handle find_first_file_w(const Wide& pattern, FindData& data);
// False with no_more_files after the last entry.
bool find_next_file_w(Handle search, FindData& data);
bool find_close(Handle search);
// With `folder` (from open_folder_w): the name's last part made in that folder.
bool create_directory_w(const Wide& name, Handle folder = invalid_handle);
uint32_t get_file_attributes_w(const Wide& name);
// The identity of the file a name reaches (links followed), without opening
// it for reading or locking it: two names of one file give the same. With
// `folder` (from open_folder_w), the file of the name's last part in it.
bool get_file_identity_w(const Wide& name, FileIdentity& identity, Handle folder = invalid_handle);

// ---- Code pages -------------------------------------------------------------

// ANSI code page <-> UTF-16. On POSIX the ANSI code page is UTF-8, and each
// byte that is not part of valid UTF-8 travels as U+DC80 + (byte - 0x80), so
// every byte string survives the round trip.
Wide multi_byte_to_wide_char(std::string_view text);
// `replaced`, where given, is set when a character the code page cannot hold
// became "?": such a text names another file or term, and must not be used.
Text wide_char_to_multi_byte(std::u16string_view wide, bool* replaced = nullptr);
// The number of the code page those two use, for diagnostics (65001 on POSIX).
uint32_t ansi_code_page();
// The characters of bytes 0x80-0xFF in the one-byte code page of that
// Windows number (1252, 28591, 28605, 437, 10000), from the host's own
// converter; 0 for a byte the code page leaves undefined. False when the host
// does not know the code page.
bool code_page_high_half(uint32_t code_page, std::array<char32_t, 128>& characters);

}  // namespace host
