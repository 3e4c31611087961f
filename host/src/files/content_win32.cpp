// File content methods: whole-file reads and writes as text or Base64, appends, sizes
// and ranged reads.
#include "files/content.h"

#include <new>
#include <stdexcept>

#include "common/base64.h"
#include "common/params.h"
#include "common/utf.h"
#include "files/errors.h"
#include "files/fs_win32.h"
#include "files/handlers.h"
#include "files/replace_win32.h"

namespace quorvane::files {

namespace {

// Reads and writes are split so that no single call asks for more than a DWORD holds.
constexpr DWORD kIoChunk = 16u << 20;

Result<unique_handle, Failure> open_for_reading(std::string_view path) {
  Result<std::wstring, Failure> system = system_path(path);
  if (!system) return system.failure();
  unique_handle file(
      CreateFileW(system->c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return fail(Failure::last());
  return file;
}

// Reads from the current position to the end of the file. The size is only a hint: a
// file that grows or shrinks meanwhile is read until the system reports its end.
bool read_to_end(HANDLE file, std::string& out) {
  LARGE_INTEGER size{};
  std::size_t expected = 0;
  if (GetFileSizeEx(file, &size) && size.QuadPart > 0) expected = static_cast<std::size_t>(size.QuadPart);
  try {
    // One spare byte lets the read that finds the end happen without growing the buffer.
    out.resize(expected + 1);
    std::size_t filled = 0;
    for (;;) {
      if (filled == out.size()) out.resize(out.size() + std::max<std::size_t>(out.size() / 2, 4096));
      DWORD want = static_cast<DWORD>(std::min<std::size_t>(out.size() - filled, kIoChunk));
      DWORD got = 0;
      if (!ReadFile(file, out.data() + filled, want, &got, nullptr)) return false;
      if (got == 0) break;
      filled += got;
    }
    out.resize(filled);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

// The whole file, or nullopt on any failure.
std::optional<std::string> read_whole_file(std::string_view path) {
  Result<unique_handle, Failure> file = open_for_reading(path);
  if (!file) return std::nullopt;
  std::string bytes;
  if (!read_to_end(file->get(), bytes)) return std::nullopt;
  return bytes;
}

enum class WriteMode { Replace, Append };

// Appends at the end of the file, creating it when missing. A failed append takes the
// file back to the length it had (or removes it when this call created it), so a full
// disk never leaves a piece of the new content behind.
bool append_to_file(const std::wstring& system, std::string_view bytes) {
  // Append access without write access makes every write land at the end of the file.
  unique_handle file(CreateFileW(system.c_str(), FILE_GENERIC_WRITE & ~FILE_WRITE_DATA, kShareAll, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  const bool created = GetLastError() != ERROR_ALREADY_EXISTS;
  // Devices (NUL, a console) have no size and nothing to take back.
  LARGE_INTEGER original{};
  const bool restorable = GetFileType(file.get()) == FILE_TYPE_DISK && GetFileSizeEx(file.get(), &original);
  if (write_all(file.get(), bytes)) return true;
  if (!restorable) return false;
  DWORD error = GetLastError();
  file.reset();
  if (created) {
    delete_file_at(system);
  } else {
    // Cutting needs write access, which the append handle deliberately lacks.
    unique_handle cut(
        CreateFileW(system.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile = original;
    if (cut) SetFileInformationByHandle(cut.get(), FileEndOfFileInfo, &end, sizeof end);
  }
  SetLastError(error);
  return false;
}

// Replacing goes through a file beside the target (see replace_win32.h), so a failed
// write leaves the old content in place.
bool write_file(std::string_view path, std::string_view bytes, WriteMode mode) {
  Result<std::wstring, Failure> system = system_path(path);
  if (!system) return false;
  if (mode == WriteMode::Append) return append_to_file(*system, bytes);
  return replace_file_content(*system, bytes);
}

std::optional<std::string> decode_content(std::string_view base64) {
  std::vector<std::uint8_t> bytes;
  if (!base64_decode(base64, bytes).ok()) return std::nullopt;
  return std::string(bytes.begin(), bytes.end());
}

HandlerResult write_text_handler(const json& params, WriteMode mode) {
  Result<std::string_view> path = required_string(params, "path");
  if (!path) return path.failure();
  Result<std::string_view> content = required_string(params, "content");
  if (!content) return content.failure();
  return json(write_file(*path, *content, mode));
}

HandlerResult write_bytes_handler(const json& params, WriteMode mode) {
  Result<std::string_view> path = required_string(params, "path");
  if (!path) return path.failure();
  Result<std::string_view> content = required_string(params, "content");
  if (!content) return content.failure();
  // Bad Base64 is refused before any file is opened, so nothing is truncated by it.
  std::optional<std::string> bytes = decode_content(*content);
  if (!bytes) return json(false);
  return json(write_file(*path, *bytes, mode));
}

}  // namespace

HandlerResult read_all_text(std::string_view, const json& params) {
  Result<std::string_view> path = required_string(params, "path");
  if (!path) return path.failure();
  std::optional<std::string> bytes = read_whole_file(*path);
  if (!bytes || !is_valid_utf8(*bytes)) return content_failure();
  return content_success(std::move(*bytes));
}

HandlerResult read_all_bytes(std::string_view, const json& params) {
  Result<std::string_view> path = required_string(params, "path");
  if (!path) return path.failure();
  std::string encoded;
  {
    std::optional<std::string> bytes = read_whole_file(*path);
    if (!bytes) return content_failure();
    try {
      encoded = base64_encode(*bytes);
    } catch (const std::bad_alloc&) {
      return content_failure();
    }
  }  // the raw bytes go before the reply is built from the text
  return content_success(std::move(encoded));
}

HandlerResult write_all_text(std::string_view, const json& params) {
  return write_text_handler(params, WriteMode::Replace);
}

HandlerResult append_all_text(std::string_view, const json& params) {
  return write_text_handler(params, WriteMode::Append);
}

HandlerResult write_all_bytes(std::string_view, const json& params) {
  return write_bytes_handler(params, WriteMode::Replace);
}

HandlerResult append_all_bytes(std::string_view, const json& params) {
  return write_bytes_handler(params, WriteMode::Append);
}

HandlerResult get_file_size(std::string_view, const json& params) {
  Result<std::string_view> path = required_string(params, "path");
  if (!path) return path.failure();
  Result<std::wstring, Failure> system = system_path(*path);
  if (!system) return fail(system.error().message());
  Result<EntryInfo, Failure> info = query_entry(*system);
  if (!info) return fail(info.error().message());
  return json(info->size);
}

HandlerResult read_file_range(std::string_view, const json& params) {
  Result<std::string_view> path = required_string(params, "path");
  if (!path) return path.failure();
  std::uint64_t start = range_start_param(params);
  Result<unique_handle, Failure> file = open_for_reading(*path);
  if (!file) return fail(file.error().message());
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file->get(), &size)) return fail(Failure::last().message());
  std::uint64_t length = range_length(static_cast<std::uint64_t>(size.QuadPart), start);
  if (length == 0) return range_result(start, {});
  LARGE_INTEGER offset{};
  offset.QuadPart = static_cast<LONGLONG>(start);
  if (!SetFilePointerEx(file->get(), offset, nullptr, FILE_BEGIN)) return fail(Failure::last().message());
  std::string bytes(static_cast<std::size_t>(length), '\0');
  std::size_t filled = 0;
  while (filled < bytes.size()) {
    DWORD got = 0;
    if (!ReadFile(file->get(), bytes.data() + filled, static_cast<DWORD>(bytes.size() - filled), &got, nullptr)) {
      return fail(Failure::last().message());
    }
    // The file shrank after its size was taken.
    if (got == 0) return fail(std::string(kFailedToFillWholeBuffer));
    filled += got;
  }
  return range_result(start, bytes);
}

}  // namespace quorvane::files
