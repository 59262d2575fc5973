// Corvamon's saved button description names the ids, pictures and places the rest of the
// program uses for the same buttons.

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "control_ids.h"
#include "form_description.h"
#include "resource.h"
#include "skin_layout.h"

namespace corva {
namespace {

TEST(ImageButtonsDescription, AgreesWithTheControlIdsPicturesAndSkin) {
  std::ifstream in(CORVA_SOURCE_DIR "/monitor/res/image_buttons.txt", std::ios::binary);
  ASSERT_TRUE(in) << "image_buttons.txt not found";
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
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

}  // namespace
}  // namespace corva
