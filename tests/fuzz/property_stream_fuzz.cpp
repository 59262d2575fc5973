// Fuzzes lumbra.ocx's loading of a saved form: any bytes as the control's stream form, then
// what the stream held as the property bag the control reads. Whatever the bytes, the reader
// ends with an answer; what it read is written back to the same bytes' meaning; and a control
// loaded from it saves and loads again to the very same fields.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "image_btn.h"
#include "property_stream.h"

using namespace lumbra;

namespace {

class Bytes final : public ByteReader {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  Status Read(void* out, std::size_t n) override {
    if (n > size_ - at_) return kStreamReadFault;
    if (n) std::memcpy(out, data_ + at_, n);
    at_ += n;
    return kOk;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_, at_ = 0;
};

class Sink final : public ByteWriter {
 public:
  Status Write(const void* data, std::size_t n) override {
    const auto* p = static_cast<const std::uint8_t*>(data);
    bytes.insert(bytes.end(), p, p + n);
    return kOk;
  }
  std::vector<std::uint8_t> bytes;
};

class StubPicture final : public Picture {
 public:
  bool IsIcon() const override { return false; }
  int WidthPx() const override { return 1; }
  int HeightPx() const override { return 1; }
};

// The values in the stream's order. An object stands for what the platform's object stream
// would hold: here a byte count and that many bytes.
struct Entry {
  std::wstring name;
  StreamValue value;
  std::vector<std::uint8_t> object;
};

class Collect final : public StreamValueSink {
 public:
  explicit Collect(ByteReader& in) : in_(in) {}
  Status Value(const std::wstring& name, const StreamValue& value) override {
    if (value.type == StreamType::Object || value.type == StreamType::Unknown) std::abort();
    entries.push_back({name, value, {}});
    return kOk;
  }
  Status Object(const std::wstring& name) override {
    std::uint8_t n = 0;
    if (Status s = in_.Read(&n, 1); Failed(s)) return s;
    Entry e{name, {}, std::vector<std::uint8_t>(n)};
    e.value.type = StreamType::Object;
    if (Status s = in_.Read(e.object.data(), n); Failed(s)) return s;
    entries.push_back(std::move(e));
    return kOk;
  }
  std::vector<Entry> entries;

 private:
  ByteReader& in_;
};

bool SameName(const std::wstring& a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? c + 32 : c; };
    if (lower(a[i]) != static_cast<wchar_t>(lower(static_cast<unsigned char>(b[i])))) return false;
  }
  return true;
}

// A property bag over the stream's values, converting as a bag of variants does for the types
// the control asks for; names are found without regard to case, an empty value is absent.
class StreamBag final : public PropertyBagPort {
 public:
  explicit StreamBag(const std::vector<Entry>& entries) : entries_(entries) {}
  Status ReadText(std::string_view n, std::optional<std::wstring>& out) override {
    out.reset();
    const StreamValue* v = Find(n);
    if (!v) return kOk;
    if (v->type == StreamType::Text)
      out = v->text;
    else if (v->type == StreamType::Long)
      out = std::to_wstring(v->number);
    else
      return kTypeMismatch;
    return kOk;
  }
  Status ReadLong(std::string_view n, std::optional<std::int32_t>& out) override {
    out.reset();
    const StreamValue* v = Find(n);
    if (!v) return kOk;
    if (v->type != StreamType::Long && v->type != StreamType::Bool) return kTypeMismatch;
    out = v->number;
    return kOk;
  }
  Status ReadBool(std::string_view n, std::optional<bool>& out) override {
    out.reset();
    const StreamValue* v = Find(n);
    if (!v) return kOk;
    if (v->type != StreamType::Long && v->type != StreamType::Bool) return kTypeMismatch;
    out = v->number != 0;
    return kOk;
  }
  Status ReadPicture(std::string_view n, std::optional<PictureRef>& out) override {
    out.reset();
    const StreamValue* v = Find(n);
    if (!v) return kOk;
    if (v->type != StreamType::Object) return kTypeMismatch;
    out = std::make_shared<StubPicture>();
    return kOk;
  }
  Status ReadFont(std::string_view n) override {
    const StreamValue* v = Find(n);
    return !v || v->type == StreamType::Object ? kOk : kTypeMismatch;
  }
  Status WriteText(std::string_view, const std::wstring&) override { return kOk; }
  Status WriteLong(std::string_view, std::int32_t) override { return kOk; }
  Status WriteBool(std::string_view, bool) override { return kOk; }
  Status WritePicture(std::string_view, const PictureRef&) override { return kOk; }
  Status WriteFont(std::string_view) override { return kOk; }

 private:
  const StreamValue* Find(std::string_view name) const {
    for (const Entry& e : entries_)
      if (SameName(e.name, name)) return e.value.type == StreamType::Empty ? nullptr : &e.value;
    return nullptr;
  }
  const std::vector<Entry>& entries_;
};

// What the control saves, kept as typed values to be read back.
class SavedBag final : public PropertyBagPort {
 public:
  Status ReadText(std::string_view n, std::optional<std::wstring>& out) override {
    return Get(texts_, n, out);
  }
  Status ReadLong(std::string_view n, std::optional<std::int32_t>& out) override {
    return Get(longs_, n, out);
  }
  Status ReadBool(std::string_view n, std::optional<bool>& out) override {
    return Get(bools_, n, out);
  }
  Status ReadPicture(std::string_view n, std::optional<PictureRef>& out) override {
    return Get(pictures_, n, out);
  }
  Status ReadFont(std::string_view) override { return kOk; }
  Status WriteText(std::string_view n, const std::wstring& v) override {
    texts_[std::string(n)] = v;
    return kOk;
  }
  Status WriteLong(std::string_view n, std::int32_t v) override {
    longs_[std::string(n)] = v;
    return kOk;
  }
  Status WriteBool(std::string_view n, bool v) override {
    bools_[std::string(n)] = v;
    return kOk;
  }
  Status WritePicture(std::string_view n, const PictureRef& v) override {
    pictures_[std::string(n)] = v;
    return kOk;
  }
  Status WriteFont(std::string_view) override { return kOk; }

 private:
  template <typename T>
  static Status Get(const std::map<std::string, T, std::less<>>& m, std::string_view n,
                    std::optional<T>& out) {
    out.reset();
    if (auto it = m.find(n); it != m.end()) out = it->second;
    return kOk;
  }
  std::map<std::string, std::wstring, std::less<>> texts_;
  std::map<std::string, std::int32_t, std::less<>> longs_;
  std::map<std::string, bool, std::less<>> bools_;
  std::map<std::string, PictureRef, std::less<>> pictures_;
};

// A container without an extender: the control keeps its tooltip text itself.
class Host final : public ImageBtnHost {
 public:
  Status PropertyChanged(Prop) override { return kOk; }
  OleColor AmbientForeColor() override { return kSysButtonText; }
  bool AmbientUserMode() override { return true; }
  bool HasExtender() override { return false; }
  std::wstring ToolTipText() override { return tooltip; }
  Status SetToolTipText(const std::wstring& t) override {
    tooltip = t;
    return kOk;
  }
  void RaiseEvent(Event, std::int16_t, std::int16_t, float, float) override {}
  Status Repaint() override { std::abort(); }  // loading never paints
  void DoEvents() override {}
  void SetWindowEnabled(bool) override {}
  void SetCapture() override {}
  void ReleaseCapture() override {}
  bool HoldsCapture() override { return false; }
  bool HasWindow() override { return true; }
  void StartToolTipTimer() override {}
  void StopToolTipTimer() override {}
  void ShowToolTip(const std::wstring&) override {}
  void HideToolTip() override {}
  std::wstring tooltip;
};

bool SameFields(const ImageBtnFields& a, const ImageBtnFields& b) {
  return a.caption == b.caption && a.picture == b.picture && a.hover_picture == b.hover_picture &&
         a.pressed_picture == b.pressed_picture && a.background_picture == b.background_picture &&
         a.style == b.style && a.grab_bg == b.grab_bg && a.alignment == b.alignment &&
         a.image_offset == b.image_offset && a.border_offset == b.border_offset &&
         a.enabled == b.enabled && a.fore_color == b.fore_color && a.back_color == b.back_color &&
         a.highlight_color == b.highlight_color && a.transparent_color == b.transparent_color &&
         a.tooltip_back_color == b.tooltip_back_color &&
         a.tooltip_fore_color == b.tooltip_fore_color && a.SavedToolTipText == b.SavedToolTipText;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes in(data, size);
  Collect collect(in);
  const Status read = ReadPropertyStream(in, collect);
  if (read != kOk && !Failed(read)) std::abort();
  for (const Entry& e : collect.entries) {
    if (e.name.size() > kMaxStreamText || e.value.text.size() > kMaxStreamText) std::abort();
  }
  if (Failed(read)) return 0;

  // Written back, the values read the same.
  Sink out;
  if (Failed(WriteStreamHeader(out, static_cast<std::uint32_t>(collect.entries.size()))))
    std::abort();
  for (const Entry& e : collect.entries) {
    if (Failed(WriteStreamValue(out, e.name, e.value))) std::abort();
    if (e.value.type != StreamType::Object) continue;
    out.bytes.push_back(static_cast<std::uint8_t>(e.object.size()));
    out.bytes.insert(out.bytes.end(), e.object.begin(), e.object.end());
  }
  Bytes again(out.bytes.data(), out.bytes.size());
  Collect second(again);
  if (ReadPropertyStream(again, second) != kOk) std::abort();
  if (second.entries.size() != collect.entries.size()) std::abort();
  for (std::size_t i = 0; i < second.entries.size(); ++i) {
    const Entry& a = collect.entries[i];
    const Entry& b = second.entries[i];
    if (a.name != b.name || !(a.value == b.value) || a.object != b.object) std::abort();
  }

  // The control loads the values; what it saves loads again to the same fields.
  Host host;
  ImageBtn loaded(host);
  loaded.InitNew();
  StreamBag bag(collect.entries);
  if (Failed(loaded.ReadProperties(bag))) return 0;
  SavedBag saved;
  if (Failed(loaded.WriteProperties(saved))) std::abort();
  Host other_host;
  ImageBtn reloaded(other_host);
  reloaded.InitNew();
  if (Failed(reloaded.ReadProperties(saved))) std::abort();
  if (!SameFields(loaded.fields(), reloaded.fields())) std::abort();
  if (host.tooltip != other_host.tooltip) std::abort();
  return 0;
}
