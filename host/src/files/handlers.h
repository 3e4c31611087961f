// files/: the file-access methods (existence tests, listings, entry information, folder
// creation and removal, delete, copy and move, special folders, file contents) and
// run_process. The portable sources decide (listing filter and order, long-path form,
// removal and move through the FileSystem interface of file_system.h, launch command
// lines, content replies) and are tested natively; the *_win32.cpp sources call the
// system. Every reply text is in errors.h. The folder uses common/ and the system only;
// main/dispatch.cpp reaches each handler as files::<method name>.
//
// The handlers that need the Windows file system exist only in the Windows build
// (get_max_file_range, which needs none, is in files/content.h).
#pragma once

#include <string_view>

#include "common/handler.h"

namespace quorvane::files {

#ifdef _WIN32
// File-system methods.
HandlerResult file_exists(std::string_view method, const json& params);
HandlerResult directory_exists(std::string_view method, const json& params);
HandlerResult create_directory(std::string_view method, const json& params);
HandlerResult remove_directory(std::string_view method, const json& params);
HandlerResult delete_file(std::string_view method, const json& params);
HandlerResult copy_file(std::string_view method, const json& params);
HandlerResult move_file(std::string_view method, const json& params);
HandlerResult get_files(std::string_view method, const json& params);
HandlerResult get_directories(std::string_view method, const json& params);
HandlerResult get_file_system_entries(std::string_view method, const json& params);
HandlerResult get_file_system_entry_info(std::string_view method, const json& params);
HandlerResult get_special_folder_path(std::string_view method, const json& params);

// File content methods.
HandlerResult read_all_text(std::string_view method, const json& params);
HandlerResult read_all_bytes(std::string_view method, const json& params);
HandlerResult write_all_text(std::string_view method, const json& params);
HandlerResult write_all_bytes(std::string_view method, const json& params);
HandlerResult append_all_text(std::string_view method, const json& params);
HandlerResult append_all_bytes(std::string_view method, const json& params);
HandlerResult get_file_size(std::string_view method, const json& params);
HandlerResult read_file_range(std::string_view method, const json& params);

// Process launch.
HandlerResult run_process(std::string_view method, const json& params);
#endif

}  // namespace quorvane::files
