#include "files/listing.h"

#include <algorithm>

#include "files/unicode_lower.h"

namespace quorvane::files {

bool counts_as_directory(std::uint32_t attributes, std::uint32_t reparse_tag) {
  if (!(attributes & kAttributeDirectory)) return false;
  if (!(attributes & kAttributeReparsePoint)) return true;
  return reparse_tag != 0 && !(reparse_tag & kReparseTagNameSurrogate);
}

std::vector<std::string> extension_filter(const json& params) {
  std::vector<std::string> out;
  if (!params.is_object()) return out;
  auto it = params.find("extensions");
  if (it == params.end() || !it->is_array()) return out;
  for (const json& element : *it) {
    if (!element.is_string()) continue;
    std::string_view text = element.get_ref<const std::string&>();
    std::size_t dots = text.find_first_not_of('.');
    text.remove_prefix(dots == std::string_view::npos ? text.size() : dots);
    out.push_back(to_lower_full(text));
  }
  return out;
}

bool passes_extension_filter(std::string_view name, const std::vector<std::string>& extensions) {
  if (extensions.empty()) return true;
  std::string lowered = to_lower_full(name);
  std::string_view view = lowered;
  for (const std::string& ext : extensions) {
    if (view.size() < ext.size() + 1) continue;
    if (view.substr(view.size() - ext.size()) == ext && view[view.size() - ext.size() - 1] == '.') return true;
  }
  return false;
}

std::vector<std::string> select_entries(const std::vector<RawEntry>& entries, ListingKind kind,
                                        const std::vector<std::string>& extensions) {
  std::vector<std::string> names;
  for (const RawEntry& entry : entries) {
    if (entry.name == "." || entry.name == "..") continue;
    bool directory = counts_as_directory(entry.attributes, entry.reparse_tag);
    bool keep = false;
    switch (kind) {
      case ListingKind::Files:
        keep = !directory;
        break;
      case ListingKind::Directories:
        keep = directory;
        break;
      case ListingKind::Entries:
        keep = directory || passes_extension_filter(entry.name, extensions);
        break;
    }
    if (keep) names.push_back(entry.name);
  }
  // std::string compares its chars as unsigned bytes, which is the UTF-8 byte order.
  std::stable_sort(names.begin(), names.end());
  return names;
}

json listing_envelope(const std::vector<std::string>& names, int error_code) {
  json out = json::object();
  out["entries"] = names;
  out["errorCode"] = error_code;
  return out;
}

void read_remaining_entries(const std::function<NextEntry()>& next) {
  int failures = 0;
  for (;;) {
    switch (next()) {
      case NextEntry::Delivered:
        failures = 0;
        break;
      case NextEntry::End:
        return;
      case NextEntry::Failed:
        if (++failures >= kMaxConsecutiveEntryFailures) return;
        break;
    }
  }
}

}  // namespace quorvane::files
