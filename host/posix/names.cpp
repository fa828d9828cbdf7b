#include <sys/stat.h>

#include "host/posix/posix.h"
#include "host/utf8.h"

namespace host::posix {

bool to_path(const Wide& name, std::string& path) {
  // A name is nearly always ASCII without NUL, and every message file's
  // name comes through here: one pass checks, converts and turns "\".
  path.resize(name.size());
  const char16_t* in = name.data();
  char* out = path.data();
  const size_t n = name.size();
  size_t ascii = 0;
  for (; ascii < n && in[ascii] < 0x80 && in[ascii] != 0; ++ascii)
    out[ascii] = in[ascii] == u'\\' ? '/' : static_cast<char>(in[ascii]);
  if (ascii == n) return true;
  if (name.find(u'\0') != Wide::npos) return fail(win32::invalid_name);
  path = wide_to_utf8(name);
  for (char& c : path)
    if (c == '\\') c = '/';
  return true;
}

uint32_t missing_error(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return win32::file_not_found;
  struct stat st;
  const std::string parent = path.substr(0, slash);
  if (::stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return win32::path_not_found;
  return win32::file_not_found;
}

}  // namespace host::posix
