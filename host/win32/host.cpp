// Windows implementation of the process, standard-handle, console, file and
// code-page operations: each one is the Win32 call it is named after, and
// leaves the host's own last-error value behind.
#include <cfenv>
#include <climits>

#include "host/win32/win32.h"

namespace host {
namespace win32_host {
namespace {

volatile LONG stop_signal_number = 0;
volatile LONG run_finished = 0;

// Notes the request, as a POSIX signal handler does; the run stops itself
// at its next message boundary. After a close, log-off or shut-down event
// the process ends when the handler returns, so it waits a little for the
// run to finish.
BOOL WINAPI note_console_event(DWORD event) {
  const LONG signal_number = event == CTRL_C_EVENT       ? 2
                             : event == CTRL_BREAK_EVENT ? 21
                             : event == CTRL_CLOSE_EVENT ? 1
                                                         : 15;
  InterlockedCompareExchange(&stop_signal_number, signal_number, 0);
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
    for (int waited = 0; waited < 4500 && !run_finished; waited += 50) Sleep(50);
  return TRUE;
}

// The floating-point controls, x87 and SSE (precision, rounding, exception
// masks; MXCSR with its flags). Saved by gate_enter for gate_leave; the gate
// lock makes one copy enough. The instructions are used directly: the C
// library's fenv calls cost microseconds, and the gate runs for every
// 128-byte read.
struct FloatingPointState {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  unsigned short x87;
  uint32_t mxcsr;
#else
  std::fenv_t env;
#endif
};
FloatingPointState gate_state;

void save(FloatingPointState& s) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  asm volatile("fnstcw %0" : "=m"(s.x87));
  asm volatile("stmxcsr %0" : "=m"(s.mxcsr));
#else
  std::fegetenv(&s.env);
#endif
}

void restore(const FloatingPointState& s) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  asm volatile("fldcw %0" : : "m"(s.x87));
  asm volatile("ldmxcsr %0" : : "m"(s.mxcsr));
#else
  std::fesetenv(&s.env);
#endif
}

const STARTUPINFOA& startup_info() {
  static const STARTUPINFOA info = [] {
    STARTUPINFOA s{};
    s.cb = sizeof s;
    GetStartupInfoA(&s);
    return s;
  }();
  return info;
}

// 64-bit significand, round to nearest, every exception masked.
void set_floating_point_state() {
  std::fesetround(FE_TONEAREST);
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  const unsigned short control_word = 0x133F;
  asm volatile("fldcw %0" : : "m"(control_word));
#endif
}

// A conversion call is given an int length; longer texts go in pieces.
constexpr size_t piece = size_t{1} << 30;

// Converts `text` piece by piece: `convert(flags, part, out, room)` is asked
// for the size with no `out`, then to write. A code page that refuses the
// flags (UTF-8 and the other stateful ones) is asked again without them.
template <class Out, class In, class Convert>
Out convert_in_pieces(In text, DWORD flags, const Convert& convert) {
  Out out;
  while (!text.empty()) {
    const In part = text.substr(0, piece);
    int n = convert(flags, part, nullptr, 0);
    if (n == 0 && flags != 0 && GetLastError() == win32::invalid_flags) {
      flags = 0;
      continue;
    }
    if (n == 0) break;
    const size_t at = out.size();
    out.resize(at + static_cast<size_t>(n));
    n = convert(flags, part, out.data() + at, n);
    out.resize(at + static_cast<size_t>(n));
    text.remove_prefix(part.size());
  }
  return out;
}

// UTF-8 holds every character; only an unpaired surrogate is replaced.
bool has_unpaired_surrogate(std::u16string_view units) {
  for (size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF)
      ++i;
    else if (u >= 0xD800 && u <= 0xDFFF)
      return true;
  }
  return false;
}

}  // namespace

bool refuse_nul(const Wide& name) {
  if (name.find(u'\0') == Wide::npos) return false;
  SetLastError(win32::invalid_name);
  return true;
}

Wide to_wide_in(UINT code_page, std::string_view text) {
  return convert_in_pieces<Wide>(
      text, MB_PRECOMPOSED, [&](DWORD flags, std::string_view part, char16_t* out, int room) {
        return MultiByteToWideChar(code_page, flags, part.data(), static_cast<int>(part.size()),
                                   reinterpret_cast<wchar_t*>(out), room);
      });
}

Text to_text_in(UINT code_page, std::u16string_view wide, bool* replaced) {
  if (replaced) *replaced = false;
  const bool utf8 = code_page == CP_UTF8 || (code_page == CP_ACP && GetACP() == CP_UTF8);
  // No best fit: "\u0101.mbx" must not become "a.mbx" and open another file.
  // A character the code page lacks becomes "?", and the caller is told.
  return convert_in_pieces<Text>(
      wide, WC_NO_BEST_FIT_CHARS, [&](DWORD flags, std::u16string_view part, char* out, int room) {
        const auto* units = reinterpret_cast<const wchar_t*>(part.data());
        const int in = static_cast<int>(part.size());
        if (out)
          return WideCharToMultiByte(code_page, flags, units, in, out, room, nullptr, nullptr);
        // UTF-8 and the like take neither flags nor the default-character flag.
        BOOL used = FALSE;
        const int n = WideCharToMultiByte(code_page, flags, units, in, nullptr, 0, nullptr,
                                          flags != 0 ? &used : nullptr);
        if (n != 0 && replaced && (used || (flags == 0 && utf8 && has_unpaired_surrogate(part))))
          *replaced = true;
        return n;
      });
}

}  // namespace win32_host

using namespace win32_host;

uint32_t get_last_error() { return GetLastError(); }
// Every failure here is a Win32 number already: none is the host's own.
Text host_error_text(uint32_t error) { return "system error " + std::to_string(error); }
void set_last_error(uint32_t error) { SetLastError(error); }

// ---- Process -------------------------------------------------------------

bool start(int, char**) {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  if (version.dwPlatformId != VER_PLATFORM_WIN32_NT) {
    MessageBoxA(nullptr, "Win98 No Support", nullptr, MB_TASKMODAL | MB_SETFOREGROUND);
    return false;
  }
  startup_info();
  set_floating_point_state();
  SetConsoleCtrlHandler(note_console_event, TRUE);
  return true;
}

void finish() { InterlockedExchange(&run_finished, 1); }

void exit_process(int code) { ExitProcess(static_cast<UINT>(code)); }

int stop_signal() { return static_cast<int>(stop_signal_number); }

bool command_line(Wide& line) {
  const wchar_t* raw = GetCommandLineW();
  line.assign(reinterpret_cast<const char16_t*>(raw ? raw : L""));
  return true;
}

std::vector<Text> arguments() { return {}; }

// The calling thread's error mode, which is the one its host call obeys:
// SetErrorMode would ask the kernel for the process's mode twice per call.
uint32_t gate_enter() {
  save(gate_state);
  DWORD previous = 0;
  SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &previous);
  return previous;
}

void gate_leave(uint32_t saved) {
  restore(gate_state);
  SetThreadErrorMode(saved, nullptr);
}

Text native_name(std::string_view name) { return Text(name); }

// ---- Standard handles and console ----------------------------------------

Handle get_std_handle(StdHandle which) {
  // Handles handed over in the start-up information replace the standard ones.
  const STARTUPINFOA& s = startup_info();
  if (s.dwFlags & STARTF_USESTDHANDLES)
    return wrap(which == std_input    ? s.hStdInput
                : which == std_output ? s.hStdOutput
                                      : s.hStdError);
  return wrap(GetStdHandle(which == std_input    ? STD_INPUT_HANDLE
                           : which == std_output ? STD_OUTPUT_HANDLE
                                                 : STD_ERROR_HANDLE));
}

bool get_console_mode(Handle h, uint32_t& mode) {
  DWORD m = 0;
  if (!GetConsoleMode(native(h), &m)) return false;
  mode = m;
  return true;
}

bool set_console_mode(Handle h, uint32_t mode) { return SetConsoleMode(native(h), mode) != 0; }

Handle open_console_input() {
  return wrap(
      CreateFileA("CONIN$", GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
}

bool get_console_screen_buffer_info(Handle h, ScreenInfo& info) {
  CONSOLE_SCREEN_BUFFER_INFO csbi;
  if (!GetConsoleScreenBufferInfo(native(h), &csbi)) return false;
  info = {csbi.dwSize.X, csbi.dwSize.Y, csbi.dwCursorPosition.X, csbi.dwCursorPosition.Y};
  return true;
}

bool write_console_output_w(Handle h, const Cell* cells, int n, int x, int y) {
  constexpr int most = 256;
  CHAR_INFO buffer[most];
  bool ok = true;
  for (int done = 0; done < n;) {
    const int count = n - done < most ? n - done : most;
    for (int i = 0; i < count; ++i) {
      buffer[i].Char.UnicodeChar = static_cast<wchar_t>(cells[done + i].ch);
      buffer[i].Attributes = cells[done + i].attribute;
    }
    const SHORT left = static_cast<SHORT>(x + done), row = static_cast<SHORT>(y);
    SMALL_RECT region{left, row, static_cast<SHORT>(left + count - 1), row};
    ok = WriteConsoleOutputW(native(h), buffer, {static_cast<SHORT>(count), 1}, {0, 0}, &region) &&
         ok;
    done += count;
  }
  return ok;
}

bool scroll_console_screen_buffer_w(Handle h, Cell fill) {
  CONSOLE_SCREEN_BUFFER_INFO csbi;
  if (!GetConsoleScreenBufferInfo(native(h), &csbi)) return false;
  const SMALL_RECT source{0, 1, static_cast<SHORT>(csbi.dwSize.X - 1),
                          static_cast<SHORT>(csbi.dwSize.Y - 1)};
  CHAR_INFO blank;
  blank.Char.UnicodeChar = static_cast<wchar_t>(fill.ch);
  blank.Attributes = fill.attribute;
  return ScrollConsoleScreenBufferW(native(h), &source, nullptr, {0, 0}, &blank) != 0;
}

// A console always tells where its cursor is, so the screen path never
// needs these; they write as the console's ordinary output would.
bool write_console_cells_at_cursor(Handle h, const Cell* cells, int n) {
  std::wstring text;
  for (int i = 0; i < n; ++i) text += static_cast<wchar_t>(cells[i].ch);
  DWORD done = 0;
  return WriteConsoleW(native(h), text.data(), static_cast<DWORD>(n), &done, nullptr) != 0;
}

bool write_console_line_end(Handle h) {
  DWORD done = 0;
  return WriteConsoleW(native(h), L"\r\n", 2, &done, nullptr) != 0;
}

bool set_console_cursor_position(Handle h, int x, int y) {
  return SetConsoleCursorPosition(native(h), {static_cast<SHORT>(x), static_cast<SHORT>(y)}) != 0;
}

bool get_console_cursor_info(Handle h, uint32_t& size, bool& visible) {
  CONSOLE_CURSOR_INFO info;
  if (!GetConsoleCursorInfo(native(h), &info)) return false;
  size = info.dwSize;
  visible = info.bVisible != 0;
  return true;
}

bool set_console_cursor_info(Handle h, uint32_t size, bool visible) {
  const CONSOLE_CURSOR_INFO info{size, visible ? TRUE : FALSE};
  return SetConsoleCursorInfo(native(h), &info) != 0;
}

// ---- Code pages -------------------------------------------------------------

Wide multi_byte_to_wide_char(std::string_view text) { return to_wide_in(CP_ACP, text); }

Text wide_char_to_multi_byte(std::u16string_view wide, bool* replaced) {
  return to_text_in(CP_ACP, wide, replaced);
}

uint32_t ansi_code_page() { return GetACP(); }

bool code_page_high_half(uint32_t code_page, std::array<char32_t, 128>& characters) {
  if (!IsValidCodePage(code_page)) return false;
  for (int b = 0x80; b < 0x100; ++b) {
    const char byte = static_cast<char>(b);
    wchar_t unit[2] = {};
    const int n = MultiByteToWideChar(code_page, MB_ERR_INVALID_CHARS, &byte, 1, unit, 2);
    characters[b - 0x80] = n == 1 ? static_cast<char32_t>(unit[0]) : 0;
  }
  return true;
}

}  // namespace host
