#include "files/long_path.h"

namespace quorvane::files {

namespace {

bool starts_with(std::u16string_view text, std::u16string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool is_drive_letter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool is_bare_drive(std::u16string_view path) { return path.size() == 2 && is_drive_letter(path[0]) && path[1] == u':'; }

// Length of the part of `path` that names its root and cannot be removed by walking
// up: "C:\", "\\?\C:\", "\\server\share\", "\\?\UNC\server\share\", "\", "C:".
std::size_t root_length(std::u16string_view path) {
  auto skip_component = [&](std::size_t from) {
    while (from < path.size() && !is_separator(path[from])) ++from;
    return from;
  };
  std::size_t pos = 0;
  bool unc = false;
  if (starts_with(path, u"\\\\?\\") || starts_with(path, u"\\??\\") || starts_with(path, u"\\\\.\\")) {
    pos = 4;
    if (path.substr(pos, 4) == u"UNC\\") {
      pos += 4;
      unc = true;
    }
  } else if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
    pos = 2;
    unc = true;
  }
  if (unc) {
    pos = skip_component(pos);                             // server
    if (pos < path.size()) pos = skip_component(pos + 1);  // share
    return pos < path.size() ? pos + 1 : pos;
  }
  if (pos + 1 < path.size() && is_drive_letter(path[pos]) && path[pos + 1] == u':') {
    pos += 2;
  } else if (pos == 4) {
    // "\\?\Volume{...}\" and other device names: the first component is the root.
    pos = skip_component(pos);
  }
  if (pos < path.size() && is_separator(path[pos])) ++pos;
  return pos;
}

}  // namespace

bool has_verbatim_prefix(std::u16string_view path) {
  return starts_with(path, u"\\\\?\\") || starts_with(path, u"\\??\\");
}

bool needs_verbatim_form(std::u16string_view path) {
  return !has_verbatim_prefix(path) && path.size() + 1 >= kLegacyMaxPath;
}

std::u16string verbatim_form(std::u16string_view full) {
  if (has_verbatim_prefix(full)) return std::u16string(full);
  if (full.size() >= 3 && is_drive_letter(full[0]) && full[1] == u':' && full[2] == u'\\') {
    return u"\\\\?\\" + std::u16string(full);
  }
  if (starts_with(full, u"\\\\.\\")) return u"\\\\?\\" + std::u16string(full.substr(4));
  if (starts_with(full, u"\\\\")) return u"\\\\?\\UNC\\" + std::u16string(full.substr(2));
  return std::u16string(full);
}

std::u16string listing_pattern(std::u16string_view folder) {
  if (folder.empty() || is_separator(folder.back()) || is_bare_drive(folder)) return std::u16string(folder) + u"*";
  return std::u16string(folder) + u"\\*";
}

std::u16string parent_folder(std::u16string_view path) {
  std::size_t root = root_length(path);
  std::size_t end = path.size();
  while (end > root && is_separator(path[end - 1])) --end;
  if (end <= root) return {};
  std::size_t cut = end;
  while (cut > root && !is_separator(path[cut - 1])) --cut;
  if (cut == 0) return {};
  // Keep the root's own separator ("C:\"), drop the one before the last component.
  std::size_t keep = cut;
  while (keep > root && is_separator(path[keep - 1])) --keep;
  return std::u16string(path.substr(0, keep));
}

bool is_volume_root(std::u16string_view full_path) {
  std::size_t root = root_length(full_path);
  std::size_t end = full_path.size();
  while (end > root && is_separator(full_path[end - 1])) --end;
  return end <= root;
}

std::u16string join_path(std::u16string_view folder, std::u16string_view name) {
  std::u16string out(folder);
  if (!out.empty() && !is_separator(out.back()) && !is_bare_drive(folder)) out += u'\\';
  out += name;
  return out;
}

}  // namespace quorvane::files
