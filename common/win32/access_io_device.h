#pragma once
// AccessIODevice: finds a HID device by its product string, and reports device errors the way
// both programs do. The search's rules live in common/core/hid_search.h; this is the walk over
// the system's list of HID interfaces.

#include <windows.h>
#include <setupapi.h>

#include <functional>
#include <string>
#include <string_view>

#include "unique_resource.h"

namespace corva::win {

// The system calls of the search that tests watch or stand in for.
struct DeviceSearchApi {
  HDEVINFO(WINAPI* get_class_devs)(const GUID*, PCSTR, HWND, DWORD) = &::SetupDiGetClassDevsA;
  BOOL(WINAPI* destroy_info_list)(HDEVINFO) = &::SetupDiDestroyDeviceInfoList;
  void (*report_error)(std::string_view message) = nullptr;  // null: ReportDeviceError
};

// Walks the present HID interfaces (0, 1, 2...) and answers the first whose product string is
// exactly `product`, opened for overlapped reading and writing; every other interface opened on
// the way is closed, and the device-information set is always given back. An empty handle when
// none matches. When the system cannot list the devices at all: ReportDeviceError("Could not
// attach to PnP node").
unique_file FindUsbDevice(std::string_view product, const DeviceSearchApi& api = {});

// A message box with the stop sign and the program's name as its caption; then, if the system
// had an error code for what went wrong (GetLastError, read before the box), the program ends
// with it, through `end_program` when the program set one (so that it unloads as it would when
// closed: its log written, its ports closed, its tray icon gone), else at once.
void ReportDeviceError(std::string_view message);

// What ReportDeviceError does in this program: its caption (empty: the program file's name
// without its extension) and how the program ends.
struct DeviceErrorHandling {
  std::wstring caption;
  std::function<void(DWORD exit_code)> end_program;
};
void SetDeviceErrorHandling(DeviceErrorHandling handling);
// The caption the device error box has now.
std::wstring DeviceErrorCaption();

}  // namespace corva::win
