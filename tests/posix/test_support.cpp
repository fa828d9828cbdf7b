// The shared test helpers on POSIX.
#include "tests/test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace brevlith::testing {

ScopedTempDir::ScopedTempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/brevlith-test-XXXXXX";
  if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
  previous_ = std::filesystem::current_path().string();
  std::filesystem::current_path(path_);
}

ScopedTempDir::~ScopedTempDir() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
  // Tests may leave read-only folders behind; make them writable first.
  for (auto it = std::filesystem::recursive_directory_iterator(
           path_, std::filesystem::directory_options::skip_permission_denied, ignored);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored) && !it->is_symlink(ignored)) ::chmod(it->path().c_str(), 0755);
  }
  ::chmod(path_.c_str(), 0755);
  std::filesystem::remove_all(path_, ignored);
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing " + path + ">";
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> list_dir(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(path.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

const std::vector<std::string>& launcher() {
  static const std::vector<std::string> words = [] {
    std::vector<std::string> split;
    std::istringstream in(std::getenv("BREVLITH_LAUNCHER") ? std::getenv("BREVLITH_LAUNCHER") : "");
    for (std::string word; in >> word;) split.push_back(word);
    return split;
  }();
  return words;
}

}  // namespace

const std::string& native_brevlith_binary() {
  static const std::string path = BREVLITH_BINARY;
  return path;
}

const std::string& brevlith_binary() {
  return launcher().empty() ? native_brevlith_binary() : launcher().back();
}

bool windows_host() {
  const std::string& b = brevlith_binary();
  return b.size() >= 4 && b.compare(b.size() - 4, 4, ".exe") == 0;
}

RunResult run_program(const std::vector<std::string>& argv, const RunOptions& options) {
  int in_pipe[2], out_pipe[2], err_pipe[2];
  // Close-on-exec: a run started from another thread must not hold these open.
  if (::pipe2(in_pipe, O_CLOEXEC) || ::pipe2(out_pipe, O_CLOEXEC) || ::pipe2(err_pipe, O_CLOEXEC))
    throw std::runtime_error("pipe");
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in_pipe[0], 0);
    if (!options.stdout_path.empty()) {
      const int fd = ::open(options.stdout_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(fd, 1);
      ::close(fd);
    } else {
      ::dup2(out_pipe[1], 1);
    }
    ::dup2(err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]})
      ::close(fd);
    if (options.in_child) options.in_child();
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    ::execvp(args[0], args.data());
    ::_exit(127);
  }
  ::close(in_pipe[0]);
  ::close(out_pipe[1]);
  ::close(err_pipe[1]);
  ::signal(SIGPIPE, SIG_IGN);
  if (!options.stdin_bytes.empty())
    (void)!::write(in_pipe[1], options.stdin_bytes.data(), options.stdin_bytes.size());
  ::close(in_pipe[1]);

  RunResult result;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(options.timeout_seconds);
  pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
  int open_count = 2;
  while (open_count > 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      ::kill(pid, SIGKILL);
      break;
    }
    if (::poll(fds, 2, static_cast<int>(left.count())) <= 0) continue;
    for (pollfd& p : fds) {
      if (p.fd < 0 || !(p.revents & (POLLIN | POLLHUP))) continue;
      char buffer[65536];
      const ssize_t got = ::read(p.fd, buffer, sizeof buffer);
      if (got <= 0) {
        ::close(p.fd);
        p.fd = -1;
        --open_count;
      } else {
        (p.fd == out_pipe[0] ? result.out : result.err).append(buffer, static_cast<size_t>(got));
      }
    }
  }
  for (pollfd& p : fds)
    if (p.fd >= 0) ::close(p.fd);
  int status = 0;
  ::waitpid(pid, &status, 0);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

RunResult run_brevlith(const std::vector<std::string>& args, const RunOptions& options) {
  std::vector<std::string> argv =
      launcher().empty() ? std::vector<std::string>{native_brevlith_binary()} : launcher();
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv, options);
}

ChildResult run_in_child(const std::function<int()>& body, ChildOutput output) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (output == ChildOutput::stdout_closed)
      ::close(1);
    else
      ::dup2(fds[1], 1);
    if (output == ChildOutput::stdout_and_stderr) ::dup2(fds[1], 2);
    ::close(fds[0]);
    ::close(fds[1]);
    ::_exit(body());
  }
  ::close(fds[1]);
  ChildResult r;
  char buffer[4096];
  for (ssize_t got; (got = ::read(fds[0], buffer, sizeof buffer)) > 0;)
    r.out.append(buffer, static_cast<size_t>(got));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

LockHolder::LockHolder(const std::string& path) {
  int ready[2];
  if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release_, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe");
  pid_ = ::fork();
  if (pid_ == 0) {
    ::close(ready[0]);
    ::close(release_[1]);
    const int fd = ::open(path.c_str(), O_RDONLY);
    const char ok = fd >= 0 && ::flock(fd, LOCK_EX) == 0 ? '1' : '0';
    (void)!::write(ready[1], &ok, 1);
    char c;
    (void)!::read(release_[0], &c, 1);  // until the parent closes its end
    ::_exit(0);
  }
  ::close(ready[1]);
  ::close(release_[0]);
  char ok = '0';
  (void)!::read(ready[0], &ok, 1);
  ::close(ready[0]);
  if (ok != '1') throw std::runtime_error("cannot lock " + path);
}

LockHolder::~LockHolder() {
  ::close(release_[1]);
  ::waitpid(pid_, nullptr, 0);
}

LiveRun::LiveRun(const std::vector<std::string>& args, const LiveOptions& options) {
  int in_pipe[2], out_pipe[2], err_pipe[2];
  if (::pipe(in_pipe) || ::pipe(out_pipe) || ::pipe(err_pipe)) throw std::runtime_error("pipe");
  // Filled in advance to leave 1 KiB free, so that a run waits after a few
  // hundred messages; finish() drops the filling.
  ::fcntl(out_pipe[0], F_SETPIPE_SZ, 4096);
  filling_ = static_cast<size_t>(::fcntl(out_pipe[0], F_GETPIPE_SZ)) - 1024;
  if (::write(out_pipe[1], std::string(filling_, '#').data(), filling_) !=
      static_cast<ssize_t>(filling_))
    throw std::runtime_error("cannot fill the pipe");
  int slave = -1;
  if (options.stdin_on_terminal && ::openpty(&terminal_, &slave, nullptr, nullptr, nullptr) != 0)
    throw std::runtime_error("openpty");
  std::fflush(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    if (slave >= 0) {
      ::setsid();
      ::ioctl(slave, TIOCSCTTY, 0);
      ::dup2(slave, 0);
    } else {
      ::dup2(in_pipe[0], 0);
    }
    ::dup2(out_pipe[1], 1);
    if (options.stdout_non_blocking) ::fcntl(1, F_SETFL, ::fcntl(1, F_GETFL) | O_NONBLOCK);
    ::dup2(err_pipe[1], 2);
    for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1],
                   slave, terminal_})
      if (fd >= 0) ::close(fd);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::signal(sig, SIG_DFL);
    if (options.in_child) options.in_child();
    std::vector<char*> argv{const_cast<char*>(native_brevlith_binary().c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  for (int fd : {in_pipe[0], in_pipe[1], out_pipe[1], err_pipe[1], slave})
    if (fd >= 0) ::close(fd);
  out_ = out_pipe[0];
  err_ = err_pipe[0];
}

LiveRun::~LiveRun() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  for (int fd : {out_, err_, terminal_})
    if (fd >= 0) ::close(fd);
}

bool LiveRun::wait_until_output_full(int timeout_seconds) {
  const int capacity = ::fcntl(out_, F_GETPIPE_SZ);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  // Marks come in blocks, and a block that does not fit leaves the pipe not
  // quite full: the run is then seen waiting in write(1, ...) or in poll
  // (x86-64 numbers), three looks in a row.
  const std::string call = "/proc/" + std::to_string(pid_) + "/syscall";
  for (int held = 0, waiting = 0; std::chrono::steady_clock::now() < deadline; ::usleep(2000)) {
    if (::ioctl(out_, FIONREAD, &held) == 0 && held >= capacity) return true;
    const std::string now = read_file(call);
    waiting = now.starts_with("1 0x1 ") || now.starts_with("7 ") || now.starts_with("271 ")
                  ? waiting + 1
                  : 0;
    if (waiting == 3) return true;
  }
  return false;
}

bool LiveRun::wait_for_output(const std::string& text, int timeout_seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  while (out_read_.find(text) == std::string::npos) {
    pollfd p{out_, POLLIN, 0};
    if (std::chrono::steady_clock::now() > deadline) return false;
    if (::poll(&p, 1, 100) <= 0) continue;
    char buffer[4096];
    const ssize_t got = ::read(out_, buffer, sizeof buffer);
    if (got <= 0) return false;
    out_read_.append(buffer, static_cast<size_t>(got));
  }
  return true;
}

void LiveRun::send(int signal_number) { ::kill(pid_, signal_number); }

RunResult LiveRun::finish(int timeout_seconds) {
  RunResult result;
  result.out = std::exchange(out_read_, {});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeout_seconds);
  pollfd fds[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
  for (int open_count = 2; open_count > 0 && std::chrono::steady_clock::now() < deadline;) {
    if (::poll(fds, 2, 100) <= 0) continue;
    for (pollfd& p : fds) {
      if (p.fd < 0 || !(p.revents & (POLLIN | POLLHUP))) continue;
      char buffer[65536];
      const ssize_t got = ::read(p.fd, buffer, sizeof buffer);
      if (got <= 0) {
        p.fd = -1;
        --open_count;
      } else {
        (p.fd == out_ ? result.out : result.err).append(buffer, static_cast<size_t>(got));
      }
    }
  }
  if (std::chrono::steady_clock::now() >= deadline) ::kill(pid_, SIGKILL);
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out.erase(0, filling_);
  return result;
}

}  // namespace brevlith::testing
