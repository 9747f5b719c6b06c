#pragma once
// Path conventions as plain text rules, in both the POSIX and the Windows form, so that code above
// this layer never spells a separator or a drive itself. `nativepaths` names the form of the
// system the program is built for; the other form stays available for names written elsewhere
// and for tests.
//
// Thread-safety: every function may be called from any thread.

#include <string>
#include <string_view>

namespace platform {

// A name in URL form: longer than 3 characters, a run of ASCII letters and digits (possibly
// empty), ':', then two equal characters that are each '/' or '\'.
bool HasUrlForm(std::u16string_view name);

// Whether a file of that name (UTF-8) exists and is not a folder.
bool FileExists(const std::string& name);

// Paths of POSIX systems: '/' only, no drives. File URIs keep their leading slash.
namespace posixpaths {
constexpr char16_t kSeparator = u'/';
bool IsSeparator(char16_t c);
// Neither absolute ('/' first) nor in URL form.
bool IsRelative(std::u16string_view name);
// Always empty: POSIX names have no drive.
std::u16string Drive(std::u16string_view name);
// Everything up to and including the last separator.
std::u16string Folder(std::u16string_view name);
// The name with one separator at its end (an empty name stays empty).
std::u16string WithTrailingSeparator(std::u16string_view name);
// "." and ".." segments resolved as text; ".." never climbs above the root. A name in URL form
// comes back unchanged: what its segments mean is the server's to say.
std::u16string Normalize(std::u16string_view name);
// Whether `name` lies in `folder` (ending with a separator), comparing as the system's file
// names compare.
bool StartsWithFolder(std::u16string_view folder, std::u16string_view name);
bool SameFolder(std::u16string_view a, std::u16string_view b);
// "file:" URIs to paths ("file:///home/a" and "file://localhost/home/a" give "/home/a"); any
// other text comes back unchanged and `isFileUri` false. No percent-decoding here.
std::u16string FileUriToPath(std::u16string_view text, bool* isFileUri = nullptr);
// Paths to "file://" URIs; a relative path or a name in URL form comes back unchanged.
std::u16string PathToFileUri(std::u16string_view path);
// Separators of the other form made native; POSIX keeps '\', which may be part of a name.
std::u16string ToNative(std::u16string_view name);
} // namespace posixpaths

// Paths of Windows systems: '\' (and '/' when reading), drive letters, UNC names.
namespace windowspaths {
constexpr char16_t kSeparator = u'\\';
bool IsSeparator(char16_t c);
// Relative unless the second character is ':', the name has URL form or starts with "\\".
bool IsRelative(std::u16string_view name);
// "C:" for "C:\x", "\\server\share" for "\\server\share\x" (after a "\\?\" prefix); else "".
std::u16string Drive(std::u16string_view name);
// Everything up to and including the last ':', '\' or '/'.
std::u16string Folder(std::u16string_view name);
std::u16string WithTrailingSeparator(std::u16string_view name);
// As the POSIX form, with '\' as the only separator of the result.
std::u16string Normalize(std::u16string_view name);
// Case-insensitive for ASCII letters, as the system compares file names.
bool StartsWithFolder(std::u16string_view folder, std::u16string_view name);
bool SameFolder(std::u16string_view a, std::u16string_view b);
// "file:///C:/a/b" gives "C:\a\b"; "file:////server/share/x" and "file://server/share/x" give
// "\\server\share\x".
std::u16string FileUriToPath(std::u16string_view text, bool* isFileUri = nullptr);
// "C:\a" gives "file:///C:/a", "\\server\share" "file:////server/share"; relative paths only
// change their separators.
std::u16string PathToFileUri(std::u16string_view path);
// Every '/' becomes '\' unless the name has URL form.
std::u16string ToNative(std::u16string_view name);
} // namespace windowspaths

#ifdef _WIN32
namespace nativepaths = windowspaths;
#else
namespace nativepaths = posixpaths;
#endif

} // namespace platform
