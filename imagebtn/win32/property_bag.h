#pragma once
// The bridge between the control's persistence rules and a container's IPropertyBag, and the
// control's own stream format (IPersistStreamInit) as a list of named values.

#include <windows.h>
#include <ocidl.h>

#include <functional>

#include "image_btn.h"
#include "unique_resource.h"

namespace lumbra::win {

class BagPort final : public PropertyBagPort {
 public:
  // `font` is the control window's font, read and written by name "Font".
  BagPort(IPropertyBag* bag, IErrorLog* log, corva::win::com_ptr<IFont>& font)
      : bag_(bag), log_(log), font_(font) {}
  Status ReadText(std::string_view name, std::optional<std::wstring>& out) override;
  Status ReadLong(std::string_view name, std::optional<std::int32_t>& out) override;
  Status ReadBool(std::string_view name, std::optional<bool>& out) override;
  Status ReadPicture(std::string_view name, std::optional<PictureRef>& out) override;
  Status ReadFont(std::string_view name) override;
  Status WriteText(std::string_view name, const std::wstring& value) override;
  Status WriteLong(std::string_view name, std::int32_t value) override;
  Status WriteBool(std::string_view name, bool value) override;
  Status WritePicture(std::string_view name, const PictureRef& value) override;
  Status WriteFont(std::string_view name) override;

 private:
  // Reads `name` converted to `type`; `found` false when the bag does not hold it.
  HRESULT Read(std::string_view name, VARTYPE type, VARIANT& out, bool& found);
  HRESULT Write(std::string_view name, VARIANT& value);
  IPropertyBag* bag_;
  IErrorLog* log_;
  corva::win::com_ptr<IFont>& font_;
};

// An in-memory property bag: what IPersistStreamInit saves and loads.
HRESULT CreateMemoryBag(IPropertyBag** out);
HRESULT SaveMemoryBag(IPropertyBag* bag, IStream* stream);
HRESULT LoadMemoryBag(IStream* stream, IPropertyBag** out);

}  // namespace lumbra::win
