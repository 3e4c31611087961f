// quorvane-host.exe: a native-messaging host started by the browser, driven over its
// standard input and output.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <limits>

#include "common/write_all_win32.h"
#include "main/transport.h"

namespace {

using namespace quorvane;

// The raw standard handles, read and written with ReadFile/WriteFile so the C runtime's
// text mode can never translate a byte of a payload.
class StdinStream final : public InputStream {
 public:
  explicit StdinStream(HANDLE handle) : handle_(handle) {}
  std::size_t read(void* buffer, std::size_t size) override {
    DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD got = 0;
    if (!ReadFile(handle_, buffer, chunk, &got, nullptr)) return 0;
    return got;
  }

 private:
  HANDLE handle_;
};

class StdoutStream final : public OutputStream {
 public:
  explicit StdoutStream(HANDLE handle) : handle_(handle) {}
  bool write(const void* data, std::size_t size) override {
    return write_all(handle_, std::string_view(static_cast<const char*>(data), size));
  }
  // Writes go straight to the handle; nothing is held back in this process, so there is
  // nothing to flush. (FlushFileBuffers on a pipe would instead wait for the browser to
  // drain it, stalling the loop for no gain.)
  bool flush() override { return true; }

 private:
  HANDLE handle_;
};

[[noreturn]] void internal_fault(const char* what) {
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  char line[512];
  int n = std::snprintf(line, sizeof line, "quorvane-host: internal fault: %s\n", what);
  if (n > 0 && err && err != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(err, line, static_cast<DWORD>(n < static_cast<int>(sizeof line) ? n : sizeof line - 1), &written,
              nullptr);
  }
  ExitProcess(101);
}

LONG WINAPI on_unhandled_exception(EXCEPTION_POINTERS* info) {
  char what[64];
  std::snprintf(what, sizeof what, "exception 0x%08lX",
                info && info->ExceptionRecord ? info->ExceptionRecord->ExceptionCode : 0ul);
  internal_fault(what);
}

void make_dpi_aware() {
  // Resolved at run time: the call is missing before Windows 10 version 1703, and its
  // failure is harmless (coordinates are then logical, as on any unaware process).
  using SetContextFn = BOOL(WINAPI*)(HANDLE);
  HMODULE user32 = GetModuleHandleW(L"user32.dll");
  if (!user32) return;
  auto set_context =
      reinterpret_cast<SetContextFn>(reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")));
  if (!set_context) return;
  if (!set_context(reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4)))) (void)GetLastError();
}

}  // namespace

int main() {
  SetUnhandledExceptionFilter(&on_unhandled_exception);
  std::set_terminate([] { internal_fault("unhandled C++ exception"); });
  // No error boxes: a host nobody sees must never wait on a dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);

  make_dpi_aware();

  StdinStream in(GetStdHandle(STD_INPUT_HANDLE));
  StdoutStream out(GetStdHandle(STD_OUTPUT_HANDLE));
  try {
    serve_requests(in, out);
  } catch (const std::exception& e) {
    internal_fault(e.what());
  } catch (...) {
    internal_fault("unknown exception");
  }
  return 0;
}
