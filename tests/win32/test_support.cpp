// The shared test helpers on Windows, over the ANSI Win32 calls, so that
// test names travel through the same code page as the tool's.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>

#include "tests/win32/runner.h"

namespace brevlith::testing {

namespace {

std::string current_directory() {
  char buffer[MAX_PATH + 1];
  const DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
  return std::string(buffer, n);
}

// Removes a tree, read-only and hidden entries included.
void remove_tree(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring full = path + L"\\" + name;
      SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        remove_tree(full);
      else
        DeleteFileW(full.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  RemoveDirectoryW(path.c_str());
}

std::wstring widen(const std::string& s) {
  std::wstring out(s.size(), L'\0');
  const int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), out.data(),
                                    static_cast<int>(out.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

// The usual quoting of one argument, so that the program's own parser (or
// the raw-line reader) sees what the test wrote.
std::u16string quote_argument(const std::string& argument) {
  const std::wstring a = widen(argument);
  if (!a.empty() && a.find_first_of(L" \t\"") == a.npos) return {a.begin(), a.end()};
  std::u16string out = u"\"";
  size_t backslashes = 0;
  for (wchar_t c : a) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, u'\\');
    backslashes = 0;
    out += static_cast<char16_t>(c);
  }
  out.append(backslashes * 2, u'\\');
  return out + u"\"";
}

struct Pipe {
  HANDLE read = nullptr, write = nullptr;
  // The child's end is inheritable, ours is not.
  explicit Pipe(bool child_reads) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    if (!CreatePipe(&read, &write, &inherit, 0)) throw std::runtime_error("CreatePipe");
    SetHandleInformation(child_reads ? write : read, HANDLE_FLAG_INHERIT, 0);
  }
};

void read_all(HANDLE h, std::string& into) {
  char buffer[65536];
  DWORD got;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) into.append(buffer, got);
}

// Reads both pipes until every writer has gone. Polled rather than blocking:
// a helper process that the host starts on the program's behalf (Wine's
// desktop process, for one) may inherit the pipes and keep them open after
// the program itself has ended.
void collect(HANDLE process, std::initializer_list<HANDLE> pipes,
             std::initializer_list<std::string*> into, int timeout_seconds) {
  std::vector<HANDLE> open(pipes);
  std::vector<std::string*> text(into);
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout_seconds) * 1000;
  ULONGLONG ended = 0;
  char buffer[65536];
  while (std::count(open.begin(), open.end(), nullptr) < static_cast<long>(open.size())) {
    bool got_any = false;
    for (size_t i = 0; i < open.size(); ++i) {
      DWORD available = 0, got = 0;
      if (!open[i]) continue;
      if (!PeekNamedPipe(open[i], nullptr, 0, nullptr, &available, nullptr)) {
        open[i] = nullptr;  // every writer has closed it
      } else if (available > 0 &&
                 ReadFile(open[i], buffer, std::min<DWORD>(available, sizeof buffer), &got,
                          nullptr)) {
        text[i]->append(buffer, got);
        got_any = got_any || got > 0;
      }
    }
    if (got_any) continue;
    const ULONGLONG now = GetTickCount64();
    if (WaitForSingleObject(process, 1) == WAIT_OBJECT_0) {
      if (ended == 0) ended = now;
      if (now - ended > 2000) break;
    } else if (now > deadline) {
      TerminateProcess(process, 128 + 9);
      WaitForSingleObject(process, INFINITE);
    }
  }
}

HANDLE start(const std::string& program, const std::u16string& line, HANDLE in, HANDLE out,
             HANDLE err) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = in;
  startup.hStdOutput = out;
  startup.hStdError = err;
  std::wstring command(line.begin(), line.end());
  PROCESS_INFORMATION info;
  if (!CreateProcessW(widen(program).c_str(), command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      nullptr, &startup, &info))
    throw std::runtime_error("cannot start " + program);
  CloseHandle(info.hThread);
  return info.hProcess;
}

}  // namespace

ScopedTempDir::ScopedTempDir() {
  static std::atomic<int> counter{0};
  char base[MAX_PATH + 1];
  GetTempPathA(sizeof base, base);
  for (;;) {
    path_ = std::string(base) + "brevlith-test-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(counter++);
    if (CreateDirectoryA(path_.c_str(), nullptr)) break;
    if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("cannot create " + path_);
  }
  previous_ = current_directory();
  SetCurrentDirectoryA(path_.c_str());
}

ScopedTempDir::~ScopedTempDir() {
  SetCurrentDirectoryA(previous_.c_str());
  remove_tree(widen(path_));
}

void write_file(const std::string& path, const std::string& bytes) {
  const HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD put = 0;
  const bool ok = h != INVALID_HANDLE_VALUE &&
                  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
                  put == bytes.size();
  if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  if (!ok) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
  const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                               nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return "<missing " + path + ">";
  std::string bytes;
  read_all(h, bytes);
  CloseHandle(h);
  return bytes;
}

bool exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> list_dir(const std::string& path) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  const HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::string sibling_program(const std::string& file_name) {
  char self[MAX_PATH + 1];
  const std::string path(self, GetModuleFileNameA(nullptr, self, sizeof self));
  return path.substr(0, path.find_last_of('\\') + 1) + file_name;
}

const std::string& brevlith_binary() {
  static const std::string path = sibling_program("brevlith.exe");
  return path;
}
const std::string& native_brevlith_binary() { return brevlith_binary(); }
bool windows_host() { return true; }
RunResult run_command_line(const std::string& program, const std::u16string& command_line,
                           const RunOptions& options) {
  if (options.in_child) throw std::logic_error("in_child hooks need fork; not on Windows");
  Pipe in(true), out(false), err(false);
  HANDLE out_file = nullptr;
  if (!options.stdout_path.empty()) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    out_file = CreateFileA(options.stdout_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  }
  const HANDLE process =
      start(program, command_line, in.read, out_file ? out_file : out.write, err.write);
  for (HANDLE child_end : {in.read, out.write, err.write}) CloseHandle(child_end);
  if (out_file) CloseHandle(out_file);

  RunResult result;
  DWORD put;
  if (!options.stdin_bytes.empty())
    WriteFile(in.write, options.stdin_bytes.data(), static_cast<DWORD>(options.stdin_bytes.size()),
              &put, nullptr);
  CloseHandle(in.write);
  collect(process, {out.read, err.read}, {&result.out, &result.err}, options.timeout_seconds);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  result.exit_code = static_cast<int>(code);
  for (HANDLE h : {out.read, err.read, process}) CloseHandle(h);
  return result;
}

RunResult run_program(const std::vector<std::string>& argv, const RunOptions& options) {
  std::u16string line;
  for (const std::string& a : argv) {
    if (!line.empty()) line += u' ';
    line += quote_argument(a);
  }
  return run_command_line(argv.at(0), line, options);
}

RunResult run_brevlith(const std::vector<std::string>& args, const RunOptions& options) {
  std::vector<std::string> argv{brevlith_binary()};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv, options);
}

BackgroundProgram::BackgroundProgram(const std::string& program,
                                     const std::u16string& command_line) {
  Pipe in(true), out(false);
  process_ = start(program, command_line, in.read, out.write, out.write);
  CloseHandle(in.read);
  CloseHandle(out.write);
  input_ = in.write;
  output_ = out.read;
}

BackgroundProgram::~BackgroundProgram() {
  finish();
  if (output_) CloseHandle(output_);
  if (process_) CloseHandle(process_);
}

std::string BackgroundProgram::read_line() {
  std::string line;
  char c;
  DWORD got;
  while (ReadFile(output_, &c, 1, &got, nullptr) && got == 1 && c != '\n')
    if (c != '\r') line += c;
  return line;
}

int BackgroundProgram::finish() {
  if (input_) {
    CloseHandle(input_);
    input_ = nullptr;
    WaitForSingleObject(process_, 30000);
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    exit_code_ = static_cast<int>(code);
  }
  return exit_code_;
}

}  // namespace brevlith::testing
