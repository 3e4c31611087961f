// Resource counters of a process, for the capture leak checks. Wine answers
// GetProcessHandleCount and GetGuiResources with 0; there the counts come from the system
// handle list and from the process's GDI handle table (which Wine keeps where the process
// environment block points, in the classic 24-byte entry layout).
#pragma once

#include <psapi.h>
#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace quorvane::testing {

struct ProcessCounters {
  DWORD handles = 0;
  DWORD gdi = 0;
  DWORD user = 0;
  SIZE_T working_set = 0;
  SIZE_T private_bytes = 0;
};

inline DWORD handles_in_system_list(DWORD pid) {
  using Query = NTSTATUS(NTAPI*)(ULONG, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return 0;
  std::vector<char> buffer(1 << 20);
  for (int attempt = 0; attempt < 8; ++attempt) {
    ULONG needed = 0;
    NTSTATUS status = query(SystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (status == static_cast<NTSTATUS>(0xC0000004)) {  // STATUS_INFO_LENGTH_MISMATCH
      buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed));
      continue;
    }
    if (status < 0) return 0;
    auto* info = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(buffer.data());
    DWORD count = 0;
    for (ULONG i = 0; i < info->Count; ++i)
      if (info->Handle[i].OwnerPid == pid) ++count;
    return count;
  }
  return 0;
}

struct GdiTableEntry {
  std::uint64_t object;
  std::uint32_t owner;
  std::uint16_t unique;
  std::uint8_t type;
  std::uint8_t flags;
  std::uint64_t user;
};
static_assert(sizeof(GdiTableEntry) == 24);

inline DWORD gdi_objects_in_handle_table(HANDLE process) {
  using QueryProcess = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
  auto query = reinterpret_cast<QueryProcess>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  PROCESS_BASIC_INFORMATION basic{};
  if (!query || query(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) < 0) return 0;
  std::uint64_t table = 0;
  constexpr std::size_t kGdiSharedHandleTable = 0xF8;  // offset in the 64-bit PEB
  if (!ReadProcessMemory(process, reinterpret_cast<const char*>(basic.PebBaseAddress) + kGdiSharedHandleTable, &table,
                         sizeof table, nullptr) ||
      table == 0)
    return 0;
  std::vector<GdiTableEntry> entries(0x10000);
  SIZE_T got = 0;
  ReadProcessMemory(process, reinterpret_cast<const void*>(table), entries.data(),
                    entries.size() * sizeof(GdiTableEntry), &got);
  DWORD count = 0;
  for (std::size_t i = 0; i < got / sizeof(GdiTableEntry); ++i)
    if (entries[i].type != 0) ++count;
  return count;
}

inline ProcessCounters read_counters(HANDLE process) {
  ProcessCounters c;
  GetProcessHandleCount(process, &c.handles);
  if (c.handles == 0) c.handles = handles_in_system_list(GetProcessId(process));
  c.gdi = GetGuiResources(process, GR_GDIOBJECTS);
  if (c.gdi == 0) c.gdi = gdi_objects_in_handle_table(process);
  c.user = GetGuiResources(process, GR_USEROBJECTS);
  PROCESS_MEMORY_COUNTERS_EX memory{};
  memory.cb = sizeof memory;
  if (GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory), sizeof memory)) {
    c.working_set = memory.WorkingSetSize;
    c.private_bytes = memory.PrivateUsage ? memory.PrivateUsage : memory.PagefileUsage;
  }
  return c;
}

}  // namespace quorvane::testing
