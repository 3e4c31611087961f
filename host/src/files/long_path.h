// When and how a path is handed to the system in its long (verbatim) form.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvane::files {

// Folder creation refuses paths of 248 UTF-16 units (terminator included) and more
// unless they carry the verbatim prefix; every other call accepts at least that much,
// so one threshold serves all of them.
inline constexpr std::size_t kLegacyMaxPath = 248;

// "\\?\" or the NT form "\??\": the system takes such a path as it is.
bool has_verbatim_prefix(std::u16string_view path);

// True when `path` must be made absolute and verbatim before the system sees it.
bool needs_verbatim_form(std::u16string_view path);

// The verbatim form of an absolute, normalised path (what the system's full-path
// service returns): "C:\x" becomes "\\?\C:\x", "\\server\share" becomes
// "\\?\UNC\server\share", "\\.\x" becomes "\\?\x"; anything already verbatim or of
// another shape is returned unchanged.
std::u16string verbatim_form(std::u16string_view full_path);

// The pattern that lists everything inside `folder` ("*" appended after a separator,
// none added after a separator or a bare drive such as "C:").
std::u16string listing_pattern(std::u16string_view folder);

// The folder that contains `path`, or an empty string when `path` is a root (or a bare
// name without a folder). Trailing separators are ignored.
std::u16string parent_folder(std::u16string_view path);

// True when the absolute `full_path` is the root of a volume or share ("C:\",
// "\\server\share\", "\\?\C:\"), which no removal can take away.
bool is_volume_root(std::u16string_view full_path);

// `folder` and `name` joined with one backslash (none added after a separator or a
// bare drive).
std::u16string join_path(std::u16string_view folder, std::u16string_view name);

inline bool is_separator(char16_t c) { return c == u'\\' || c == u'/'; }

}  // namespace quorvane::files
