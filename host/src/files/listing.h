// What a folder listing keeps and in which order: the portable half of the three
// listing methods.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/handler.h"

namespace quorvane::files {

inline constexpr std::uint32_t kAttributeDirectory = 0x10;
inline constexpr std::uint32_t kAttributeReparsePoint = 0x400;
inline constexpr std::uint32_t kReparseTagNameSurrogate = 0x20000000;

// A directory for listings and entry information: the directory bit without being a
// link (symbolic link or junction). A reparse point whose tag the system did not
// report (0, never a real tag) is taken for a link too, so that nothing is ever
// treated as a real folder on a guess.
bool counts_as_directory(std::uint32_t attributes, std::uint32_t reparse_tag);

enum class ListingKind { Files, Directories, Entries };

struct RawEntry {
  std::string name;  // UTF-8, bare name
  std::uint32_t attributes = 0;
  std::uint32_t reparse_tag = 0;
};

// The `extensions` parameter as a filter: string elements only, leading dots removed,
// fully lower-cased. Empty when the parameter is absent, not an array or has no strings.
std::vector<std::string> extension_filter(const json& params);

// Whether `name` ends with "." and one of `extensions` (already lower-cased), ignoring
// letter case; an empty filter lets every name through.
bool passes_extension_filter(std::string_view name, const std::vector<std::string>& extensions);

// The names to report, without "." and "..", sorted by their UTF-8 bytes.
std::vector<std::string> select_entries(const std::vector<RawEntry>& entries, ListingKind kind,
                                        const std::vector<std::string>& extensions);

// {"entries": [...], "errorCode": 0|1}
json listing_envelope(const std::vector<std::string>& names, int error_code);

// Drives the system's "next entry" call until the listing ends. `next` keeps what it
// was delivered and answers what happened:
enum class NextEntry { Delivered, End, Failed };
// A failed entry is skipped and the next one asked for; this many failures in a row are
// taken as a persistent fault that ends the listing instead of spinning on it.
inline constexpr int kMaxConsecutiveEntryFailures = 16;
void read_remaining_entries(const std::function<NextEntry()>& next);

}  // namespace quorvane::files
