#include <sys/stat.h>

#include "host/posix/posix.h"
#include "host/utf8.h"

namespace host::posix {

bool to_path(const Wide& name, std::string& path) {
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
