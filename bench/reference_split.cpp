// The least work the split needs, as a yardstick for brevlith: read the
// mailbox in 1 MiB blocks, find the lines that start with "From ???@???",
// and write each message to OUTDIR/<stem>-0001.txt ... with one open, one
// write and one close. Lines end in CR or CR LF and are written back with
// CR LF; a message that already has only CR LF line ends (the usual case) is
// written straight from the read buffer.
//
//   reference_split IN.mbx OUTDIR
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr size_t kBlock = 1 << 20;
constexpr std::string_view kSeparator = "From ???@???";

[[noreturn]] void die(const std::string& what) {
  std::fprintf(stderr, "reference_split: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

void write_all(int fd, const char* p, size_t n, const std::string& name) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      die(name);
    }
    p += w;
    n -= static_cast<size_t>(w);
  }
}

// True when the bytes are already in the output form: every CR is followed
// by LF and the last line is terminated.
bool already_crlf(const char* p, size_t n) {
  if (n < 2 || p[n - 2] != '\r' || p[n - 1] != '\n') return false;
  const char* end = p + n;
  for (const char* cr = p; (cr = static_cast<const char*>(std::memchr(cr, '\r', end - cr)));) {
    if (cr + 1 == end || cr[1] != '\n') return false;
    cr += 2;
  }
  return true;
}

// Rewrites every line (ended by CR, CR LF or the end) with CR LF.
std::string to_crlf(const char* p, size_t n) {
  std::string out;
  out.reserve(n + n / 16 + 2);
  const char* end = p + n;
  while (p < end) {
    const char* cr = static_cast<const char*>(std::memchr(p, '\r', end - p));
    const char* stop = cr ? cr : end;
    out.append(p, stop);
    out += "\r\n";
    p = stop;
    if (cr) {
      ++p;
      if (p < end && *p == '\n') ++p;
    }
  }
  return out;
}

class Splitter {
 public:
  Splitter(std::string dir, std::string stem) : dir_(std::move(dir)), stem_(std::move(stem)) {}

  void emit(const char* p, size_t n) {
    char number[32];
    std::snprintf(number, sizeof number, "-%04u.txt", ++count_);
    const std::string name = dir_ + "/" + stem_ + number;
    const int fd = ::open(name.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) die(name);
    if (already_crlf(p, n)) {
      write_all(fd, p, n, name);
    } else {
      const std::string fixed = to_crlf(p, n);
      write_all(fd, fixed.data(), fixed.size(), name);
    }
    if (::close(fd) != 0) die(name);
  }
  unsigned count() const { return count_; }

 private:
  std::string dir_, stem_;
  unsigned count_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: reference_split IN.mbx OUTDIR\n");
    return 2;
  }
  const std::string in = argv[1];
  std::string stem = in.substr(in.find_last_of('/') + 1);
  if (const size_t dot = stem.find_last_of('.'); dot != std::string::npos && dot > 0) {
    stem.resize(dot);
  }
  if (::mkdir(argv[2], 0755) != 0 && errno != EEXIST) die(argv[2]);
  const int fd = ::open(in.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) die(in);

  Splitter out(argv[2], stem);
  // buf[start, len) holds the message being collected; separators are looked
  // for from `scan` on. The buffer grows only when one message outgrows it.
  size_t cap = 2 * kBlock, len = 0, start = 0, scan = 1;
  char* buf = static_cast<char*>(std::malloc(cap));
  if (!buf) die("malloc");
  for (;;) {
    if (cap - len < kBlock) {
      if (start > 0) {
        std::memmove(buf, buf + start, len - start);
        len -= start;
        scan -= start;
        start = 0;
      }
      if (cap - len < kBlock) {
        cap = 2 * cap;
        buf = static_cast<char*>(std::realloc(buf, cap));
        if (!buf) die("realloc");
      }
    }
    const ssize_t got = ::read(fd, buf + len, kBlock);
    if (got < 0) {
      if (errno == EINTR) continue;
      die(in);
    }
    if (got == 0) break;
    len += static_cast<size_t>(got);
    while (scan + kSeparator.size() <= len) {
      const void* hit = memmem(buf + scan, len - scan, kSeparator.data(), kSeparator.size());
      if (!hit) {
        scan = len - kSeparator.size() + 1;  // a separator may straddle the next read
        break;
      }
      const size_t at = static_cast<const char*>(hit) - buf;
      // A line starts after CR, or after LF that follows CR; a bare LF is
      // part of the line. buf[start] is the message's first byte, so
      // at - 2 >= start - 1 never reaches before the buffer when at > start.
      const bool line_start =
          buf[at - 1] == '\r' || (buf[at - 1] == '\n' && at >= 2 && buf[at - 2] == '\r');
      if (line_start) {
        out.emit(buf + start, at - start);
        start = at;
      }
      scan = at + 1;
    }
  }
  if (len > start) out.emit(buf + start, len - start);
  ::close(fd);
  std::printf("%u messages\n", out.count());
  return 0;
}
