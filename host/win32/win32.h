// Internals shared by the Windows host files and their tests. The only
// header of the project that includes windows.h.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "host/host.h"

namespace host::win32_host {

inline HANDLE native(Handle h) { return reinterpret_cast<HANDLE>(h); }
inline Handle wrap(HANDLE h) { return reinterpret_cast<Handle>(h); }
inline const wchar_t* wide_chars(const Wide& s) {
  return reinterpret_cast<const wchar_t*>(s.c_str());
}

// True, with ERROR_INVALID_NAME as the last error, for a name holding U+0000:
// the host would cut the name there and reach another file.
bool refuse_nul(const Wide& name);

// Conversions through one code page. MB_PRECOMPOSED is asked for, and left
// out where the code page refuses flags (UTF-8 and the other stateful ones),
// so that a system whose ANSI code page is UTF-8 still converts.
Wide to_wide_in(UINT code_page, std::string_view text);
// `replaced`, where given, tells whether a character became the default one.
Text to_text_in(UINT code_page, std::u16string_view wide, bool* replaced = nullptr);

}  // namespace host::win32_host
