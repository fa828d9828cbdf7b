// Runs a command and reports its wall time, CPU time and peak memory.
//
//   measure RESULT_FILE COMMAND [ARG ...]
//
// writes "wall_s user_s sys_s maxrss_kib status" to RESULT_FILE. The harness
// is Python: a child forked from it starts with the interpreter's resident
// set as its peak, so the tool is forked from this small program instead.
// The rusage of wait4 covers the command and every descendant it waited for.
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: measure RESULT_FILE COMMAND [ARG ...]\n");
    return 2;
  }
  timespec t0{}, t1{};
  clock_gettime(CLOCK_MONOTONIC, &t0);
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("measure: fork");
    return 2;
  }
  if (pid == 0) {
    execvp(argv[2], argv + 2);
    std::fprintf(stderr, "measure: %s: %s\n", argv[2], std::strerror(errno));
    _exit(127);
  }
  int status = 0;
  rusage ru{};
  while (wait4(pid, &status, 0, &ru) < 0) {
    if (errno != EINTR) {
      std::perror("measure: wait4");
      return 2;
    }
  }
  clock_gettime(CLOCK_MONOTONIC, &t1);
  const double wall = static_cast<double>(t1.tv_sec - t0.tv_sec) + (t1.tv_nsec - t0.tv_nsec) * 1e-9;
  auto seconds = [](const timeval& tv) { return static_cast<double>(tv.tv_sec) + tv.tv_usec * 1e-6; };
  FILE* out = std::fopen(argv[1], "w");
  if (!out) {
    std::perror(argv[1]);
    return 2;
  }
  std::fprintf(out, "%.6f %.6f %.6f %ld %d\n", wall, seconds(ru.ru_utime), seconds(ru.ru_stime),
               ru.ru_maxrss, status);
  std::fclose(out);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
