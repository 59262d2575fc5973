// soak_counts: what a running program holds, seen from another process, for the soak runs
// (bench/run_soak.py, bench/run_config_soak.py).
//
//   soak_counts counts EXE_NAME     one line per process named EXE_NAME (Corvamon.exe):
//                                   pid=N handles=N private_kb=N gdi=N user=N cpu_ms=N
//   soak_counts handle-types EXE_NAME
//                                   the handles of each process named EXE_NAME by object type
//                                   (pid=N typeT=N ...), to tell what a growing count is made of
//   soak_counts taskbar-created     what a restarted Explorer broadcasts to every top-level
//                                   window: the registered "TaskbarCreated" message
//
// GetGuiResources answers 0 under Wine, so GDI objects are counted in the target's own GDI
// handle table (the one its process environment block points to, read with ReadProcessMemory),
// the way tests/win/gdi_count.h counts them inside a test. USER objects are the windows the
// process owns: top-level, child and message-only ones. A figure Wine cannot give is -1.
//
// Exit codes: 0 done, 2 bad command line, 3 no such process.

#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "unique_resource.h"

namespace {

using corva::win::unique_handle;
using corva::win::unique_resource;

struct SnapshotTraits {
  using pointer = HANDLE;
  static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static bool is_valid(pointer p) noexcept { return p != nullptr && p != INVALID_HANDLE_VALUE; }
  static void close(pointer p) noexcept { ::CloseHandle(p); }
};
using unique_snapshot = unique_resource<SnapshotTraits>;

#pragma pack(push, 1)
struct GdiHandleEntry {
  std::uint64_t object;
  std::uint16_t process_id;
  std::uint16_t count;
  std::uint16_t unique;
  std::uint8_t type;
  std::uint8_t flags;
  std::uint64_t user;
};
#pragma pack(pop)
static_assert(sizeof(GdiHandleEntry) == 24);

std::vector<DWORD> ProcessesNamed(const std::wstring& name) {
  std::vector<DWORD> found;
  unique_snapshot snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return found;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    if (::lstrcmpiW(entry.szExeFile, name.c_str()) == 0) found.push_back(entry.th32ProcessID);
  }
  return found;
}

long long GdiObjects(HANDLE process, DWORD pid) {
  constexpr std::size_t kTableOffset = sizeof(void*) == 8 ? 0xF8 : 0x94;
  constexpr std::size_t kMaxHandles = 0x10000;
  PROCESS_BASIC_INFORMATION info{};
  if (::NtQueryInformationProcess(process, ProcessBasicInformation, &info, sizeof(info), nullptr) !=
          0 ||
      info.PebBaseAddress == nullptr) {
    return -1;
  }
  void* table = nullptr;
  SIZE_T read = 0;
  const auto* where = reinterpret_cast<const std::uint8_t*>(info.PebBaseAddress) + kTableOffset;
  if (!::ReadProcessMemory(process, where, &table, sizeof(table), &read) || table == nullptr) {
    return -1;
  }
  std::vector<GdiHandleEntry> entries(kMaxHandles);
  if (!::ReadProcessMemory(process, table, entries.data(), entries.size() * sizeof(entries[0]),
                           &read)) {
    return -1;
  }
  const auto owner = static_cast<std::uint16_t>(pid);
  long long live = 0;
  for (std::size_t i = 0; i < read / sizeof(GdiHandleEntry); ++i) {
    // Wine keeps a table per process and leaves the owner 0; Windows records the owner.
    if (entries[i].type != 0 && (entries[i].process_id == owner || entries[i].process_id == 0)) {
      ++live;
    }
  }
  return live;
}

struct WindowCount {
  DWORD pid;
  long long windows = 0;
};

BOOL CALLBACK CountChild(HWND hwnd, LPARAM lp) {
  auto* count = reinterpret_cast<WindowCount*>(lp);
  DWORD owner = 0;
  ::GetWindowThreadProcessId(hwnd, &owner);
  if (owner == count->pid) ++count->windows;
  return TRUE;
}

BOOL CALLBACK CountTopLevel(HWND hwnd, LPARAM lp) {
  CountChild(hwnd, lp);
  // Every descendant, whoever owns the parent.
  ::EnumChildWindows(hwnd, CountChild, lp);
  return TRUE;
}

long long UserObjects(DWORD pid) {
  WindowCount count{pid};
  ::EnumWindows(CountTopLevel, reinterpret_cast<LPARAM>(&count));
  for (HWND message_only = ::FindWindowExW(HWND_MESSAGE, nullptr, nullptr, nullptr);
       message_only != nullptr;
       message_only = ::FindWindowExW(HWND_MESSAGE, message_only, nullptr, nullptr)) {
    CountTopLevel(message_only, reinterpret_cast<LPARAM>(&count));
  }
  return count.windows;
}

// The handles the process holds, from the system's handle list (GetProcessHandleCount answers
// 0 under Wine); -1 when the list cannot be had. With `by_type`, also how many of each object
// type, to tell which kind a growing count is made of.
long long KernelHandles(DWORD pid, std::map<int, long long>* by_type = nullptr) {
  constexpr auto kSystemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);
  struct Entry {
    ULONG owner_pid;
    UCHAR object_type;
    UCHAR flags;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
  };
  struct List {
    ULONG count;
    Entry entries[1];
  };
  std::vector<std::uint8_t> buffer(1 << 16);
  for (int attempt = 0; attempt < 8; ++attempt) {
    ULONG needed = 0;
    const NTSTATUS status = ::NtQuerySystemInformation(kSystemHandleInformation, buffer.data(),
                                                       static_cast<ULONG>(buffer.size()), &needed);
    if (status == 0) {
      const auto* list = reinterpret_cast<const List*>(buffer.data());
      long long held = 0;
      for (ULONG i = 0; i < list->count; ++i) {
        if (list->entries[i].owner_pid != pid) continue;
        ++held;
        if (by_type) ++(*by_type)[list->entries[i].object_type];
      }
      return held;
    }
    if (status != static_cast<NTSTATUS>(0xC0000004L)) return -1;  // not "length mismatch"
    buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed + 4096));
  }
  return -1;
}

long long Milliseconds(const FILETIME& t) {
  ULARGE_INTEGER v{};
  v.LowPart = t.dwLowDateTime;
  v.HighPart = t.dwHighDateTime;
  return static_cast<long long>(v.QuadPart / 10000);
}

void PrintCounts(DWORD pid) {
  unique_handle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
  long long handles = -1, private_kb = -1, gdi = -1, cpu_ms = -1;
  if (process) {
    DWORD count = 0;
    if (::GetProcessHandleCount(process.get(), &count) && count > 0) {
      handles = count;
    } else {
      handles = KernelHandles(pid);
    }
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof(memory);
    if (::GetProcessMemoryInfo(process.get(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                               sizeof(memory)) &&
        (memory.PrivateUsage > 0 || memory.PagefileUsage > 0)) {
      // Windows gives the same figure in both; Wine only in the second.
      const SIZE_T bytes = memory.PrivateUsage > 0 ? memory.PrivateUsage : memory.PagefileUsage;
      private_kb = static_cast<long long>(bytes / 1024);
    }
    gdi = GdiObjects(process.get(), pid);
    FILETIME created{}, exited{}, kernel{}, user{};
    if (::GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) {
      cpu_ms = Milliseconds(kernel) + Milliseconds(user);
    }
  }
  std::printf("pid=%lu handles=%lld private_kb=%lld gdi=%lld user=%lld cpu_ms=%lld\n",
              static_cast<unsigned long>(pid), handles, private_kb, gdi, UserObjects(pid), cpu_ms);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"counts" && argc == 3) {
    const std::vector<DWORD> pids = ProcessesNamed(argv[2]);
    for (DWORD pid : pids) PrintCounts(pid);
    std::fflush(stdout);
    return pids.empty() ? 3 : 0;
  }
  if (command == L"handle-types" && argc == 3) {
    const std::vector<DWORD> pids = ProcessesNamed(argv[2]);
    for (DWORD pid : pids) {
      std::map<int, long long> by_type;
      KernelHandles(pid, &by_type);
      std::printf("pid=%lu", static_cast<unsigned long>(pid));
      for (const auto& [type, count] : by_type) std::printf(" type%d=%lld", type, count);
      std::printf("\n");
    }
    std::fflush(stdout);
    return pids.empty() ? 3 : 0;
  }
  if (command == L"taskbar-created" && argc == 2) {
    const UINT message = ::RegisterWindowMessageW(L"TaskbarCreated");
    DWORD_PTR result = 0;
    ::SendMessageTimeoutW(HWND_BROADCAST, message, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
    std::puts("SENT");
    return 0;
  }
  std::fputs(
      "usage: soak_counts counts EXE_NAME | soak_counts handle-types EXE_NAME | "
      "soak_counts taskbar-created\n",
      stderr);
  return 2;
}
