// What a search run's output costs to write on this machine, apart from any
// searching: reads the mailbox in 1 MiB blocks, then writes the term files
// that a finished run left, one write a record: first with one open a file
// (the least any tool needs), then with an open, exclusive lock and close
// around each record, as brevlith appends to a term's file. Bounds workload
// (e), where 1,000 terms write many times the single term's output.
//   output_cost MAILBOX RESULT_DIR SCRATCH_DIR   (SCRATCH_DIR on tmpfs)
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct TermFile {
  std::string name;
  std::string bytes;
  std::vector<std::string_view> records;  // each "\r\n" + one message
};

// Every record starts with a line end and then the message's separator line.
void split_records(TermFile& f) {
  const std::string_view all = f.bytes;
  const std::string_view mark = "\r\nFrom ";
  size_t start = 0;
  while (start < all.size()) {
    size_t next = all.find(mark, start + 1);
    if (next == std::string_view::npos) next = all.size();
    f.records.push_back(all.substr(start, next - start));
    start = next;
  }
}

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double read_seconds(const char* mailbox) {
  std::vector<char> block(1 << 20);
  const int fd = open(mailbox, O_RDONLY);
  if (fd < 0) {
    std::perror(mailbox);
    std::exit(1);
  }
  const auto start = std::chrono::steady_clock::now();
  while (read(fd, block.data(), block.size()) > 0) {
  }
  const double took = seconds_since(start);
  close(fd);
  return took;
}

int open_or_die(const std::string& name, int flags) {
  const int fd = open(name.c_str(), flags, 0666);
  if (fd < 0) {
    std::perror(name.c_str());
    std::exit(1);
  }
  return fd;
}

void write_or_complain(int fd, std::string_view r) {
  if (write(fd, r.data(), r.size()) != static_cast<ssize_t>(r.size())) std::perror("write");
}

double write_seconds(const std::vector<TermFile>& files, const fs::path& dir, bool per_record) {
  fs::remove_all(dir);
  fs::create_directories(dir);
  const auto start = std::chrono::steady_clock::now();
  for (const TermFile& f : files) {
    const std::string name = (dir / f.name).string();
    if (per_record) {
      for (std::string_view r : f.records) {
        const int fd = open_or_die(name, O_WRONLY | O_CREAT | O_APPEND);
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) std::perror("flock");
        write_or_complain(fd, r);
        close(fd);
      }
    } else {
      const int fd = open_or_die(name, O_WRONLY | O_CREAT | O_EXCL);
      for (std::string_view r : f.records) write_or_complain(fd, r);
      close(fd);
    }
  }
  const double took = seconds_since(start);
  fs::remove_all(dir);
  return took;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: output_cost MAILBOX RESULT_DIR SCRATCH_DIR\n");
    return 2;
  }
  std::vector<TermFile> files;
  size_t bytes = 0, records = 0;
  for (const fs::directory_entry& e : fs::directory_iterator(argv[2])) {
    std::ifstream in(e.path(), std::ios::binary);
    TermFile f{e.path().filename().string(),
               std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
               {}};
    files.push_back(std::move(f));
  }
  for (TermFile& f : files) {
    split_records(f);
    bytes += f.bytes.size();
    records += f.records.size();
  }
  // Best of three, interleaved, so that a busy moment spoils one round only.
  double reading = 1e9, once = 1e9, each = 1e9;
  for (int round = 0; round < 3; ++round) {
    reading = std::min(reading, read_seconds(argv[1]));
    once = std::min(once, write_seconds(files, argv[3], false));
    each = std::min(each, write_seconds(files, argv[3], true));
  }
  std::printf("%zu files, %zu records, %.1f MB\n", files.size(), records, bytes / 1e6);
  std::printf("read the mailbox:                         %.3f s\n", reading);
  std::printf("write the records, one open a file:       %.3f s\n", once);
  std::printf("write the records, open+lock+close each:  %.3f s\n", each);
  std::printf("read + write, open+lock+close each:       %.3f s\n", reading + each);
}
