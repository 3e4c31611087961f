// A small program for the launch tests. Its arguments are steps run in order:
//   out N / err N      write N bytes ('o' or 'e') to standard output / error
//   hex HEX            write the bytes HEX to standard output
//   cmdline            write the command line it received (UTF-8) to standard output
//   stdin FILE         read standard input to its end and write "<bytes>:<error>" to FILE
//   handle VALUE       write "open" or "closed": whether handle VALUE exists in this process
//   touch FILE         create FILE
//   sleep MS           sleep
//   exit CODE          end with CODE (a signed or 0x-prefixed number)
#include <windows.h>
// shellapi.h needs the types of windows.h.
#include <shellapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

std::string narrow(const wchar_t* text) {
  int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string out(n > 0 ? n - 1 : 0, '\0');
  if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
  return out;
}

void write_all(HANDLE h, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    if (!WriteFile(h, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n, nullptr) || n == 0) return;
    done += n;
  }
}

void write_file(const wchar_t* path, const std::string& bytes) {
  HANDLE h = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;
  write_all(h, bytes);
  CloseHandle(h);
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  for (int i = 1; i < argc; ++i) {
    std::wstring step = argv[i];
    const wchar_t* value = i + 1 < argc ? argv[i + 1] : L"";
    if (step == L"out" || step == L"err") {
      // In pieces, so that hundreds of megabytes cost the child no more than one piece.
      std::size_t n = std::wcstoull(value, nullptr, 10);
      const std::string piece(std::min<std::size_t>(n, 1 << 20), step == L"out" ? 'o' : 'e');
      for (std::size_t done = 0; done < n; done += piece.size())
        write_all(step == L"out" ? out : err, piece.substr(0, std::min(piece.size(), n - done)));
      ++i;

    } else if (step == L"hex") {
      std::string bytes;
      for (const wchar_t* p = value; p[0] && p[1]; p += 2) {
        wchar_t pair[3] = {p[0], p[1], 0};
        bytes += static_cast<char>(std::wcstoul(pair, nullptr, 16));
      }
      write_all(out, bytes);
      ++i;
    } else if (step == L"cmdline") {
      write_all(out, narrow(GetCommandLineW()));
    } else if (step == L"stdin") {
      char buffer[4096];
      std::uint64_t total = 0;
      DWORD n = 0;
      DWORD error = 0;
      for (;;) {
        if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, sizeof buffer, &n, nullptr)) {
          error = GetLastError();
          break;
        }
        if (n == 0) break;
        total += n;
      }
      write_file(value, std::to_string(total) + ":" + std::to_string(error));
      ++i;
    } else if (step == L"handle") {
      auto h = reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(std::wcstoull(value, nullptr, 10)));
      DWORD flags = 0;
      write_all(out, GetHandleInformation(h, &flags) ? "open" : "closed");
      ++i;
    } else if (step == L"touch") {
      write_file(value, "touched");
      ++i;
    } else if (step == L"sleep") {
      Sleep(static_cast<DWORD>(std::wcstoul(value, nullptr, 10)));
      ++i;
    } else if (step == L"exit") {
      ExitProcess(static_cast<UINT>(std::wcstoll(value, nullptr, 0)));
    }
  }
  return 0;
}
