#pragma once
// Counts this process's live GDI objects by walking the shared GDI handle table that the
// process environment block points to (GetGuiResources answers 0 under Wine).

#include <windows.h>
#include <winternl.h>

#include <cstdint>

namespace corva::test {

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

// -1 when the table cannot be found.
inline int LiveGdiObjects() {
  constexpr std::size_t kTableOffset = sizeof(void*) == 8 ? 0xF8 : 0x94;
  constexpr int kMaxHandles = 0x10000;
  PROCESS_BASIC_INFORMATION info{};
  if (::NtQueryInformationProcess(::GetCurrentProcess(), ProcessBasicInformation, &info,
                                  sizeof(info), nullptr) != 0) {
    return -1;
  }
  const auto* peb = reinterpret_cast<const std::uint8_t*>(info.PebBaseAddress);
  const auto* table = *reinterpret_cast<const GdiHandleEntry* const*>(peb + kTableOffset);
  if (!table) return -1;
  const auto pid = static_cast<std::uint16_t>(::GetCurrentProcessId());
  int live = 0;
  for (int i = 0; i < kMaxHandles; ++i) {
    // Wine keeps a table per process and leaves the owner 0; Windows shares one table and
    // records the owner. Stock objects (owner 0) are constant either way.
    if (table[i].type != 0 && (table[i].process_id == pid || table[i].process_id == 0)) ++live;
  }
  return live;
}

}  // namespace corva::test
