// The imports of the built executable, read from its PE import tables. The host must load
// on Windows 7 SP1: one import that an older system lacks keeps the process from starting
// at all (the loader refuses it before any of our code runs, so no run-time check can
// help). Everything newer than Windows 7 is therefore looked up with GetProcAddress at
// run time, with a fallback, and this test keeps it that way.
//
// Why two lists. kAllowed names every DLL!function the executable imports today, each
// checked to exist in Windows 7 SP1 (x64) as shipped, without optional updates: the
// documented minimum client of each function is Windows 7 or older, and the C runtime
// imports are those of the system msvcrt.dll. A new import fails the test until someone
// makes the same check and adds it, so nothing newer slips in unnoticed. kKnownNewer names
// functions and DLLs that are documented as Windows 8 or later (or that Windows 7 only
// has with an optional update); they must never be imported, and must never be in
// kAllowed, which guards the allowed list itself against a careless addition.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "host_process.h"

namespace quorvane::standin {
namespace {

const char* const kAllowed[] = {
    // advapi32.dll
    "advapi32.dll!RegGetValueW",
    // dwmapi.dll
    "dwmapi.dll!DwmGetWindowAttribute",
    // gdi32.dll
    "gdi32.dll!BitBlt",
    "gdi32.dll!CreateCompatibleBitmap",
    "gdi32.dll!CreateCompatibleDC",
    "gdi32.dll!CreateDCW",
    "gdi32.dll!DeleteDC",
    "gdi32.dll!DeleteObject",
    "gdi32.dll!GetDIBits",
    "gdi32.dll!GetDeviceCaps",
    "gdi32.dll!SelectObject",
    // kernel32.dll
    "kernel32.dll!AddVectoredExceptionHandler",
    "kernel32.dll!CancelIoEx",
    "kernel32.dll!CloseHandle",
    "kernel32.dll!CopyFileExW",
    "kernel32.dll!CreateDirectoryW",
    "kernel32.dll!CreateEventA",
    "kernel32.dll!CreateEventW",
    "kernel32.dll!CreateFileW",
    "kernel32.dll!CreateNamedPipeW",
    "kernel32.dll!CreateProcessW",
    "kernel32.dll!CreateSemaphoreA",
    "kernel32.dll!CreateToolhelp32Snapshot",
    "kernel32.dll!DeleteCriticalSection",
    "kernel32.dll!DeleteFileW",
    "kernel32.dll!DeleteProcThreadAttributeList",
    "kernel32.dll!DuplicateHandle",
    "kernel32.dll!EnterCriticalSection",
    "kernel32.dll!ExitProcess",
    "kernel32.dll!FileTimeToSystemTime",
    "kernel32.dll!FindClose",
    "kernel32.dll!FindFirstFileExW",
    "kernel32.dll!FindNextFileW",
    "kernel32.dll!FlushFileBuffers",
    "kernel32.dll!FormatMessageA",
    "kernel32.dll!FormatMessageW",
    "kernel32.dll!FreeLibrary",
    "kernel32.dll!GetCurrentProcess",
    "kernel32.dll!GetCurrentProcessId",
    "kernel32.dll!GetCurrentThread",
    "kernel32.dll!GetCurrentThreadId",
    "kernel32.dll!GetEnvironmentVariableW",
    "kernel32.dll!GetExitCodeProcess",
    "kernel32.dll!GetFileAttributesW",
    "kernel32.dll!GetFileInformationByHandle",
    "kernel32.dll!GetFileInformationByHandleEx",
    "kernel32.dll!GetFileSizeEx",
    "kernel32.dll!GetFileType",
    "kernel32.dll!GetFinalPathNameByHandleW",
    "kernel32.dll!GetFullPathNameW",
    "kernel32.dll!GetHandleInformation",
    "kernel32.dll!GetLastError",
    "kernel32.dll!GetModuleFileNameW",
    "kernel32.dll!GetModuleHandleA",
    "kernel32.dll!GetModuleHandleW",
    "kernel32.dll!GetOverlappedResult",
    "kernel32.dll!GetProcAddress",
    "kernel32.dll!GetProcessAffinityMask",
    "kernel32.dll!GetProcessTimes",
    "kernel32.dll!GetStartupInfoA",
    "kernel32.dll!GetStdHandle",
    "kernel32.dll!GetSystemDirectoryW",
    "kernel32.dll!GetSystemTimeAdjustment",
    "kernel32.dll!GetSystemTimeAsFileTime",
    "kernel32.dll!GetTempPathW",
    "kernel32.dll!GetThreadContext",
    "kernel32.dll!GetThreadPriority",
    "kernel32.dll!GetThreadTimes",
    "kernel32.dll!GetTickCount64",
    "kernel32.dll!GetWindowsDirectoryW",
    "kernel32.dll!InitializeCriticalSection",
    "kernel32.dll!InitializeProcThreadAttributeList",
    "kernel32.dll!IsDBCSLeadByteEx",
    "kernel32.dll!IsDebuggerPresent",
    "kernel32.dll!LeaveCriticalSection",
    "kernel32.dll!LoadLibraryExW",
    "kernel32.dll!LoadLibraryW",
    "kernel32.dll!LocalFree",
    "kernel32.dll!MoveFileExW",
    "kernel32.dll!MultiByteToWideChar",
    "kernel32.dll!OpenProcess",
    "kernel32.dll!OutputDebugStringA",
    "kernel32.dll!Process32FirstW",
    "kernel32.dll!Process32NextW",
    "kernel32.dll!QueryFullProcessImageNameW",
    "kernel32.dll!QueryPerformanceCounter",
    "kernel32.dll!QueryPerformanceFrequency",
    "kernel32.dll!RaiseException",
    "kernel32.dll!ReadFile",
    "kernel32.dll!ReleaseSemaphore",
    "kernel32.dll!RemoveDirectoryW",
    "kernel32.dll!RemoveVectoredExceptionHandler",
    "kernel32.dll!ResetEvent",
    "kernel32.dll!ResumeThread",
    "kernel32.dll!RtlCaptureContext",
    "kernel32.dll!RtlLookupFunctionEntry",
    "kernel32.dll!RtlUnwindEx",
    "kernel32.dll!RtlVirtualUnwind",
    "kernel32.dll!SetEndOfFile",
    "kernel32.dll!SetErrorMode",
    "kernel32.dll!SetEvent",
    "kernel32.dll!SetFileAttributesW",
    "kernel32.dll!SetFileInformationByHandle",
    "kernel32.dll!SetFilePointerEx",
    "kernel32.dll!SetLastError",
    "kernel32.dll!SetProcessAffinityMask",
    "kernel32.dll!SetSystemTime",
    "kernel32.dll!SetThreadContext",
    "kernel32.dll!SetThreadPriority",
    "kernel32.dll!SetUnhandledExceptionFilter",
    "kernel32.dll!Sleep",
    "kernel32.dll!SuspendThread",
    "kernel32.dll!TlsAlloc",
    "kernel32.dll!TlsGetValue",
    "kernel32.dll!TlsSetValue",
    "kernel32.dll!TryEnterCriticalSection",
    "kernel32.dll!UpdateProcThreadAttribute",
    "kernel32.dll!VirtualAlloc",
    "kernel32.dll!VirtualFree",
    "kernel32.dll!VirtualProtect",
    "kernel32.dll!VirtualQuery",
    "kernel32.dll!WaitForMultipleObjects",
    "kernel32.dll!WaitForSingleObject",
    "kernel32.dll!WideCharToMultiByte",
    "kernel32.dll!WriteFile",
    "kernel32.dll!__C_specific_handler",
    // msvcrt.dll
    "msvcrt.dll!___lc_codepage_func",
    "msvcrt.dll!___mb_cur_max_func",
    "msvcrt.dll!__getmainargs",
    "msvcrt.dll!__initenv",
    "msvcrt.dll!__iob_func",
    "msvcrt.dll!__set_app_type",
    "msvcrt.dll!__setusermatherr",
    "msvcrt.dll!_acmdln",
    "msvcrt.dll!_amsg_exit",
    "msvcrt.dll!_assert",
    "msvcrt.dll!_beginthreadex",
    "msvcrt.dll!_cexit",
    "msvcrt.dll!_close",
    "msvcrt.dll!_commode",
    "msvcrt.dll!_endthreadex",
    "msvcrt.dll!_errno",
    "msvcrt.dll!_fmode",
    "msvcrt.dll!_initterm",
    "msvcrt.dll!_onexit",
    "msvcrt.dll!_read",
    "msvcrt.dll!_setjmp",
    "msvcrt.dll!_strdup",
    "msvcrt.dll!_ultoa",
    "msvcrt.dll!abort",
    "msvcrt.dll!calloc",
    "msvcrt.dll!exit",
    "msvcrt.dll!fprintf",
    "msvcrt.dll!fputc",
    "msvcrt.dll!fputs",
    "msvcrt.dll!fputwc",
    "msvcrt.dll!free",
    "msvcrt.dll!fwprintf",
    "msvcrt.dll!fwrite",
    "msvcrt.dll!iswctype",
    "msvcrt.dll!localeconv",
    "msvcrt.dll!longjmp",
    "msvcrt.dll!malloc",
    "msvcrt.dll!memchr",
    "msvcrt.dll!memcmp",
    "msvcrt.dll!memcpy",
    "msvcrt.dll!memmove",
    "msvcrt.dll!memset",
    "msvcrt.dll!printf",
    "msvcrt.dll!realloc",
    "msvcrt.dll!setlocale",
    "msvcrt.dll!signal",
    "msvcrt.dll!strcmp",
    "msvcrt.dll!strcoll",
    "msvcrt.dll!strerror",
    "msvcrt.dll!strftime",
    "msvcrt.dll!strlen",
    "msvcrt.dll!strncmp",
    "msvcrt.dll!strxfrm",
    "msvcrt.dll!towlower",
    "msvcrt.dll!towupper",
    "msvcrt.dll!vfprintf",
    "msvcrt.dll!wcscoll",
    "msvcrt.dll!wcsftime",
    "msvcrt.dll!wcslen",
    "msvcrt.dll!wcsxfrm",
    // ole32.dll
    "ole32.dll!CoTaskMemFree",
    // oleaut32.dll
    "oleaut32.dll!SysFreeString",
    "oleaut32.dll!SysStringLen",
    // shell32.dll
    "shell32.dll!SHGetKnownFolderPath",
    // user32.dll
    "user32.dll!DisplayConfigGetDeviceInfo",
    "user32.dll!EnumDisplayMonitors",
    "user32.dll!EnumDisplaySettingsW",
    "user32.dll!EnumWindows",
    "user32.dll!GetClassNameW",
    "user32.dll!GetCursorPos",
    "user32.dll!GetDesktopWindow",
    "user32.dll!GetDisplayConfigBufferSizes",
    "user32.dll!GetForegroundWindow",
    "user32.dll!GetKeyboardLayout",
    "user32.dll!GetMonitorInfoW",
    "user32.dll!GetSystemMetrics",
    "user32.dll!GetWindowDC",
    "user32.dll!GetWindowRect",
    "user32.dll!GetWindowThreadProcessId",
    "user32.dll!IsIconic",
    "user32.dll!IsWindowVisible",
    "user32.dll!MapVirtualKeyExW",
    "user32.dll!QueryDisplayConfig",
    "user32.dll!ReleaseDC",
    "user32.dll!SendInput",
    "user32.dll!SetForegroundWindow",
    "user32.dll!ShowWindow",
    "user32.dll!VkKeyScanExW",
};

// Documented as Windows 8 or later, or present on Windows 7 only after an optional update.
const char* const kKnownNewer[] = {
    // user32: per-monitor DPI (Windows 8.1 / 10), pointer and touch input (Windows 8)
    "user32.dll!GetDpiForSystem",
    "user32.dll!GetDpiForWindow",
    "user32.dll!GetSystemMetricsForDpi",
    "user32.dll!SystemParametersInfoForDpi",
    "user32.dll!SetProcessDpiAwarenessContext",
    "user32.dll!SetThreadDpiAwarenessContext",
    "user32.dll!GetThreadDpiAwarenessContext",
    "user32.dll!GetWindowDpiAwarenessContext",
    "user32.dll!GetAwarenessFromDpiAwarenessContext",
    "user32.dll!AreDpiAwarenessContextsEqual",
    "user32.dll!IsValidDpiAwarenessContext",
    "user32.dll!AdjustWindowRectExForDpi",
    "user32.dll!EnableNonClientDpiScaling",
    "user32.dll!LogicalToPhysicalPointForPerMonitorDPI",
    "user32.dll!PhysicalToLogicalPointForPerMonitorDPI",
    "user32.dll!GetPointerType",
    "user32.dll!GetPointerInfo",
    "user32.dll!InitializeTouchInjection",
    "user32.dll!InjectTouchInput",
    "user32.dll!GetDisplayAutoRotationPreferences",
    // kernel32 (Windows 8 and later unless noted)
    "kernel32.dll!GetSystemTimePreciseAsFileTime",
    "kernel32.dll!CreateFile2",
    "kernel32.dll!CopyFile2",
    "kernel32.dll!GetOverlappedResultEx",
    "kernel32.dll!WaitOnAddress",
    "kernel32.dll!WakeByAddressSingle",
    "kernel32.dll!WakeByAddressAll",
    "kernel32.dll!GetCurrentThreadStackLimits",
    "kernel32.dll!SetThreadDescription",
    "kernel32.dll!GetThreadDescription",  // Windows 10 1607
    "kernel32.dll!PrefetchVirtualMemory",
    "kernel32.dll!DiscardVirtualMemory",
    "kernel32.dll!OfferVirtualMemory",
    "kernel32.dll!ReclaimVirtualMemory",
    "kernel32.dll!VirtualAlloc2",
    "kernel32.dll!MapViewOfFile3",
    "kernel32.dll!CreateFileMappingFromApp",
    "kernel32.dll!GetPackageFamilyName",
    "kernel32.dll!GetCurrentPackageFullName",
    "kernel32.dll!GetCurrentPackageId",
    // Windows 7 has these three only with KB2533623
    "kernel32.dll!SetDefaultDllDirectories",
    "kernel32.dll!AddDllDirectory",
    "kernel32.dll!RemoveDllDirectory",
    "kernel32.dll!QueryUnbiasedInterruptTimePrecise",
    "kernel32.dll!GetSystemCpuSetInformation",
    "kernel32.dll!SetProcessMitigationPolicy",
    "kernel32.dll!GetProcessMitigationPolicy",
    "kernel32.dll!InitializeSynchronizationBarrier",
    "kernel32.dll!EnterSynchronizationBarrier",
    "kernel32.dll!GetFirmwareType",
    "kernel32.dll!GetProcessInformation",
    "kernel32.dll!SetProcessInformation",
    "kernel32.dll!GetTempPath2W",
    "kernel32.dll!GetFileInformationByName",
    // COM and the Windows Runtime (Windows 8)
    "ole32.dll!CoIncrementMTAUsage",
    "ole32.dll!CoDecrementMTAUsage",
    "combase.dll!RoGetActivationFactory",
    "combase.dll!RoInitialize",
    "combase.dll!WindowsCreateString",
    "combase.dll!WindowsDeleteString",
    "combase.dll!WindowsGetStringRawBuffer",
    // Shcore.dll (Windows 8.1)
    "shcore.dll!GetDpiForMonitor",
    "shcore.dll!GetProcessDpiAwareness",
    "shcore.dll!SetProcessDpiAwareness",
};

// Whole DLLs that Windows 7 SP1 lacks: the API sets (and with them the universal C
// runtime, which Windows 7 has only with KB2999226), the Windows Runtime's COM base and
// Shcore.
bool is_newer_dll(const std::string& dll) {
  static const char* const kPrefixes[] = {"api-ms-win-",  "ext-ms-win-", "combase.dll", "shcore.dll",
                                          "ucrtbase.dll", "vcruntime",   "msvcp1"};
  return std::any_of(std::begin(kPrefixes), std::end(kPrefixes),
                     [&](const char* prefix) { return dll.rfind(prefix, 0) == 0; });
}

std::string lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

// The named (and by-ordinal, as DLL!#n) imports of a PE32+ image, both the ordinary and
// the delay-load tables, as "dll!function" with the DLL name in lower case.
class PeImports {
 public:
  explicit PeImports(std::string image) : image_(std::move(image)) {}

  std::vector<std::string> read() {
    std::vector<std::string> out;
    const std::uint32_t pe = u32(0x3C);
    if (image_.compare(pe, 4, std::string("PE\0\0", 4)) != 0) throw std::runtime_error("not a PE image");
    const std::size_t coff = pe + 4;
    sections_ = u16(coff + 2);
    const std::size_t optional = coff + 20;
    if (u16(optional) != 0x20B) throw std::runtime_error("not PE32+");
    section_table_ = optional + u16(coff + 16);
    const std::size_t directories = optional + 112;
    // Ordinary imports: 20-byte descriptors, ended by an all-zero one.
    if (const std::uint32_t rva = u32(directories + 1 * 8)) {
      for (std::size_t d = offset_of(rva);; d += 20) {
        const std::uint32_t lookup = u32(d), name = u32(d + 12), address = u32(d + 16);
        if (name == 0) break;
        thunks(lower(c_string(offset_of(name))), lookup ? lookup : address, out);
      }
    }
    // Delay-loaded imports: 32-byte descriptors.
    if (const std::uint32_t rva = u32(directories + 13 * 8)) {
      for (std::size_t d = offset_of(rva);; d += 32) {
        const std::uint32_t name = u32(d + 4), names = u32(d + 16);
        if (name == 0) break;
        thunks(lower(c_string(offset_of(name))), names, out);
      }
    }
    return out;
  }

 private:
  void thunks(const std::string& dll, std::uint32_t rva, std::vector<std::string>& out) {
    for (std::size_t t = offset_of(rva);; t += 8) {
      const std::uint64_t thunk = u64(t);
      if (thunk == 0) break;
      if (thunk >> 63)
        out.push_back(dll + "!#" + std::to_string(thunk & 0xFFFF));
      else
        out.push_back(dll + "!" + c_string(offset_of(static_cast<std::uint32_t>(thunk)) + 2));
    }
  }

  std::size_t offset_of(std::uint32_t rva) const {
    for (std::size_t i = 0; i < sections_; ++i) {
      const std::size_t s = section_table_ + i * 40;
      const std::uint32_t size = std::max(u32(s + 8), u32(s + 16)), start = u32(s + 12);
      if (rva >= start && rva - start < size) return u32(s + 20) + (rva - start);
    }
    throw std::runtime_error("address outside every section");
  }
  std::string c_string(std::size_t at) const {
    const std::size_t end = image_.find('\0', at);
    if (end == std::string::npos) throw std::runtime_error("unterminated name");
    return image_.substr(at, end - at);
  }
  std::uint64_t bytes(std::size_t at, int n) const {
    if (at + static_cast<std::size_t>(n) > image_.size()) throw std::runtime_error("read past the end");
    std::uint64_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(image_[at + static_cast<std::size_t>(i)]);
    return v;
  }
  std::uint16_t u16(std::size_t at) const { return static_cast<std::uint16_t>(bytes(at, 2)); }
  std::uint32_t u32(std::size_t at) const { return static_cast<std::uint32_t>(bytes(at, 4)); }
  std::uint64_t u64(std::size_t at) const { return bytes(at, 8); }

  std::string image_;
  std::size_t sections_ = 0;
  std::size_t section_table_ = 0;
};

std::vector<std::string> host_imports() {
  std::ifstream in(std::filesystem::path(default_host_path()), std::ios::binary);
  std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (image.empty()) throw std::runtime_error("cannot read quorvane-host.exe");
  return PeImports(std::move(image)).read();
}

TEST(ImportTable, ListsAreConsistent) {
  const std::set<std::string> newer(std::begin(kKnownNewer), std::end(kKnownNewer));
  for (const char* allowed : kAllowed) {
    EXPECT_EQ(newer.count(allowed), 0u) << allowed << " is known to be newer than Windows 7";
    const std::string entry = allowed;
    EXPECT_FALSE(is_newer_dll(entry.substr(0, entry.find('!')))) << allowed;
  }
}

TEST(ImportTable, EveryImportExistsOnWindows7) {
  const std::vector<std::string> imports = host_imports();
  // The reader must have found the real tables, not an empty or misread list.
  ASSERT_NE(std::find(imports.begin(), imports.end(), "kernel32.dll!ExitProcess"), imports.end());
  ASSERT_NE(std::find(imports.begin(), imports.end(), "user32.dll!SendInput"), imports.end());
  const std::set<std::string> allowed(std::begin(kAllowed), std::end(kAllowed));
  const std::set<std::string> newer(std::begin(kKnownNewer), std::end(kKnownNewer));
  for (const std::string& import : imports) {
    EXPECT_EQ(newer.count(import), 0u) << import << " does not exist before Windows 8/10: look it up at run time";
    EXPECT_FALSE(is_newer_dll(import.substr(0, import.find('!')))) << import;
    EXPECT_EQ(allowed.count(import), 1u)
        << import << " is a new import: check that Windows 7 SP1 has it, then add it to kAllowed";
  }
}

}  // namespace
}  // namespace quorvane::standin
