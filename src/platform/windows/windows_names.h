#pragma once

// Archive names as Windows file systems take them. Pure text work, no system call: built and
// tested on every platform, used by the Windows implementation of the platform layer.
//
// Names are bytes in the archive. A name that is valid UTF-8 is taken as UTF-8; any other byte
// sequence is read as Windows-1252, the code page of the tools that made such archives.

#include <string>
#include <string_view>

namespace oxtrel::windows_names {

// The name as UTF-16, decided for the whole of `bytes`: UTF-8 when it is valid UTF-8 (no
// overlong forms, no surrogates), else Windows-1252, its five unassigned bytes kept as the
// control characters of the same value, as Windows itself maps them.
std::u16string decode(std::string_view bytes);

// UTF-8 of a name read from the system; an unpaired surrogate becomes U+FFFD.
std::string encodeUtf8(std::u16string_view text);

// False for a path component that Windows would read as something other than a plain name, so
// writing it could touch another file or a device:
//   - ':' (an alternate data stream), the characters < > " | ? *, and control bytes;
//   - a reserved device name (CON, PRN, AUX, NUL, CONIN$, CONOUT$, COM0-COM9, LPT0-LPT9, and COM
//     or LPT followed by a superscript digit), in any case, alone or before an extension, with or
//     without spaces before the dot;
//   - a name ending in a dot or a space (Windows drops them, so "a." would write "a").
// The empty component and "." name no file of their own and are allowed; ".." is the caller's.
bool componentAllowed(std::string_view component);

}  // namespace oxtrel::windows_names
