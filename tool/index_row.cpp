#include "tool/index_row.h"

#include <array>
#include <optional>

namespace brevlith {
namespace {

bool starts_ignoring_case(std::string_view text, std::string_view start) {
  if (text.size() < start.size()) return false;
  for (size_t i = 0; i < start.size(); ++i)
    if (ascii_fold[static_cast<unsigned char>(text[i])] !=
        ascii_fold[static_cast<unsigned char>(start[i])])
      return false;
  return true;
}

// The line at `at` without its line end, and where the next one starts.
std::string_view line_at(std::string_view m, size_t at, size_t& next) {
  size_t end = m.find('\n', at);
  next = end == m.npos ? m.size() : end + 1;
  if (end == m.npos) end = m.size();
  if (end > at && m[end - 1] == '\r') --end;
  return m.substr(at, end - at);
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(ascii_fold[static_cast<unsigned char>(c)]);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

int base64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  return c == '+' ? 62 : c == '/' ? 63 : -1;
}

bool decode_q(std::string_view text, std::string& out) {
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '_') {
      out += ' ';
    } else if (text[i] != '=') {
      out += text[i];
    } else {
      if (i + 2 >= text.size()) return false;
      const int high = hex_value(text[i + 1]), low = hex_value(text[i + 2]);
      if (high < 0 || low < 0) return false;
      out += static_cast<char>(high << 4 | low);
      i += 2;
    }
  }
  return true;
}

bool decode_b(std::string_view text, std::string& out) {
  while (!text.empty() && text.back() == '=') text.remove_suffix(1);
  uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    const int v = base64_value(c);
    if (v < 0) return false;
    bits = bits << 6 | static_cast<uint32_t>(v);
    if ((count += 6) >= 8) {
      count -= 8;
      out += static_cast<char>(bits >> count & 0xFF);
    }
  }
  return true;
}

// The encoded word starting at `at` ("=?"): its bytes in `out`, its charset's
// encoding in `e`; the offset after it, or 0 when none is there.
size_t encoded_word(std::string_view v, size_t at, std::string& out, Encoding& e) {
  const size_t charset_end = v.find('?', at + 2);
  if (charset_end == v.npos || charset_end + 2 >= v.size() || v[charset_end + 2] != '?') return 0;
  const size_t text_end = v.find("?=", charset_end + 3);
  if (text_end == v.npos) return 0;
  std::string_view charset = v.substr(at + 2, charset_end - at - 2);
  charset = charset.substr(0, charset.find('*'));  // a language may follow
  const std::string_view text = v.substr(charset_end + 3, text_end - charset_end - 3);
  if (charset.empty() || text.find_first_of(" \t") != text.npos) return 0;
  const std::optional<Encoding> named =
      starts_ignoring_case(charset, "us-ascii") && charset.size() == 8 ? Encoding::utf8
                                                                       : encoding_named(charset);
  if (!named) return 0;
  e = *named;
  const char kind = static_cast<char>(ascii_fold[static_cast<unsigned char>(v[charset_end + 1])]);
  out.clear();
  if (!(kind == 'q' ? decode_q(text, out) : kind == 'b' && decode_b(text, out))) return 0;
  return text_end + 2;
}

bool blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string decoded_field(std::string_view value, Encoding e) {
  while (!value.empty() && blank(value.front())) value.remove_prefix(1);
  while (!value.empty() && blank(value.back())) value.remove_suffix(1);
  std::string out, word;
  size_t plain = 0;
  bool after_word = false;
  for (size_t at = value.find("=?"); at != value.npos; at = value.find("=?", at)) {
    Encoding word_encoding = e;
    const size_t end = encoded_word(value, at, word, word_encoding);
    if (end == 0) {
      at += 2;
      continue;
    }
    const std::string_view between = value.substr(plain, at - plain);
    if (!after_word || between.find_first_not_of(" \t") != between.npos)
      append_as_utf8(between, e, out);
    append_as_utf8(word, word_encoding, out);
    plain = at = end;
    after_word = true;
  }
  append_as_utf8(value.substr(plain), e, out);
  return out;
}

IndexHead index_head(std::string_view m) {
  IndexHead head;
  const Encoding e = message_encoding(m);
  constexpr std::array<std::string_view, 4> names = {"date:", "from:", "to:", "subject:"};
  const std::array<std::string*, 4> fields = {&head.date, &head.from, &head.to, &head.subject};
  std::array<bool, 4> seen{};
  bool in_head = true;
  for (size_t at = 0, next = 0; at < m.size(); at = next) {
    const std::string_view line = line_at(m, at, next);
    if (line.starts_with("Attachment Converted:") || line.starts_with("Attachment converted:") ||
        line.starts_with("Embedded Content:"))
      ++head.attachments;
    if (!in_head) continue;
    if (line.empty()) {
      in_head = false;
      continue;
    }
    for (size_t f = 0; f < names.size(); ++f) {
      if (seen[f] || !starts_ignoring_case(line, names[f])) continue;
      seen[f] = true;
      std::string value(line.substr(names[f].size()));
      // Continuation lines: the line end goes, the blank that starts them stays.
      for (size_t more = next; more < m.size() && blank(m[more]);) {
        const std::string_view folded = line_at(m, more, next);
        value.append(folded);
        more = next;
      }
      *fields[f] = decoded_field(value, e);
      break;
    }
  }
  return head;
}

void append_csv_field(std::string& row, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == field.npos) {
    row.append(field);
    return;
  }
  row += '"';
  for (const char c : field) {
    if (c == '"') row += '"';
    row += c;
  }
  row += '"';
}

std::string index_row(std::string_view file, std::string_view mailbox, int32_t message,
                      const IndexHead& head, uint64_t bytes) {
  std::string row;
  append_csv_field(row, file);
  row += ',';
  append_csv_field(row, mailbox);
  row.append(",").append(std::to_string(message));
  for (const std::string* field : {&head.date, &head.from, &head.to, &head.subject}) {
    row += ',';
    append_csv_field(row, *field);
  }
  row.append(",").append(std::to_string(head.attachments));
  row.append(",").append(std::to_string(bytes)).append("\r\n");
  return row;
}

}  // namespace brevlith
