#include "access_io_device.h"

// mingw-w64's HID headers do not say extern "C" themselves.
extern "C" {
#include <hidsdi.h>
}

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "hid_search.h"
#include "text.h"

namespace corva::win {
namespace {

constexpr char kNoPnpNode[] = "Could not attach to PnP node";

// A device-information set, given back through the API it came from.
struct DeviceInfoSet {
  HDEVINFO set = INVALID_HANDLE_VALUE;
  BOOL(WINAPI* destroy)(HDEVINFO) = nullptr;
};
struct device_info_set_traits {
  using pointer = DeviceInfoSet;
  static pointer invalid() noexcept { return {}; }
  static bool is_valid(const pointer& p) noexcept {
    return p.set != INVALID_HANDLE_VALUE && p.set != nullptr && p.destroy != nullptr;
  }
  static void close(const pointer& p) noexcept { p.destroy(p.set); }
};
using unique_device_info_set = unique_resource<device_info_set_traits>;

// The HID interfaces of one device-information set, as the search walks them.
class SetupApiHidList final : public HidInterfaceList {
 public:
  SetupApiHidList(HDEVINFO set, const GUID& hid_guid) : set_(set), guid_(hid_guid) {}

  bool Exists(std::uint32_t index) override {
    interface_ = SP_DEVICE_INTERFACE_DATA{};
    interface_.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    interface_index_ = index;
    return ::SetupDiEnumDeviceInterfaces(set_, nullptr, &guid_, index, &interface_) != FALSE;
  }

  bool Open(std::uint32_t index) override {
    opened_.reset();
    if (index != interface_index_ && !Exists(index)) return false;
    // First the size the record needs, then the record: cbSize is the fixed part's size (5 on
    // 32-bit Windows, 8 on 64-bit), the path follows it.
    DWORD needed = 0;
    ::SetupDiGetDeviceInterfaceDetailA(set_, &interface_, nullptr, 0, &needed, nullptr);
    if (needed < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) return false;
    std::vector<DWORD> storage((needed + sizeof(DWORD) - 1) / sizeof(DWORD) + 1, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!::SetupDiGetDeviceInterfaceDetailA(set_, &interface_, detail, needed, nullptr, nullptr)) {
      return false;
    }
    opened_.reset(::CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OVERLAPPED, nullptr));
    return static_cast<bool>(opened_);
  }

  std::optional<std::span<const std::uint8_t>> ProductString() override {
    product_.fill(0);  // the device may fill the first 256 bytes of the 257
    if (!opened_ ||
        !::HidD_GetProductString(opened_.get(), product_.data(),
                                  static_cast<ULONG>(kHidProductStringBytes))) {
      return std::nullopt;
    }
    return std::span<const std::uint8_t>(product_.data(), kHidProductStringBytes);
  }

  void Keep() override { kept_ = std::move(opened_); }
  void Discard() override { opened_.reset(); }
  unique_file TakeKept() { return std::move(kept_); }

 private:
  HDEVINFO set_;
  GUID guid_;
  SP_DEVICE_INTERFACE_DATA interface_{};
  std::uint32_t interface_index_ = UINT32_MAX;
  unique_file opened_, kept_;
  std::array<std::uint8_t, kHidProductStringBytes + 1> product_{};
};

}  // namespace

unique_file FindUsbDevice(std::string_view product, const DeviceSearchApi& api) {
  GUID hid_guid{};
  ::HidD_GetHidGuid(&hid_guid);
  unique_device_info_set set(DeviceInfoSet{
      api.get_class_devs(&hid_guid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE),
      api.destroy_info_list});
  if (!set) {
    if (api.report_error) {
      api.report_error(kNoPnpNode);
    } else {
      ReportDeviceError(kNoPnpNode);
    }
    return {};
  }
  SetupApiHidList list(set.get().set, hid_guid);
  if (!FindHidProduct(list, product)) return {};
  return list.TakeKept();
}

DeviceErrorHandling& Handling() {
  static DeviceErrorHandling handling;
  return handling;
}

void SetDeviceErrorHandling(DeviceErrorHandling handling) { Handling() = std::move(handling); }

std::wstring DeviceErrorCaption() {
  if (!Handling().caption.empty()) return Handling().caption;
  std::wstring path(MAX_PATH, L'\0');
  const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(n < path.size() ? n : 0);
  const auto slash = path.find_last_of(L"\\/");
  std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
  if (const auto dot = name.find_last_of(L'.'); dot != std::wstring::npos) name.resize(dot);
  return name;
}

void ReportDeviceError(std::string_view message) {
  const DWORD error = ::GetLastError();
  ::MessageBoxW(nullptr, Widen(message).c_str(), DeviceErrorCaption().c_str(),
                MB_OK | MB_ICONSTOP | MB_TASKMODAL);
  if (error == 0) return;
  if (Handling().end_program) {
    Handling().end_program(error);
  } else {
    ::ExitProcess(error);
  }
}

}  // namespace corva::win
