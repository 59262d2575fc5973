#pragma once
// A small ActiveX container for ImageBtn instances: the window that owns them creates them from
// a saved description (common/core/form_description.h) kept as a resource, gives each an
// extender (Name, Tag, ToolTipText, Left, Top, Parent) and the ambient ForeColor and UserMode,
// and receives their Click as WM_COMMAND with BN_CLICKED and the instance's id, as from a
// standard button.
//
// lumbra.ocx is loaded from the program's folder and asked for its class object directly
// (DllGetClassObject): the programs need no registration, machine-wide or per user, and find
// exactly the library they were installed with.

#include <windows.h>
#include <ocidl.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "unique_resource.h"

namespace corva::win {

class ImageBtnInstance;

class ImageBtnContainer {
 public:
  // `library`: the path of lumbra.ocx; empty for the one in the program's folder.
  // `resources`: the module the description and its pictures are read from.
  ImageBtnContainer(HWND owner, HINSTANCE resources, std::wstring library = {});
  ~ImageBtnContainer();
  ImageBtnContainer(const ImageBtnContainer&) = delete;
  ImageBtnContainer& operator=(const ImageBtnContainer&) = delete;

  // Creates every instance the description names. Fails with the first failure; the
  // instances made before it stay.
  HRESULT Load(std::string_view description);
  HRESULT LoadResource(int resource_id);  // an RCDATA resource holding the description (UTF-8)

  // The instance's control (its default interface), window and id; null / 0 when unknown.
  IDispatch* Control(std::wstring_view name) const;
  HWND Window(std::wstring_view name) const;
  int Id(std::wstring_view name) const;
  // Sets a picture property (Picture, PictureDown, PictureHov, BGPicture) by dispatch id.
  HRESULT SetPicture(std::wstring_view name, DISPID dispid, HBITMAP bitmap);
  // The container's own Visible.
  void SetVisible(std::wstring_view name, bool visible);
  bool IsVisible(std::wstring_view name) const;

  // The description's places, offsets and pictures are in 96-DPI pixels and resource ids; the
  // container shows them at an art scale (common/core/dpi_scale.h), at first the one nearest to
  // the owner's DPI. SetArtScale moves every instance to its place at `art_scale` and gives it
  // the description's pictures drawn for that scale (after a WM_DPICHANGED). Pictures set with
  // SetPicture are the caller's to set again.
  HRESULT SetArtScale(int art_scale);
  int art_scale() const { return art_scale_; }

  HWND owner() const { return owner_; }

 private:
  ImageBtnInstance* Find(std::wstring_view name) const;

  HWND owner_;
  HINSTANCE resources_;
  std::wstring library_path_;
  HMODULE library_ = nullptr;
  com_ptr<IClassFactory> factory_;
  int art_scale_ = 100;
  std::vector<com_ptr<ImageBtnInstance>> instances_;
};

// Picture objects from bitmaps; `owned` hands the bitmap to the picture.
HRESULT MakePicture(HBITMAP bitmap, bool owned, IPictureDisp** out);

}  // namespace corva::win
