#include "property_stream.h"

#include <algorithm>
#include <array>

namespace lumbra {

namespace {

template <typename T>
Status ReadLittle(ByteReader& in, T& out) {
  std::array<std::uint8_t, sizeof(T)> bytes{};
  if (Status s = in.Read(bytes.data(), bytes.size()); Failed(s)) return s;
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i)
    v |= static_cast<std::uint64_t>(bytes[i]) << (8 * i);
  out = static_cast<T>(v);
  return kOk;
}

template <typename T>
Status WriteLittle(ByteWriter& out, T value) {
  std::array<std::uint8_t, sizeof(T)> bytes{};
  const auto v = static_cast<std::uint64_t>(value);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(v >> (8 * i));
  return out.Write(bytes.data(), bytes.size());
}

// A counted text. It is read a piece at a time, so a count larger than the stream costs no more
// memory than the stream itself holds.
Status ReadText(ByteReader& in, std::wstring& text) {
  std::uint32_t length = 0;
  if (Status s = ReadLittle(in, length); Failed(s)) return s;
  if (length > kMaxStreamText) return kStreamReadFault;
  text.clear();
  constexpr std::uint32_t kPiece = 4096;
  std::array<std::uint8_t, 2 * kPiece> bytes{};
  while (length > 0) {
    const std::uint32_t n = std::min(length, kPiece);
    if (Status s = in.Read(bytes.data(), 2 * std::size_t{n}); Failed(s)) return s;
    for (std::uint32_t i = 0; i < n; ++i)
      text.push_back(static_cast<wchar_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
    length -= n;
  }
  return kOk;
}

Status WriteText(ByteWriter& out, const std::wstring& text) {
  if (text.size() > kMaxStreamText) return kStreamWriteFault;
  if (Status s = WriteLittle(out, static_cast<std::uint32_t>(text.size())); Failed(s)) return s;
  std::wstring::size_type done = 0;
  constexpr std::size_t kPiece = 4096;
  std::array<std::uint8_t, 2 * kPiece> bytes{};
  while (done < text.size()) {
    const std::size_t n = std::min(kPiece, text.size() - done);
    for (std::size_t i = 0; i < n; ++i) {
      const auto unit = static_cast<std::uint16_t>(text[done + i]);
      bytes[2 * i] = static_cast<std::uint8_t>(unit);
      bytes[2 * i + 1] = static_cast<std::uint8_t>(unit >> 8);
    }
    if (Status s = out.Write(bytes.data(), 2 * n); Failed(s)) return s;
    done += n;
  }
  return kOk;
}

}  // namespace

Status ReadPropertyStream(ByteReader& in, StreamValueSink& sink) {
  std::uint32_t magic = 0, count = 0;
  if (Status s = ReadLittle(in, magic); Failed(s)) return s;
  if (magic != kStreamMagic) return kStreamInvalidHeader;
  if (Status s = ReadLittle(in, count); Failed(s)) return s;
  // Every value takes at least six bytes, so a false count ends at the stream's end.
  for (std::uint32_t i = 0; i < count; ++i) {
    std::wstring name;
    std::uint16_t tag = 0;
    if (Status s = ReadText(in, name); Failed(s)) return s;
    if (Status s = ReadLittle(in, tag); Failed(s)) return s;
    StreamValue value;
    value.type = static_cast<StreamType>(tag);
    Status s = kOk;
    switch (value.type) {
      case StreamType::Empty:
        break;
      case StreamType::Long:
        s = ReadLittle(in, value.number);
        break;
      case StreamType::Bool: {
        std::int16_t flag = 0;
        s = ReadLittle(in, flag);
        value.number = flag;
        break;
      }
      case StreamType::Text:
        s = ReadText(in, value.text);
        break;
      case StreamType::Object:
      case StreamType::Unknown:
        if (Status o = sink.Object(name); Failed(o)) return o;
        continue;
      default:
        return kStreamReadFault;
    }
    if (Failed(s)) return s;
    if (Status v = sink.Value(name, value); Failed(v)) return v;
  }
  return kOk;
}

Status WriteStreamHeader(ByteWriter& out, std::uint32_t count) {
  if (Status s = WriteLittle(out, kStreamMagic); Failed(s)) return s;
  return WriteLittle(out, count);
}

Status WriteStreamValue(ByteWriter& out, const std::wstring& name, const StreamValue& value) {
  if (Status s = WriteText(out, name); Failed(s)) return s;
  if (Status s = WriteLittle(out, static_cast<std::uint16_t>(value.type)); Failed(s)) return s;
  switch (value.type) {
    case StreamType::Empty:
    case StreamType::Object:
    case StreamType::Unknown:
      return kOk;
    case StreamType::Long:
      return WriteLittle(out, value.number);
    case StreamType::Bool:
      return WriteLittle(out, static_cast<std::int16_t>(value.number));
    case StreamType::Text:
      return WriteText(out, value.text);
  }
  return kTypeMismatch;
}

}  // namespace lumbra
