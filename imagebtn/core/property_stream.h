#pragma once
// The control's stream form, what IPersistStreamInit saves and loads: "LBTN", the number of
// values, then for each value its name, its type tag and the value. Numbers are little-endian;
// a name or a text is a 32-bit count of UTF-16 code units and the units. An object (a picture
// or a font) is written by the platform's own object stream right after its tag; the reader
// hands it back to the caller to read from the same place.
//
// A saved form can come from anywhere: every count is checked against what is left before
// anything is made from it, and a short or unknown stream is a failure, never a guess.

#include <cstddef>
#include <cstdint>
#include <string>

#include "image_btn_types.h"

namespace lumbra {

inline constexpr std::uint32_t kStreamMagic = 0x4E54424C;  // "LBTN"
inline constexpr std::uint32_t kMaxStreamText = 1u << 20;  // code units in one name or text

// The type tags, as the platform's VARTYPE values.
enum class StreamType : std::uint16_t {
  Empty = 0,
  Long = 3,
  Text = 8,
  Object = 9,
  Bool = 11,
  Unknown = 13,  // an object too
};

inline constexpr Status kStreamReadFault = static_cast<Status>(0x8003001E);   // STG_E_READFAULT
inline constexpr Status kStreamWriteFault = static_cast<Status>(0x8003001D);  // STG_E_WRITEFAULT
inline constexpr Status kStreamInvalidHeader =
    static_cast<Status>(0x800300FB);  // STG_E_INVALIDHEADER

// Reads exactly `size` bytes, or fails.
class ByteReader {
 public:
  virtual ~ByteReader() = default;
  virtual Status Read(void* data, std::size_t size) = 0;
};

// Writes exactly `size` bytes, or fails.
class ByteWriter {
 public:
  virtual ~ByteWriter() = default;
  virtual Status Write(const void* data, std::size_t size) = 0;
};

struct StreamValue {
  StreamType type = StreamType::Empty;
  std::int32_t number = 0;  // Long; Bool as stored, 16 bits (0 is false)
  std::wstring text;        // Text, as UTF-16 code units
  bool operator==(const StreamValue&) const = default;
};

// What the reader finds, value by value, in the stream's order.
class StreamValueSink {
 public:
  virtual ~StreamValueSink() = default;
  virtual Status Value(const std::wstring& name, const StreamValue& value) = 0;
  // An object of `name` follows: read it from the stream, which stands right before it.
  virtual Status Object(const std::wstring& name) = 0;
};

// Reads a whole stream form into `sink`; stops at the first failure, of the stream or the sink.
Status ReadPropertyStream(ByteReader& in, StreamValueSink& sink);

Status WriteStreamHeader(ByteWriter& out, std::uint32_t count);
// One value. For an object only the name and the tag: the caller writes the object after it.
Status WriteStreamValue(ByteWriter& out, const std::wstring& name, const StreamValue& value);

}  // namespace lumbra
