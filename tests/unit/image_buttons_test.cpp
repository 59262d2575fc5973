// Corvamon's saved button description names the ids, pictures and places the rest of the
// program uses for the same buttons.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>

#include "control_ids.h"
#include "dpi_scale.h"
#include "form_description.h"
#include "resource.h"
#include "skin_layout.h"

namespace corva {
namespace {

std::string ReadSource(const std::string& relative) {
  std::ifstream in(CORVA_SOURCE_DIR "/" + relative, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Resource id -> file of every BITMAP line of corvamon.rc whose id is a number (the scaled ones).
std::map<int, std::string> NumberedBitmaps() {
  std::map<int, std::string> files;
  std::istringstream rc(ReadSource("monitor/res/corvamon.rc"));
  std::string line;
  while (std::getline(rc, line)) {
    std::istringstream words(line);
    int id = 0;
    std::string kind, file;
    if (words >> id >> kind >> file && kind == "BITMAP" && file.size() > 2)
      files[id] = file.substr(1, file.size() - 2);
  }
  return files;
}

// Width and height from a BMP file's header; 0 x 0 when it cannot be read.
std::pair<int, int> BitmapSize(const std::string& file) {
  const std::string data = ReadSource("monitor/res/" + file);
  if (data.size() < 26 || data.compare(0, 2, "BM") != 0) return {0, 0};
  const auto le32 = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(data[at + static_cast<std::size_t>(i)]);
    return static_cast<std::int32_t>(v);
  };
  const int h = le32(22);
  return {le32(18), h < 0 ? -h : h};
}

TEST(ImageButtonsDescription, AgreesWithTheControlIdsPicturesAndSkin) {
  const std::string text = ReadSource("monitor/res/image_buttons.txt");
  ASSERT_FALSE(text.empty()) << "image_buttons.txt not found";
  const FormParseResult parsed = ParseFormDescription(text);
  ASSERT_EQ(parsed.error, "");

  struct Expected {
    int id;
    skin::Rect rect;
    int picture, down, hover;
  };
  const std::map<std::string, Expected> expected = {
      {"IBClose", {ids::IBClose, skin::kIBClose, IDB_CLOSE_NORMAL, IDB_CLOSE_DOWN, IDB_CLOSE_HOVER}},
      {"IBMin", {ids::IBMin, skin::kIBMin, IDB_MIN_NORMAL, IDB_MIN_DOWN, IDB_MIN_HOVER}},
      {"IBMute", {ids::IBMute, skin::kIBMute, IDB_SOUND_NORMAL, IDB_SOUND_DOWN, IDB_SOUND_HOVER}},
      {"IBTest", {ids::IBTest, skin::kIBTest, IDB_TEST_NORMAL, IDB_TEST_DOWN, IDB_TEST_HOVER}},
  };
  ASSERT_EQ(parsed.records.size(), expected.size());
  for (const FormRecord& r : parsed.records) {
    auto it = expected.find(r.name);
    ASSERT_NE(it, expected.end()) << r.name;
    const Expected& e = it->second;
    EXPECT_EQ(r.id, e.id) << r.name;
    EXPECT_EQ(r.left, e.rect.x) << r.name;
    EXPECT_EQ(r.top, e.rect.y) << r.name;
    EXPECT_EQ(r.width, e.rect.w) << r.name;
    EXPECT_EQ(r.height, e.rect.h) << r.name;
    std::map<std::string, FormValue> props(r.properties.begin(), r.properties.end());
    EXPECT_EQ(props["picture"].number, e.picture) << r.name;
    EXPECT_EQ(props["picturedown"].number, e.down) << r.name;
    EXPECT_EQ(props["picturehov"].number, e.hover) << r.name;
    EXPECT_EQ(props["style"].number, 48) << r.name;  // no border, no focus rectangle
  }
}

// The container places each button at its place scaled for the screen and gives it the picture
// of the same scale (resource N + 1000, N + 2000): each must fill its scaled place exactly.
TEST(ImageButtonsDescription, EveryScaledPictureFillsItsScaledPlace) {
  const FormParseResult parsed = ParseFormDescription(ReadSource("monitor/res/image_buttons.txt"));
  ASSERT_EQ(parsed.error, "");
  const std::map<int, std::string> scaled = NumberedBitmaps();
  int checked = 0;
  for (const int percent : {150, 200}) {
    for (const FormRecord& r : parsed.records) {
      const dpi::ScaledRect place = dpi::ScaleRect(r.left, r.top, r.width, r.height, percent);
      for (const auto& [key, value] : r.properties) {
        if (value.kind != FormValue::Kind::Picture) continue;
        const auto file = scaled.find(dpi::ScaledResourceId(value.number, percent));
        ASSERT_NE(file, scaled.end()) << r.name << " " << key << " at " << percent << " %";
        const auto [w, h] = BitmapSize(file->second);
        EXPECT_EQ(w, place.w) << file->second;
        EXPECT_EQ(h, place.h) << file->second;
        ++checked;
      }
    }
  }
  EXPECT_EQ(checked, 2 * 4 * 3);  // two scales, four buttons, three pictures each
}

}  // namespace
}  // namespace corva
