#pragma once
// The ImageBtn ActiveX control: a windowed in-place control built on the portable ImageBtn
// rules, without ATL.

#include <windows.h>
#include <unknwn.h>

namespace lumbra::win {

// The class factory's creator for CLSID_ImageBtn.
HRESULT CreateImageBtn(IUnknown* outer, REFIID riid, void** out);

}  // namespace lumbra::win
