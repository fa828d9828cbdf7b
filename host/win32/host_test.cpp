// The Windows host through the services that use it, and brevlith.exe run
// with raw command lines. Runs on Windows and under Wine.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cfenv>
#include <cstring>
#include <random>
#include <tuple>

#include "console/error_status.h"
#include "files/channel_record.h"
#include "files/channels.h"
#include "files/directories.h"
#include "files/lines.h"
#include "host/win32/win32.h"
#include "tests/win32/runner.h"

namespace brevlith {
namespace {

using testing::banner;
using testing::created;
using testing::processing;
using testing::read_file;
using testing::RunResult;
using testing::ScopedTempDir;
using testing::write_file;

// The error status that one service call leaves behind.
template <class F>
uint8_t status_of(F&& call) {
  ErrorScope scope;
  call();
  return scope.status().code;
}

std::vector<std::string> all_names(const std::string& pattern, uint32_t mask) {
  std::vector<std::string> names;
  for (std::string n = dir_first(pattern, mask); !n.empty(); n = dir_next()) names.push_back(n);
  std::sort(names.begin(), names.end());  // the host's order is its own
  return names;
}

bool under_wine() {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

TEST(Win32Sharing, SecondOpenOfAnOpenFileGives70InEveryMode) {
  ScopedTempDir dir;
  write_file("box.mbx", "From ???@??? a\r\nbody\r\n");
  for (Mode second : {Mode::input, Mode::output, Mode::append}) {
    open_channel("box.mbx", 1, Mode::input, 128);
    ASSERT_NE(find_channel(1), nullptr);
    EXPECT_EQ(status_of([&] { open_channel("box.mbx", 2, second, 128); }), 70);
    EXPECT_EQ(find_channel(2), nullptr);
    close_channel(1);
  }
  EXPECT_EQ(read_file("box.mbx"), "From ???@??? a\r\nbody\r\n");  // nothing cut
}

TEST(Win32Sharing, FileHeldByAnotherProcessGives70) {
  ScopedTempDir dir;
  write_file("held.mbx", "From ???@??? a\r\nbody\r\n");
  testing::BackgroundProgram holder(testing::sibling_program("brevlith_hold_file.exe"),
                                    u"hold held.mbx");
  ASSERT_EQ(holder.read_line(), "held");

  EXPECT_EQ(status_of([] { open_channel("held.mbx", 1, Mode::input, 128); }), 70);
  EXPECT_EQ(find_channel(1), nullptr);

  const RunResult r = testing::run_brevlith({"held.mbx"});
  EXPECT_EQ(r.out, banner + created + processing("held.mbx", "0"));
  EXPECT_EQ(r.err, testing::host_stderr(
                       "brevlith: cannot open mailbox held.mbx: in use by another program\n"));
  EXPECT_EQ(r.exit_code, 1);

  EXPECT_EQ(holder.finish(), 0);
  EXPECT_EQ(status_of([] { open_channel("held.mbx", 1, Mode::input, 128); }), 0);
  close_channel(1);
}

TEST(Win32Names, NameHoldingNulIsRefusedNotCut) {
  ScopedTempDir dir;
  write_file("a.mbx", "x");
  CreateDirectoryA("d", nullptr);
  const host::Wide file(u"a.mbx\0.txt", 10), folder(u"d\0x", 3);
  const auto refused = [](bool failed) {
    return failed && host::get_last_error() == host::win32::invalid_name;
  };
  EXPECT_TRUE(refused(host::create_file_w(file, host::generic_write, host::open_always) ==
                      host::invalid_handle));
  host::FindData data;
  EXPECT_TRUE(refused(host::find_first_file_w(file, data) == host::invalid_handle));
  EXPECT_TRUE(refused(!host::create_directory_w(folder)));
  EXPECT_TRUE(refused(host::get_file_attributes_w(file) == host::invalid_file_attributes));
  EXPECT_EQ(read_file("a.mbx"), "x");
  EXPECT_EQ(testing::list_dir("."), (std::vector<std::string>{"a.mbx", "d"}));
}

TEST(Win32Directories, HiddenAndSystemFilesAreSkippedByMaskZero) {
  ScopedTempDir dir;
  for (const char* name : {"hidden.mbx", "system.mbx", "plain.mbx", "readonly.mbx"})
    write_file(name, "From ???@???\r\n");
  ASSERT_TRUE(SetFileAttributesW(L"hidden.mbx", FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(SetFileAttributesW(L"system.mbx", FILE_ATTRIBUTE_SYSTEM));
  ASSERT_TRUE(SetFileAttributesW(L"readonly.mbx", FILE_ATTRIBUTE_READONLY));
  if (!(GetFileAttributesW(L"hidden.mbx") & FILE_ATTRIBUTE_HIDDEN) ||
      !(GetFileAttributesW(L"system.mbx") & FILE_ATTRIBUTE_SYSTEM)) {
    SetFileAttributesW(L"readonly.mbx", FILE_ATTRIBUTE_NORMAL);
    GTEST_SKIP() << "this file system keeps no hidden or system attribute (under Wine: no user "
                    "extended attributes)";
  }

  EXPECT_EQ(all_names("*.mbx", 0), (std::vector<std::string>{"plain.mbx", "readonly.mbx"}));
  EXPECT_EQ(all_names("*.mbx", ATTR_HIDDEN),
            (std::vector<std::string>{"hidden.mbx", "plain.mbx", "readonly.mbx"}));
  EXPECT_EQ(all_names("*.mbx", ATTR_HIDDEN | ATTR_SYSTEM | ATTR_ONLY),
            (std::vector<std::string>{"hidden.mbx", "system.mbx"}));
  EXPECT_EQ(dir_first("hidden.mbx", 0), "");  // a hidden term file is a term

  const RunResult r = testing::run_brevlith({"*.mbx"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(testing::list_dir("brevlithoutput"),
            (std::vector<std::string>{"plain-0001.txt", "readonly-0001.txt"}));
  SetFileAttributesW(L"readonly.mbx", FILE_ATTRIBUTE_NORMAL);
}

TEST(Win32Directories, PatternEndingInBackslashListsTheFolder) {
  ScopedTempDir dir;
  CreateDirectoryA("mail", nullptr);
  CreateDirectoryA("mail\\sub", nullptr);
  write_file("mail\\a.mbx", "x");
  write_file("mail\\b.txt", "x");
  EXPECT_EQ(all_names("mail\\", 0), (std::vector<std::string>{"a.mbx", "b.txt"}));
  EXPECT_EQ(all_names("mail\\", ATTR_DIRECTORY),
            (std::vector<std::string>{"a.mbx", "b.txt", "sub"}));
  EXPECT_EQ(all_names("mail\\*.MBX", 0), std::vector<std::string>{"a.mbx"});
  EXPECT_EQ(all_names("missing\\", 0), std::vector<std::string>{});
}

TEST(Win32Directories, NamesComeBackInTheirStoredCase) {
  ScopedTempDir dir;
  CreateDirectoryA("BrevlithOutput", nullptr);
  EXPECT_EQ(dir_first("BREVLITHOUTPUT", ATTR_DIRECTORY), "BrevlithOutput");
  EXPECT_EQ(dir_first("brevlithoutput", 0), "");
}

TEST(Win32Directories, MakeDirFailuresTranslate) {
  ScopedTempDir dir;
  write_file("file", "x");
  CreateDirectoryA("there", nullptr);
  const struct {
    const char* name;
    uint8_t code;
  } rows[] = {{"new", 0}, {"there", 75}, {"file", 75}, {"missing\\child", 76}, {"a*b", 76}};
  for (const auto& row : rows)
    EXPECT_EQ(status_of([&] { make_dir(row.name); }), row.code) << row.name;
  EXPECT_NE(GetFileAttributesA("new") & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

TEST(Win32Files, OpenFailuresTranslate) {
  ScopedTempDir dir;
  CreateDirectoryA("folder", nullptr);
  write_file("readonly.txt", "x");
  SetFileAttributesA("readonly.txt", FILE_ATTRIBUTE_READONLY);
  const struct {
    const char* name;
    Mode mode;
    uint8_t code;
  } rows[] = {
      {"missing.mbx", Mode::input, 53}, {"nofolder\\x.mbx", Mode::input, 76},
      {"folder", Mode::input, 70},      {"readonly.txt", Mode::output, 70},
      {"readonly.txt", Mode::input, 0}, {"NUL", Mode::append, 75},
      {"new.txt", Mode::output, 0},     {"folder\\Con.mbx", Mode::input, 75},
      {"com1 .txt", Mode::output, 75},  {"nofolder\\lpt9", Mode::append, 75},
      {"console.mbx", Mode::output, 0},
  };
  // Wine running as root writes read-only files as root may.
  const HANDLE probe =
      CreateFileA("readonly.txt", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  const bool read_only_kept = probe == INVALID_HANDLE_VALUE;
  if (!read_only_kept) CloseHandle(probe);
  for (const auto& row : rows) {
    if (!read_only_kept && row.code == 70 && std::string(row.name) == "readonly.txt") continue;
    ErrorScope scope;
    open_channel(row.name, 3, row.mode, 128);
    EXPECT_EQ(scope.status().code, row.code) << row.name;
    // A device is never opened: a serial port or the console may never answer.
    if (row.code == 75) {
      EXPECT_EQ(scope.status().host_error, host::win32::bad_device) << row.name;
    }
    close_channel(3);
  }
  SetFileAttributesA("readonly.txt", FILE_ATTRIBUTE_NORMAL);
}

TEST(Win32Files, HandlesAreInheritableAndNewFilesPlain) {
  ScopedTempDir dir;
  const host::Handle h = host::create_file_w(u"new.txt", host::generic_write, host::open_always);
  ASSERT_NE(h, host::invalid_handle);
  DWORD flags = 0;
  ASSERT_TRUE(GetHandleInformation(host::win32_host::native(h), &flags));
  EXPECT_TRUE(flags & HANDLE_FLAG_INHERIT);
  host::close_handle(h);
  const DWORD attributes = GetFileAttributesA("new.txt");
  EXPECT_EQ(attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY),
            0u);
}

// Reads for reading-only handles go through a window far larger than a
// block; every byte must still come from where the file pointer says.
TEST(Win32Files, WindowedReadsMatchTheFileAtEveryPosition) {
  ScopedTempDir dir;
  std::string bytes(700 * 1024 + 77, '\0');
  std::mt19937 random(7);
  for (char& c : bytes) c = static_cast<char>(random());
  write_file("big.bin", bytes);

  const host::Handle h = host::create_file_w(u"big.bin", host::generic_read, host::open_existing);
  ASSERT_NE(h, host::invalid_handle);
  EXPECT_EQ(host::set_file_pointer(h, 0, host::file_end), static_cast<int64_t>(bytes.size()));
  const int64_t positions[] = {0, 128, 262144 - 5, 262144, 5, 600000, 700 * 1024, 0};
  for (int64_t at : positions) {
    ASSERT_EQ(host::set_file_pointer(h, at, host::file_begin), at);
    char got[300];
    uint32_t done = 0;
    ASSERT_TRUE(host::read_file(h, got, sizeof got, done));
    const size_t expect = std::min<size_t>(sizeof got, bytes.size() - static_cast<size_t>(at));
    ASSERT_EQ(done, expect) << at;
    EXPECT_EQ(std::string(got, done), bytes.substr(static_cast<size_t>(at), done)) << at;
    EXPECT_EQ(host::set_file_pointer(h, 0, host::file_current), at + static_cast<int64_t>(done));
  }
  uint32_t done = 1;
  char byte;
  host::set_file_pointer(h, 0, host::file_end);
  EXPECT_TRUE(host::read_file(h, &byte, 1, done));
  EXPECT_EQ(done, 0u);
  EXPECT_EQ(host::set_file_pointer(h, -1, host::file_begin), -1);
  EXPECT_TRUE(host::close_handle(h));

  // The same bytes through the line reader, lines straddling the window.
  std::string text;
  for (int i = 0; i < 20000; ++i)
    text += "line " + std::to_string(i) + std::string(i % 50, 'x') + "\r\n";
  write_file("lines.txt", text);
  open_channel("lines.txt", 1, Mode::input, 128);
  std::string joined;
  while (!at_end_of_file(1)) joined += read_line(1) + "\r\n";
  close_channel(1);
  EXPECT_EQ(joined, text);
}

TEST(Win32CodePage, ConversionsKeepBytesTheCodePageHas) {
  EXPECT_EQ(host::win32_host::to_wide_in(1252, "caf\xe9 \x80"), u"caf\u00e9 \u20ac");
  EXPECT_EQ(host::win32_host::to_text_in(1252, u"caf\u00e9 \u20ac"), "caf\xe9 \x80");
  EXPECT_EQ(host::win32_host::to_text_in(1252, u"\u4e2d"), "?");  // the default character
  // Best fit would turn these into plain letters, naming another file.
  EXPECT_EQ(host::win32_host::to_text_in(1252, u"\u0101\u0107.mbx"), "??.mbx");
  EXPECT_EQ(host::win32_host::to_text_in(CP_UTF8, u"\u0101"), "\xc4\x81");
  EXPECT_EQ(host::win32_host::to_wide_in(1252, std::string("a\0b", 3)), host::Wide(u"a\0b", 3));
  // UTF-8 refuses MB_PRECOMPOSED; a system whose ANSI code page is UTF-8
  // must still convert.
  EXPECT_EQ(host::win32_host::to_wide_in(CP_UTF8, "caf\xc3\xa9"), u"caf\u00e9");
  EXPECT_EQ(host::multi_byte_to_wide_char(""), u"");
  // Every replacement is told: the "?" put in is a wildcard.
  for (const auto& [page, wide, replaced] :
       {std::tuple<UINT, std::u16string, bool>{1252, u"caf\u00e9.mbx", false},
        {1252, u"\u65e5\u672c.mbx", true},
        {1252, u"\u0101.mbx", true},
        {CP_UTF8, u"\u65e5.mbx", false},
        {CP_UTF8, u"\xd800.mbx", true}}) {
    bool told = !replaced;
    host::win32_host::to_text_in(page, wide, &told);
    EXPECT_EQ(told, replaced) << page << " " << wide.size();
  }
  const std::string ansi = host::wide_char_to_multi_byte(u"plain.mbx");
  EXPECT_EQ(ansi, "plain.mbx");
}

TEST(Win32Gate, ErrorModeAndFloatingPointStateAreKept) {
  DWORD before = 0;
  SetThreadErrorMode(0, &before);
  std::fesetround(FE_UPWARD);
  UINT inside = 0;
  const auto r = run_system_call([&] {
    inside = GetThreadErrorMode();
    std::fesetround(FE_DOWNWARD);
    SetLastError(ERROR_SHARING_VIOLATION);
    return 7;
  });
  EXPECT_EQ(inside, static_cast<UINT>(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX));
  EXPECT_EQ(GetThreadErrorMode(), 0u);
  EXPECT_EQ(std::fegetround(), FE_UPWARD);
  EXPECT_EQ(r.result, 7);
  EXPECT_EQ(r.last_error, 32u);
  EXPECT_EQ(r.code, 70);
  std::fesetround(FE_TONEAREST);
  SetThreadErrorMode(before, nullptr);
}

TEST(Win32Process, RawCommandLineAndNamesAsGiven) {
  host::Wide line;
  EXPECT_TRUE(host::command_line(line));
  EXPECT_FALSE(line.empty());
  EXPECT_TRUE(host::arguments().empty());
  EXPECT_EQ(host::native_name("mail\\a/b.mbx"), "mail\\a/b.mbx");
}

// What a cmd.exe user types reaches the tool unquoted: the tail is the raw
// line after the program name.
TEST(Win32CommandLine, RawLinesGiveTheseRuns) {
  const std::string box = "From ???@??? x\r\ninvoice two words \"x y\" a/b\r\n";
  const struct {
    std::u16string line;
    std::string made;  // the one output file, "" for none
    std::string out;   // standard output after the banner and the folder note
    std::string err = {};
  } rows[] = {
      {u"brevlith in.mbx /s=two words", "two words.mbx", processing("in.mbx", "X1")},
      {u"\"C:\\x y\\brevlith.exe\"   in.mbx", "in-0001.txt", processing("in.mbx", "1")},
      {u"\"C:\\x y\\brevlith.exe\"in.mbx", "in-0001.txt", processing("in.mbx", "1")},
      {u"brevlith \"my box.mbx\" /s=invoice", "invoice.mbx", processing("my box.mbx", "X1")},
      {u"brevlith my box.mbx /s=invoice", "invoice.mbx", processing("my box.mbx", "X1")},
      {u"brevlith in.mbx /s=\"x y\"", "-x y-.mbx", processing("in.mbx", "X1")},
      {u"brevlith in.mbx \"/s=x y\"", "x y-.mbx", processing("in.mbx", "X1"),
       "brevlith: warning: the search term x y\" ends in a double quote, which must match too; to "
       "search for x y, type /s=x y without quotes\r\n"},
      {u"brevlith in.mbx /S=invoice", "in-0001.txt", processing("in.mbx", "1")},
      {u"brevlith mail\\in.mbx /s=a/b", "a-b.mbx", processing("in.mbx", "X1")},
      {u"brevlith mail/in.mbx", "", "FILE NOT FOUND\r\n"},  // the pattern is "mail"
      {u"brevlith\tin.mbx", "", "FILE NOT FOUND\r\n"},      // a TAB is not trimmed
      {u"   in.mbx", "in-0001.txt", processing("in.mbx", "1")},
  };
  for (const auto& row : rows) {
    ScopedTempDir dir;
    write_file("in.mbx", box);
    write_file("my box.mbx", box);
    CreateDirectoryA("mail", nullptr);
    write_file("mail\\in.mbx", box);
    const RunResult r =
        testing::run_command_line(testing::brevlith_binary(), row.line, testing::RunOptions{});
    const std::string label =
        ::testing::PrintToString(std::wstring(row.line.begin(), row.line.end()));
    EXPECT_EQ(r.out, banner + created + row.out) << label;
    EXPECT_TRUE(row.err.empty() || r.err == row.err) << label << r.err;  // when given
    const std::vector<std::string> made = testing::list_dir("brevlithoutput");
    if (!row.made.empty()) {
      EXPECT_EQ(made, std::vector<std::string>{row.made}) << label;
    }
  }
}

// Names as a Windows user types them, each once faulty: a wider match, a
// device opened, another folder read, a prefix refused.
TEST(Win32CommandLine, NamesReachTheFilesTheyName) {
  const std::string box = "From ???@??? x\r\nsee aux con nul lpt9\r\n";
  const std::string device = ": the name is a device\r\n";
  const std::string page = std::to_string(GetACP());
  ScopedTempDir dir;
  char full[MAX_PATH];
  ASSERT_GT(GetFullPathNameA(".", MAX_PATH, full, nullptr), 0u);
  const std::u16string here(full, full + std::strlen(full));
  const struct {
    std::u16string line;
    int exit_code;
    std::string out;  // after the banner and the folder line
    std::string err;
    bool needs_ansi = false;  // a code page that lacks the CJK characters
  } rows[] = {
      // Today's "?" for a missing character matched ab.mbx, or every message.
      {u"brevlith \u65e5\u672c.mbx", 1, "",
       "brevlith: cannot use the mailbox pattern ??.mbx: it cannot be written in the ANSI code "
       "page " +
           page + "\r\n",
       true},
      {u"brevlith ab.mbx /s=\u65e5\u672c\u8a9e", 1, "",
       "brevlith: cannot search for the term ???: it cannot be written in the ANSI code page " +
           page + "\r\n",
       true},
      // 8.3 short names of these match "*.mbx"; their long names do not.
      {u"brevlith *.mbx", 0, processing("ab.mbx", "1"), ""},
      // A device name is a term, never a term file, and no output file.
      {u"brevlith ab.mbx /s=aux", 1, processing("ab.mbx", "X1"),
       "brevlith: cannot write brevlithoutput\\aux.mbx" + device},
      {u"brevlith ab.mbx /s=con", 1, processing("ab.mbx", "X1"),
       "brevlith: cannot write brevlithoutput\\con.mbx" + device},
      {u"brevlith ab.mbx /s=nul", 1, processing("ab.mbx", "X1"),
       "brevlith: cannot write brevlithoutput\\nul.mbx" + device},
      {u"brevlith ab.mbx /s=lpt9", 1, processing("ab.mbx", "X1"),
       "brevlith: cannot write brevlithoutput\\lpt9.mbx" + device},
      // The long-path prefix's "?" is no wildcard.
      {u"brevlith \\\\?\\" + here + u"\\ab.mbx", 0, processing("ab.mbx", "1"), ""},
      {u"brevlith \\\\?\\" + here + u"\\*.mbx", 0, processing("ab.mbx", "1"), ""},
  };
  for (const auto& row : rows) {
    const std::string label =
        ::testing::PrintToString(std::wstring(row.line.begin(), row.line.end()));
    if (row.needs_ansi && GetACP() == CP_UTF8) continue;
    for (const char* name : {"ab.mbx", "In.mbx~", "d.mbxold", "longname.mbx_backup"})
      write_file(name, box);
    testing::RunOptions options;
    options.timeout_seconds = 20;  // a device opened could wait for ever
    const RunResult r = testing::run_command_line(testing::brevlith_binary(), row.line, options);
    EXPECT_EQ(r.exit_code, row.exit_code) << label;
    EXPECT_EQ(r.out, row.out.empty() ? banner : banner + created + row.out) << label;
    EXPECT_EQ(r.err, row.err) << label;
    if (row.line == u"brevlith *.mbx") {
      EXPECT_EQ(testing::list_dir("brevlithoutput"), std::vector<std::string>{"ab-0001.txt"});
    }
    for (const std::string& made : testing::list_dir("brevlithoutput"))
      DeleteFileA(("brevlithoutput\\" + made).c_str());
    RemoveDirectoryA("brevlithoutput");
  }
  // A listed name with such a character would open "??.mbx", a wildcard.
  if (GetACP() == CP_UTF8) return;
  const HANDLE h =
      CreateFileW(L"\u65e5\u672c.mbx", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD put;
  WriteFile(h, box.data(), static_cast<DWORD>(box.size()), &put, nullptr);
  CloseHandle(h);
  const RunResult r = testing::run_command_line(testing::brevlith_binary(), u"brevlith *.mbx", {});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out, banner + created + processing("ab.mbx", "1"));
  EXPECT_EQ(r.err, "brevlith: skipped ??.mbx: its name cannot be written in the ANSI code page " +
                       page + "; rename it to read it\r\n");
  EXPECT_EQ(testing::list_dir("brevlithoutput"), std::vector<std::string>{"ab-0001.txt"});
}

// "D:a.mbx" is a.mbx in drive D's current folder, not in this one.
TEST(Win32CommandLine, DriveRelativePatternsOpenTheDrivesFile) {
  ScopedTempDir dir;
  char full[MAX_PATH];
  ASSERT_GT(GetFullPathNameA(".", MAX_PATH, full, nullptr), 0u);
  std::string other;
  const DWORD drives = GetLogicalDrives();
  for (char d = 'Z'; d > 'A' && other.empty(); --d) {
    if (!(drives & (1u << (d - 'A'))) || d == std::toupper(full[0])) continue;
    const std::string there =
        std::string(1, d) + ":\\brevlith-drive-" + std::to_string(GetCurrentProcessId());
    if (GetDriveTypeA((std::string(1, d) + ":\\").c_str()) == DRIVE_FIXED &&
        CreateDirectoryA(there.c_str(), nullptr))
      other = there;
  }
  if (other.empty()) GTEST_SKIP() << "no second fixed drive to write on";
  const std::string drive = other.substr(0, 2);
  const std::wstring variable = L"=" + std::wstring(drive.begin(), drive.end());
  const std::wstring folder(other.begin(), other.end());
  ASSERT_TRUE(SetEnvironmentVariableW(variable.c_str(), folder.c_str()));
  write_file(other + "\\a.mbx", "From ???@??? x\r\nthere\r\n");
  write_file("a.mbx", "From ???@??? x\r\nhere\r\n");
  for (const std::string& pattern : {drive + "a.mbx", drive + "*.mbx"}) {
    const std::u16string line = u"brevlith " + std::u16string(pattern.begin(), pattern.end());
    const RunResult r = testing::run_command_line(testing::brevlith_binary(), line, {});
    EXPECT_EQ(r.exit_code, 0) << pattern << r.err;
    EXPECT_EQ(read_file("brevlithoutput\\a-0001.txt"), "From ???@??? x\r\nthere\r\n") << pattern;
    DeleteFileA("brevlithoutput\\a-0001.txt");
  }
  SetEnvironmentVariableW(variable.c_str(), nullptr);
  DeleteFileA((other + "\\a.mbx").c_str());
  RemoveDirectoryA(other.c_str());
}

TEST(Win32Process, FatalCodeEndsTheProcessWith255) {
  EXPECT_EXIT(raise_error(241), ::testing::ExitedWithCode(255), "");
  EXPECT_EXIT(run_system_call([] {
                SetLastError(ERROR_INVALID_BLOCK);
                return 0;
              }).raise(),
              ::testing::ExitedWithCode(255), "");
}

TEST(Win32Process, NonNtHostIsRefusedWith255) {
  if (!under_wine()) GTEST_SKIP() << "only Wine can pretend to be Windows 98";
  ScopedTempDir dir;
  const std::string old = dir.path() + "\\brevlith-win98.exe";
  ASSERT_TRUE(CopyFileA(testing::brevlith_binary().c_str(), old.c_str(), FALSE));
  const char* key = "Software\\Wine\\AppDefaults\\brevlith-win98.exe";
  ASSERT_EQ(RegSetKeyValueA(HKEY_CURRENT_USER, key, "Version", REG_SZ, "win98", 6), ERROR_SUCCESS);
  write_file("in.mbx", "x\r\n");
  const RunResult r = testing::run_program({old, "in.mbx"});
  RegDeleteKeyA(HKEY_CURRENT_USER, key);
  EXPECT_EQ(r.exit_code, 255);
  EXPECT_EQ(r.out, "");  // refused before the banner
  EXPECT_FALSE(testing::exists("brevlithoutput"));
}

}  // namespace
}  // namespace brevlith
