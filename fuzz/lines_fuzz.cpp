// The line reader and the splitter: bytes in, lines and messages out. The
// first byte picks the read block size for the line check and the mode of
// the split (normal, or search for "ab"); the rest is the mailbox. The
// split runs the tool's own walk on a file in a scratch folder on tmpfs.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "check.h"
#include "console/error_status.h"
#include "files/channels.h"
#include "files/lines.h"
#include "tool/mailbox_walk.h"

namespace {

using namespace brevlith;

// The model: 0x1A ends the file; when its first CR or LF is an LF, lines
// end at LF and a CR right before one belongs to the line end; otherwise
// lines end at CR or CR LF, and a lone LF is an ordinary byte.
std::vector<std::string> model_lines(std::string bytes) {
  if (const size_t eof = bytes.find('\x1a'); eof != std::string::npos) bytes.resize(eof);
  std::vector<std::string> lines;
  std::string line;
  const size_t first_end = bytes.find_first_of("\r\n");
  if (first_end != std::string::npos && bytes[first_end] == '\n') {
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] == '\n') {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        line.clear();
      } else {
        line += bytes[i];
      }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
  }
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\r') {
      line += bytes[i];
      continue;
    }
    lines.push_back(line);
    line.clear();
    if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// A separator line at the start of any line but the first starts a message;
// every line is followed by CR LF; an empty file is one message of CR LF.
std::vector<std::string> model_messages(const std::string& bytes) {
  const std::vector<std::string> lines = model_lines(bytes);
  std::vector<std::string> messages(1);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i > 0 && lines[i].rfind("From ???@???", 0) == 0) messages.emplace_back();
    messages.back() += lines[i] + "\r\n";
  }
  if (lines.empty()) messages.back() = "\r\n";
  return messages;
}

// The term is ASCII, which folds alike in every encoding: A-Z alone.
std::string model_fold(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return s;
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void empty_output_folder() {
  ::mkdir("brevlithoutput", 0755);
  if (DIR* d = ::opendir("brevlithoutput")) {
    while (const dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ::unlink((std::string("brevlithoutput/") + e->d_name).c_str());
    ::closedir(d);
  }
}

void check_lines(const std::string& bytes, int32_t record_length) {
  ErrorScope scope;
  open_channel("in.mbx", 1, Mode::input, record_length);
  FUZZ_CHECK(scope.take().code == 0);
  std::vector<std::string> lines;
  while (!at_end_of_file(1)) lines.push_back(read_line(1));
  FUZZ_CHECK(scope.take().code == 0);
  FUZZ_CHECK(read_line(1).empty() && scope.take().code == 62);  // stays at its end
  close_channel(1);
  FUZZ_CHECK(lines == model_lines(bytes));
}

void check_split(const std::string& bytes, bool search) {
  empty_output_folder();
  Plan plan;
  plan.walks = {{"in.mbx", false}};
  plan.search_term = search ? "ab" : "";
  plan.terms = {plan.search_term};
  plan.numbered_files = !search;
  TermSearch term_search(plan.terms);
  Outcome outcome;
  MessageWriter writer(plan, outcome);
  MailboxWalk(plan, term_search, writer, outcome).walk_all();
  FUZZ_CHECK(!outcome.failed);
  const std::vector<std::string> messages = model_messages(bytes);
  if (search) {
    std::string records;
    for (const std::string& m : messages)
      if (model_fold(m).find("ab") != std::string::npos) records += "\r\n" + m;
    FUZZ_CHECK(slurp("brevlithoutput/ab.mbx") == records);
    return;
  }
  for (size_t i = 0; i < messages.size(); ++i) {
    char name[64];
    std::snprintf(name, sizeof name, "brevlithoutput/in-%04zu.txt", i + 1);
    FUZZ_CHECK(slurp(name) == messages[i]);
  }
  char after[64];
  std::snprintf(after, sizeof after, "brevlithoutput/in-%04zu.txt", messages.size() + 1);
  FUZZ_CHECK(::access(after, F_OK) != 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* given = std::getenv("BREVLITH_FUZZ_SCRATCH");
  const std::string scratch =
      given ? given : "/dev/shm/brevlith-fuzz-lines-" + std::to_string(::getpid());
  ::mkdir(scratch.c_str(), 0755);
  if (::chdir(scratch.c_str()) != 0) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  {
    std::ofstream out("in.mbx", std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  const int32_t record_length = (data[0] & 0x40) ? 128 : 1 + (data[0] & 0x3F);
  check_lines(bytes, record_length);
  check_split(bytes, (data[0] & 0x80) != 0);
  return 0;
}
