// Writes a deterministic, realistic-looking mailbox for the benchmark: each
// message opens with a "From ???@??? Mon Jan 01 00:00:00 2024" line, has the
// usual header fields, a blank line and a body of text, quotes, long lines and
// sometimes a base64 attachment. Lines end in CR LF, some bytes are above 127,
// and no body line starts with "From " so that every mbox tool splits where
// brevlith does.
//
//   gen_mbox --out FILE --size BYTES --messages N [--seed S] [--spread SIGMA]
//            [--terms-out FILE --terms N]
//
// Message sizes follow a log-normal spread (SIGMA 0 gives equal sizes) scaled
// so that the total comes within a line or so of BYTES.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

// xoshiro256** seeded through splitmix64: fast and the same on every host,
// unlike the std:: distributions.
class Rng {
 public:
  explicit Rng(uint64_t seed) {
    for (auto& word : s_) {
      seed += 0x9e3779b97f4a7c15ULL;
      uint64_t z = seed;
      z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
      z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
      word = z ^ (z >> 31);
    }
  }
  uint64_t next() {
    const uint64_t result = rotl(s_[1] * 5, 7) * 9;
    const uint64_t t = s_[1] << 17;
    s_[2] ^= s_[0];
    s_[3] ^= s_[1];
    s_[1] ^= s_[2];
    s_[0] ^= s_[3];
    s_[2] ^= t;
    s_[3] = rotl(s_[3], 45);
    return result;
  }
  // Uniform in [0, n).
  uint64_t below(uint64_t n) { return static_cast<uint64_t>((static_cast<__uint128_t>(next()) * n) >> 64); }
  uint64_t range(uint64_t lo, uint64_t hi) { return lo + below(hi - lo + 1); }
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  bool chance(double p) { return unit() < p; }
  double normal() {
    const double u1 = 1.0 - unit();
    const double u2 = unit();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
  }

 private:
  static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
  uint64_t s_[4];
};

// Common words, roughly in order of frequency; the generator favours the
// front of the list.
const char* const kCommon[] = {
    "the", "to", "and", "of", "a", "in", "is", "that", "for", "it", "you", "on", "with", "we",
    "this", "be", "are", "have", "not", "will", "as", "at", "or", "can", "but", "if", "your",
    "all", "by", "was", "so", "they", "from", "an", "our", "do", "there", "about", "one",
    "would", "what", "which", "me", "up", "out", "more", "when", "just", "some", "time", "also",
    "get", "has", "like", "any", "know", "been", "them", "other", "could", "new", "think",
    "please", "thanks", "these", "only", "than", "then", "now", "next", "week", "should",
    "see", "work", "good", "need", "people", "because", "first", "want", "way", "still",
    "back", "well", "make", "here", "much", "before", "day", "send", "sent", "file", "list",
    "group", "report", "question", "number", "point", "problem", "change", "order", "copy",
    "office", "phone", "money", "price", "letter", "account", "project", "system", "message",
    "address", "review", "draft", "attached", "schedule", "budget", "minutes",
    "tomorrow", "friday", "monday", "board", "member", "members", "church",
    "school", "family", "weekend", "holiday", "dinner", "travel", "flight", "hotel", "ticket",
    "payment", "contract", "client", "customer", "server", "network", "printer",
    "software", "version", "update", "install", "computer", "database", "backup", "password",
    "mailbox", "newsletter", "committee", "conference", "proposal",
    "quarter", "summary", "figures", "estimate", "shipping", "delivery",
    "inventory", "quality", "training", "manual", "library", "garden", "recipe", "birthday",
    "wedding", "photos", "camera", "weather", "snow", "rain", "summer", "winter", "spring",
};

// Real words as frequent as one pseudo-word each: present in a few percent
// of messages, like a typical search. "meeting" is the benchmark's single term.
const char* const kSearched[] = {"meeting", "invoice", "deadline", "warehouse", "volunteer",
                                 "agenda"};

// Words with bytes above 127, written in UTF-8; messages marked ISO-8859-1
// get the Latin-1 form.
const char* const kAccented[] = {
    "café",    "naïve",  "über",   "Straße", "façade",  "résumé",  "Müller", "Zürich",
    "crème",   "déjà",   "señor",  "año",    "Málaga",  "København", "Øresund", "Ångström",
    "garçon",  "fiancée", "Gödel", "Brontë", "piñata",  "coöperate", "élan", "São",
};
const char* const kSymbols[] = {"—", "€", "“", "”", "…", "–", "£", "°", "©", "½"};

const char* const kFirst[] = {
    "Alice", "Bob", "Carol", "David", "Erin", "Frank", "Grace", "Heidi", "Ivan", "Judy",
    "Karl", "Laura", "Mallory", "Nina", "Oscar", "Peggy", "Rupert", "Sybil", "Trent", "Ursula",
    "Victor", "Walter", "Yvonne", "Zoe", "Anna", "Ben", "Clara", "Dieter", "Elena", "Felix",
    "José", "Renée", "Søren", "Françoise", "Jürgen", "Inés",
};
const char* const kLast[] = {
    "Smith", "Jones", "Brown", "Taylor", "Wilson", "Davies", "Evans", "Thomas", "Johnson",
    "Roberts", "Walker", "Wright", "Robinson", "Thompson", "White", "Hughes", "Edwards",
    "Green", "Hall", "Wood", "Harris", "Lewis", "Martin", "Jackson", "Clarke", "Clark",
    "Turner", "Hill", "Scott", "Cooper", "Müller", "García", "Lefèvre", "Østergaard",
};
const char* const kDomains[] = {
    "example.com", "example.org", "example.net", "mail.example.com", "corp.example.com",
    "uni.example.edu", "post.example.de", "isp.example.co.uk", "lists.example.org",
    "home.example.net", "office.example.fr", "shop.example.com",
};
const char* const kMailers[] = {
    "Mutt/1.2.5i", "Mozilla/5.0 (Windows; U; Win98; en-US; rv:0.9.4) Gecko/20011019",
    "Microsoft Outlook Express 5.50.4133.2400", "Mozilla 4.76 [en] (Win98; U)",
    "Pegasus Mail for Windows (v3.12c)", "The Bat! (v1.53d)",
};
const char* const kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};  // from 1970-01-01
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

template <typename T, size_t N>
constexpr size_t count_of(T (&)[N]) {
  return N;
}

std::string to_latin1(std::string_view utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if ((c & 0xe0) == 0xc0 && i + 1 < utf8.size()) {
      const unsigned cp = ((c & 0x1fu) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3fu);
      out += cp < 0x100 ? static_cast<char>(cp) : '?';
    } else {  // three-byte symbols have no Latin-1 form; windows-1252 mail used '?' or similar
      while (i + 1 < utf8.size() && (static_cast<unsigned char>(utf8[i + 1]) & 0xc0) == 0x80) ++i;
      out += '?';
    }
  }
  return out;
}

// Pseudo-words from a fixed alphabet without q, x, y, z, so that terms made
// with "zq" can never occur in the generated text.
std::string pseudo_word(Rng& rng, int syllables) {
  static const char kCons[] = "bcdfghjklmnprstvw";
  static const char kVow[] = "aeiou";
  std::string w;
  for (int i = 0; i < syllables; ++i) {
    w += kCons[rng.below(sizeof kCons - 1)];
    w += kVow[rng.below(sizeof kVow - 1)];
    if (rng.chance(0.25)) w += kCons[rng.below(sizeof kCons - 1)];
  }
  return w;
}

// The vocabulary is fixed whatever the seed, so the term file always names
// the same words.
struct Vocabulary {
  std::vector<std::string> common, pseudo, rare;
  std::vector<std::string> accented_utf8, accented_latin1, symbols_utf8, symbols_latin1;
  std::vector<std::string> first_utf8, first_latin1, last_utf8, last_latin1;

  Vocabulary() {
    Rng rng(0x5eed);
    for (const char* w : kCommon) common.emplace_back(w);
    std::set<std::string> seen(common.begin(), common.end());
    for (const char* w : kSearched) {
      pseudo.emplace_back(w);
      seen.insert(w);
    }
    while (pseudo.size() < 3000) {
      std::string w = pseudo_word(rng, static_cast<int>(rng.range(1, 3)));
      if (w.size() >= 3 && seen.insert(w).second) pseudo.push_back(w);
    }
    while (rare.size() < 20000) {
      std::string w = pseudo_word(rng, static_cast<int>(rng.range(3, 5)));
      if (seen.insert(w).second) rare.push_back(w);
    }
    for (const char* w : kAccented) {
      accented_utf8.emplace_back(w);
      accented_latin1.push_back(to_latin1(w));
    }
    for (const char* w : kSymbols) {
      symbols_utf8.emplace_back(w);
      symbols_latin1.push_back(to_latin1(w));
    }
    for (const char* w : kFirst) {
      first_utf8.emplace_back(w);
      first_latin1.push_back(to_latin1(w));
    }
    for (const char* w : kLast) {
      last_utf8.emplace_back(w);
      last_latin1.push_back(to_latin1(w));
    }
  }
};

std::string lower_ascii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Buffered writer that also counts what it has written.
class Sink {
 public:
  explicit Sink(FILE* f) : f_(f) { buf_.reserve(kFlushAt + 65536); }
  ~Sink() { flush(); }
  void put(std::string_view s) {
    buf_.append(s);
    total_ += s.size();
    if (buf_.size() >= kFlushAt) flush();
  }
  void put(char c) {
    buf_ += c;
    ++total_;
  }
  void flush() {
    if (!buf_.empty() && std::fwrite(buf_.data(), 1, buf_.size(), f_) != buf_.size()) {
      std::perror("gen_mbox: write");
      std::exit(1);
    }
    buf_.clear();
  }
  uint64_t total() const { return total_; }

 private:
  static constexpr size_t kFlushAt = 4 << 20;
  FILE* f_;
  std::string buf_;
  uint64_t total_ = 0;
};

class Generator {
 public:
  Generator(const Vocabulary& v, uint64_t seed, Sink& out) : v_(v), rng_(seed), out_(out) {}

  // Writes one message of roughly `target` bytes (at least its header).
  void message(uint64_t target) {
    const uint64_t start = out_.total();
    latin1_ = rng_.chance(0.4);
    clock_ += rng_.range(30, 7200);
    // Short messages keep to the fields every message has, so that tens of
    // thousands of 250-byte notes are possible.
    const bool small = target < 1200;
    compact_ = target < 600;
    const bool attach = target > 40000 && rng_.chance(target > 1000000 ? 0.9 : 0.5);
    const std::string boundary = "=====" + hex(rng_.next()) + "==_";
    const std::string from = person();
    const std::string to = person();

    out_.put("From ???@??? ");
    out_.put(ctime_style(clock_));
    crlf();
    if (!small) {
      for (int i = static_cast<int>(rng_.range(1, 3)); i > 0; --i) received();
    }
    line("Date: " + rfc822_date(clock_));
    line("From: " + from);
    line("To: " + to);
    if (!small && rng_.chance(0.3)) line("Cc: " + person() + ", " + person());
    line("Subject: " + subject());
    line("Message-ID: <" + hex(rng_.next()) + (compact_ ? "" : "." + hex(rng_.below(1u << 20))) +
         "@" + pick(kDomains) + ">");
    if (!small) {
      if (rng_.chance(0.4)) {
        const std::string ref = "<" + hex(rng_.next()) + "@" + pick(kDomains) + ">";
        line("In-Reply-To: " + ref);
        out_.put("References: " + ref);
        for (int i = static_cast<int>(rng_.range(0, 3)); i > 0; --i) {
          out_.put("\r\n\t<" + hex(rng_.next()) + "@" + pick(kDomains) + ">");
        }
        crlf();
      }
      line(std::string("X-Mailer: ") + pick(kMailers));
      line("MIME-Version: 1.0");
      if (attach) {
        line("Content-Type: multipart/mixed;\r\n\tboundary=\"" + boundary + "\"");
      } else {
        line(std::string("Content-Type: text/plain; charset=\"") +
             (latin1_ ? "iso-8859-1" : "utf-8") + "\"");
        line("Content-Transfer-Encoding: 8bit");
      }
    }
    crlf();

    if (attach) {
      const uint64_t header_end = out_.total() - start;
      const uint64_t text = std::min<uint64_t>(8000, (target - header_end) / 10);
      line("This is a multi-part message in MIME format.");
      crlf();
      line("--" + boundary);
      line(std::string("Content-Type: text/plain; charset=\"") +
           (latin1_ ? "iso-8859-1" : "utf-8") + "\"");
      crlf();
      body(start + header_end + text);
      crlf();
      line("--" + boundary);
      const std::string name = v_.rare[rng_.below(v_.rare.size())] + (rng_.chance(0.5) ? ".pdf" : ".zip");
      line("Content-Type: application/octet-stream; name=\"" + name + "\"");
      line("Content-Transfer-Encoding: base64");
      line("Content-Disposition: attachment; filename=\"" + name + "\"");
      crlf();
      const uint64_t closing = boundary.size() + 6;
      while (out_.total() - start + 78 + closing < target) base64_line(76);
      line("--" + boundary + "--");
    } else {
      body(start + target);
    }
  }

 private:
  template <size_t N>
  const char* pick(const char* const (&list)[N]) {
    return list[rng_.below(N)];
  }
  void crlf() { out_.put("\r\n"); }
  void line(std::string_view s) {
    out_.put(s);
    crlf();
  }

  static std::string hex(uint64_t x) {
    char b[24];
    std::snprintf(b, sizeof b, "%llx", static_cast<unsigned long long>(x));
    return b;
  }

  // Civil date from days since 1970-01-01 (Howard Hinnant's algorithm).
  static void civil(int64_t days, int& y, int& m, int& d) {
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2));
  }

  static std::string ctime_style(int64_t t) {
    int y, m, d;
    const int64_t days = t / 86400, sec = t % 86400;
    civil(days, y, m, d);
    char b[64];
    std::snprintf(b, sizeof b, "%s %s %02d %02d:%02d:%02d %d", kDays[days % 7], kMonths[m - 1], d,
                  static_cast<int>(sec / 3600), static_cast<int>(sec / 60 % 60),
                  static_cast<int>(sec % 60), y);
    return b;
  }

  static std::string rfc822_date(int64_t t) {
    int y, m, d;
    const int64_t days = t / 86400, sec = t % 86400;
    civil(days, y, m, d);
    char b[64];
    std::snprintf(b, sizeof b, "%s, %d %s %d %02d:%02d:%02d +0100", kDays[days % 7], d,
                  kMonths[m - 1], y, static_cast<int>(sec / 3600), static_cast<int>(sec / 60 % 60),
                  static_cast<int>(sec % 60));
    return b;
  }

  const std::string& first_name() {
    const auto& names = latin1_ ? v_.first_latin1 : v_.first_utf8;
    return names[rng_.below(names.size())];
  }
  const std::string& last_name() {
    const auto& names = latin1_ ? v_.last_latin1 : v_.last_utf8;
    return names[rng_.below(names.size())];
  }

  std::string person() {
    std::string local = lower_ascii(std::string(kFirst[rng_.below(25)])) + "." +
                        lower_ascii(std::string(kLast[rng_.below(30)]));
    std::string addr = local + "@" + pick(kDomains);
    if (compact_ || rng_.chance(0.2)) return addr;
    return "\"" + first_name() + " " + last_name() + "\" <" + addr + ">";
  }

  void received() {
    out_.put("Received: from ");
    out_.put(pick(kDomains));
    out_.put(" (" + std::to_string(rng_.range(10, 223)) + "." + std::to_string(rng_.below(256)) +
             "." + std::to_string(rng_.below(256)) + "." + std::to_string(rng_.below(256)) + ")");
    out_.put("\r\n\tby ");
    out_.put(pick(kDomains));
    out_.put(" with SMTP id " + hex(rng_.next()));
    out_.put(";\r\n\t" + rfc822_date(clock_));
    crlf();
  }

  // A word picked with a skew towards common words; rare words come up a
  // few times per 100 MB, which keeps search hits for them small.
  std::string_view word() {
    const double u = rng_.unit();
    if (u < 0.70) {
      const double r = rng_.unit();
      return v_.common[static_cast<size_t>(r * r * r * static_cast<double>(v_.common.size()))];
    }
    if (u < 0.985) return v_.pseudo[rng_.below(v_.pseudo.size())];
    if (u < 0.995) return v_.rare[rng_.below(v_.rare.size())];
    if (u < 0.9985) {
      const auto& list = latin1_ ? v_.accented_latin1 : v_.accented_utf8;
      return list[rng_.below(list.size())];
    }
    const auto& list = latin1_ ? v_.symbols_latin1 : v_.symbols_utf8;
    return list[rng_.below(list.size())];
  }

  std::string subject() {
    std::string s = rng_.chance(0.3) ? "Re: " : (rng_.chance(0.1) ? "Fwd: " : "");
    const int n = static_cast<int>(rng_.range(1, compact_ ? 2 : 6));
    for (int i = 0; i < n; ++i) {
      if (i) s += ' ';
      std::string w(word());
      if (i == 0 && !w.empty() && w[0] >= 'a' && w[0] <= 'z') w[0] = static_cast<char>(w[0] - 32);
      s += w;
    }
    return s;
  }

  // Emits a body line; mbox writers quote a leading "From " and so do we, so
  // that no body line can be taken for a message start.
  void body_line(std::string_view s) {
    if (s.substr(0, 5) == "From ") out_.put('>');
    line(s);
  }

  // Text until the running total reaches `end` (at least one line).
  void body(uint64_t end) {
    if (out_.total() + 80 > end) {  // room for one short line only
      std::string cur;
      do {
        if (!cur.empty()) cur += ' ';
        cur += word();
      } while (out_.total() + cur.size() + 3 < end);
      if (cur[0] >= 'a' && cur[0] <= 'z') cur[0] = static_cast<char>(cur[0] - 32);
      body_line(cur + ".");
      return;
    }
    if (rng_.chance(0.6)) {
      body_line(std::string(rng_.chance(0.5) ? "Hi " : "Dear ") + first_name() + ",");
      if (out_.total() < end) crlf();
    }
    bool first = true;
    while (first || out_.total() < end) {
      const uint64_t kind = rng_.below(100);
      if (kind < 60) {
        paragraph(end, "", rng_.range(50, 78));
      } else if (kind < 75) {
        body_line("On " + rfc822_date(clock_ - static_cast<int64_t>(rng_.range(3600, 864000))) +
                  ", " + first_name() + " wrote:");
        paragraph(end, rng_.chance(0.7) ? "> " : "> > ", rng_.range(60, 72));
      } else if (kind < 85) {
        paragraph(end, "", rng_.range(200, 2000));  // unwrapped, as from a webmail client
      } else if (kind < 92) {
        for (int i = static_cast<int>(rng_.range(2, 6)); i > 0 && out_.total() < end; --i) {
          std::string item = rng_.chance(0.5) ? "- " : std::to_string(i) + ". ";
          for (int j = static_cast<int>(rng_.range(2, 8)); j > 0; --j) {
            item += word();
            item += ' ';
          }
          item.pop_back();
          body_line(item);
        }
      } else if (kind < 96) {
        body_line(std::string(rng_.range(10, 70), rng_.chance(0.5) ? '-' : '='));
      } else {
        body_line("-- ");
        body_line(first_name() + " " + last_name());
        body_line(std::string("Tel. +44 20 7946 ") + std::to_string(rng_.range(1000, 9999)));
      }
      first = false;
      if (out_.total() < end) crlf();
    }
  }

  // Sentences wrapped at `width`; the paragraph stops early at `end`.
  void paragraph(uint64_t end, std::string_view prefix, uint64_t width) {
    std::string cur(prefix);
    bool sentence_start = true;
    const int words = static_cast<int>(rng_.range(8, 120));
    for (int i = 0; i < words; ++i) {
      std::string_view w = word();
      const size_t need = w.size() + 2;
      if (cur.size() > prefix.size() && cur.size() + need > width) {
        body_line(cur);
        cur.assign(prefix);
        if (out_.total() >= end) return;
      }
      if (cur.size() > prefix.size()) cur += ' ';
      const size_t at = cur.size();
      cur += w;
      if (sentence_start && cur[at] >= 'a' && cur[at] <= 'z') cur[at] = static_cast<char>(cur[at] - 32);
      sentence_start = false;
      if (rng_.chance(0.08) && i + 1 < words) {
        cur += rng_.chance(0.85) ? '.' : (rng_.chance(0.5) ? '?' : '!');
        sentence_start = true;
      } else if (rng_.chance(0.05) && i + 1 < words) {
        cur += ',';
      }
    }
    if (cur.size() > prefix.size()) {
      if (!sentence_start) cur += '.';
      body_line(cur);
    }
  }

  void base64_line(size_t n) {
    char b[128];
    size_t i = 0;
    while (i < n) {
      uint64_t r = rng_.next();
      for (int k = 0; k < 10 && i < n; ++k, r >>= 6) b[i++] = kBase64[r & 63];
    }
    b[i++] = '\r';
    b[i++] = '\n';
    out_.put(std::string_view(b, i));
  }

  const Vocabulary& v_;
  Rng rng_;
  Sink& out_;
  bool latin1_ = false;
  bool compact_ = false;
  int64_t clock_ = 1704067200;  // 2024-01-01 00:00:00
};

// One term per line (CR LF): mostly rare words that occur a few times, some
// prefixes of them, a few common words, and words with "zq" that never occur.
void write_terms(const Vocabulary& v, const char* path, size_t count) {
  Rng rng(0x7e4d5);
  std::vector<std::string> terms;
  std::set<std::string> seen;
  auto add = [&](const std::string& t) {
    if (terms.size() < count && t.size() >= 3 && seen.insert(t).second) terms.push_back(t);
  };
  for (const char* w : kSearched) add(w);
  const size_t occurring = count * 2 / 5, prefixes = count * 3 / 20, absent = count * 2 / 5;
  std::vector<std::string> picked;
  while (picked.size() < occurring) {
    const std::string& w = v.rare[rng.below(v.rare.size())];
    if (!seen.count(w)) {
      add(w);
      picked.push_back(w);
    }
  }
  for (size_t i = 0; i < prefixes; ++i) {
    const std::string& w = picked[rng.below(picked.size())];
    add(w.substr(0, rng.range(6, w.size() - 1 > 6 ? w.size() - 1 : 6)));
  }
  std::vector<std::string> missing;
  while (missing.size() < absent) {
    std::string t = "zq" + pseudo_word(rng, static_cast<int>(rng.range(3, 4)));
    if (t.size() >= 8 && !seen.count(t)) {
      add(t);
      missing.push_back(t);
      if (rng.chance(0.3)) {  // a longer word that the previous one is a prefix of
        std::string longer = t + pseudo_word(rng, 1);
        add(longer);
      }
    }
  }
  while (terms.size() < count) add(v.rare[rng.below(v.rare.size())] + "ing");
  FILE* f = std::fopen(path, "wb");
  if (!f) {
    std::perror(path);
    std::exit(1);
  }
  for (const auto& t : terms) std::fprintf(f, "%s\r\n", t.c_str());
  std::fclose(f);
}

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: gen_mbox --out FILE --size BYTES --messages N [--seed S] [--spread SIGMA]\n"
               "                [--terms-out FILE --terms N]\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  const char* out_path = nullptr;
  const char* terms_path = nullptr;
  uint64_t size = 0, messages = 0, seed = 1, terms = 1000;
  double spread = 0.8;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (i + 1 >= argc) usage();
    const char* v = argv[++i];
    if (a == "--out") out_path = v;
    else if (a == "--size") size = std::strtoull(v, nullptr, 10);
    else if (a == "--messages") messages = std::strtoull(v, nullptr, 10);
    else if (a == "--seed") seed = std::strtoull(v, nullptr, 10);
    else if (a == "--spread") spread = std::strtod(v, nullptr);
    else if (a == "--terms-out") terms_path = v;
    else if (a == "--terms") terms = std::strtoull(v, nullptr, 10);
    else usage();
  }
  const Vocabulary vocab;
  if (terms_path) write_terms(vocab, terms_path, terms);
  if (!out_path) {
    if (terms_path) return 0;
    usage();
  }
  if (messages == 0 || size == 0) usage();

  // Relative sizes first, so the whole mailbox can be scaled to `size`.
  Rng size_rng(seed ^ 0xa5a5a5a5ULL);
  std::vector<double> weight(messages);
  double sum = 0;
  for (auto& w : weight) sum += (w = std::exp(spread * size_rng.normal()));

  FILE* f = std::fopen(out_path, "wb");
  if (!f) {
    std::perror(out_path);
    return 1;
  }
  {
    Sink sink(f);
    Generator gen(vocab, seed, sink);
    double wanted = 0;
    for (uint64_t i = 0; i < messages; ++i) {
      // Aim at the running total so that overshoots do not add up.
      wanted += weight[i] / sum * static_cast<double>(size);
      const double left = wanted - static_cast<double>(sink.total());
      gen.message(left > 0 ? static_cast<uint64_t>(left) : 0);
    }
    std::printf("%llu messages, %llu bytes\n", static_cast<unsigned long long>(messages),
                static_cast<unsigned long long>(sink.total()));
  }
  if (std::fclose(f) != 0) {
    std::perror(out_path);
    return 1;
  }
  return 0;
}
