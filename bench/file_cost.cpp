// What creating small files costs on this machine, with and without the two
// calls brevlith adds per message file: the exclusive lock and the progress
// mark. Bounds workload (c), where file creation is nearly the whole job.
//   file_cost DIR [COUNT]    (DIR on tmpfs, emptied between the rounds)
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

double micros_per_file(const std::filesystem::path& dir, int count, bool lock, bool mark) {
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const int null_fd = open("/dev/null", O_WRONLY);
  char body[250];
  for (char& c : body) c = 'x';
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    const std::string name = (dir / ("m-" + std::to_string(i) + ".txt")).string();
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (fd < 0) {
      std::perror(name.c_str());
      std::exit(1);
    }
    if (lock && flock(fd, LOCK_EX | LOCK_NB) != 0) std::perror("flock");
    if (pwrite(fd, body, sizeof body, 0) != static_cast<ssize_t>(sizeof body))
      std::perror("pwrite");
    close(fd);
    if (mark && write(null_fd, ".", 1) != 1) std::perror("write");
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  close(null_fd);
  std::filesystem::remove_all(dir);
  return took.count() * 1e6 / count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: file_cost DIR [COUNT]\n");
    return 2;
  }
  const std::filesystem::path dir = argv[1];
  const int count = argc > 2 ? std::atoi(argv[2]) : 200000;
  // Best of three, interleaved, so that a busy moment spoils one round only.
  double plain = 1e9, locked = 1e9, full = 1e9;
  for (int round = 0; round < 3; ++round) {
    plain = std::min(plain, micros_per_file(dir, count, false, false));
    locked = std::min(locked, micros_per_file(dir, count, true, false));
    full = std::min(full, micros_per_file(dir, count, true, true));
  }
  std::printf("open+pwrite+close:               %6.2f us a file\n", plain);
  std::printf("  + flock:                       %6.2f us (%.2fx)\n", locked, locked / plain);
  std::printf("  + flock + one-byte mark write: %6.2f us (%.2fx)\n", full, full / plain);
}
