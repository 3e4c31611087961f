#include "files/methods.h"

#include "files/content.h"
#include "files/errors.h"
#include "files/handlers.h"

#include <array>

namespace quorvane {

namespace files {

HandlerResult get_max_file_range(std::string_view, const json&) { return json(kMaxFileRange); }

namespace {

// Natively only the methods that need no file system are known; the others answer as
// unknown there, exactly as any other name would.
constexpr MethodEntry kMethods[] = {
#ifdef _WIN32
    {"file_exists", file_exists},
    {"directory_exists", directory_exists},
    {"create_directory", create_directory},
    {"remove_directory", remove_directory},
    {"delete_file", delete_file},
    {"copy_file", copy_file},
    {"move_file", move_file},
    {"get_files", get_files},
    {"get_directories", get_directories},
    {"get_file_system_entries", get_file_system_entries},
    {"get_file_system_entry_info", get_file_system_entry_info},
    {"get_special_folder_path", get_special_folder_path},
    {"read_all_text", read_all_text},
    {"read_all_bytes", read_all_bytes},
    {"write_all_text", write_all_text},
    {"write_all_bytes", write_all_bytes},
    {"append_all_text", append_all_text},
    {"append_all_bytes", append_all_bytes},
    {"get_file_size", get_file_size},
    {"read_file_range", read_file_range},
    {"run_process", run_process},
#endif
    {"get_max_file_range", get_max_file_range},
};

}  // namespace
}  // namespace files

HandlerResult files_dispatch(std::string_view method, const json& params) {
  for (const MethodEntry& entry : files::kMethods) {
    if (entry.name == method) return entry.handler(method, params);
  }
  return HandlerResult::fail(files::unknown_method(method));
}

}  // namespace quorvane
