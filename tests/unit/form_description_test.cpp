// The saved description ImageBtn containers create their instances from.

#include <gtest/gtest.h>

#include "form_description.h"

namespace corva {
namespace {

TEST(FormDescription, RecordsSplitContainerEntriesFromControlProperties) {
  const auto r = ParseFormDescription(
      "; Corvamon's buttons\r\n"
      "[IBMute]\r\n"
      "id = 1003\n"
      "Left=200\n top = 10\nwidth=32\nheight=24\n"
      "ToolTipText = \"Sonido \"\"on\"\"\"\n"
      "Style = 112\n"
      "BackColor = &H8000000F\n"
      "Picture = res:210\n"
      "GrabBG = True\n"
      "Caption = \"Línea\"\n"
      "[IBTest]\n"
      "tag=\"x\"\n");
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.records.size(), 2u);
  const FormRecord& mute = r.records[0];
  EXPECT_EQ(mute.name, "IBMute");
  EXPECT_EQ(mute.id, 1003);
  EXPECT_EQ(mute.left, 200);
  EXPECT_EQ(mute.top, 10);
  EXPECT_EQ(mute.width, 32);
  EXPECT_EQ(mute.height, 24);
  EXPECT_EQ(mute.tooltiptext, "Sonido \"on\"");
  ASSERT_EQ(mute.properties.size(), 5u);
  EXPECT_EQ(mute.properties[0].first, "style");
  EXPECT_EQ(mute.properties[0].second.number, 112);
  EXPECT_EQ(mute.properties[1].second.number, static_cast<std::int32_t>(0x8000000F));
  EXPECT_EQ(mute.properties[2].second.kind, FormValue::Kind::Picture);
  EXPECT_EQ(mute.properties[2].second.number, 210);
  EXPECT_TRUE(mute.properties[3].second.flag);
  EXPECT_EQ(mute.properties[4].second.text, "Línea");
  EXPECT_EQ(r.records[1].tag, "x");
}

TEST(FormDescription, ABadLineIsNamedAndStopsTheRead) {
  EXPECT_EQ(ParseFormDescription("style=2\n").error, "line 1: a property before the first [Name]");
  EXPECT_EQ(ParseFormDescription("[A]\nstyle=&H1FFFFFFFF\n").error,
            "line 2: cannot read the value of \"style\"");
  EXPECT_EQ(ParseFormDescription("[A]\n\nleft=\"10\"\n").error,
            "line 3: \"left\" has a value of the wrong kind");
  EXPECT_EQ(ParseFormDescription("[A]\ncaption=\"a\"b\"\n").error,
            "line 2: cannot read the value of \"caption\"");
  EXPECT_EQ(ParseFormDescription("[A]\npicture=res:0\n").error,
            "line 2: cannot read the value of \"picture\"");
  // Places fit 16 bits, so the container's right = left + width cannot overflow.
  EXPECT_EQ(ParseFormDescription("[A]\nleft=2147483647\nwidth=10\n").error,
            "line 2: \"left\" is out of range");
  EXPECT_EQ(ParseFormDescription("[A]\nheight=-1\n").error, "line 2: \"height\" is out of range");
  EXPECT_EQ(ParseFormDescription("[A]\nleft=-32768\ntop=32767\nwidth=0\n").error, "");
}

}  // namespace
}  // namespace corva
