#include "dpi_scale.h"

#include <gtest/gtest.h>

#include <climits>

namespace corva::dpi {
namespace {

TEST(DpiScale, ArtScaleIsTheNearestOfTheThreeAndTiesGoToTheLargerArt) {
  struct Case {
    int dpi, scale;
  } const cases[] = {
      {0, 100},   {72, 100},  {96, 100},  {110, 100}, {119, 100},
      {120, 150},  // 125 %: halfway, the larger art
      {144, 150}, {167, 150}, {168, 200},  // 175 %: halfway again
      {192, 200}, {240, 200}, {480, 200},
  };
  for (const Case& c : cases) EXPECT_EQ(ArtScaleForDpi(c.dpi), c.scale) << "dpi " << c.dpi;
}

TEST(DpiScale, ScaledIdsFollowTheThousandsConventionAndNeverMeetTheBaseIds) {
  EXPECT_EQ(ScaledResourceId(140, 100), 140);
  EXPECT_EQ(ScaledResourceId(140, 150), 1140);
  EXPECT_EQ(ScaledResourceId(140, 200), 2140);
  EXPECT_EQ(ScaledResourceId(ArtScaleForDpi(144), ArtScaleForDpi(144)) - ArtScaleForDpi(144),
            kScaledIdStep);
}

TEST(DpiScale, MulDivRoundsHalvesAwayFromZeroLikeWin32) {
  EXPECT_EQ(MulDivRound(17, 150, 100), 26);   // 25.5
  EXPECT_EQ(MulDivRound(-17, 150, 100), -26);
  EXPECT_EQ(MulDivRound(3, 3, 2), 5);         // 4.5
  EXPECT_EQ(MulDivRound(5, 144, 96), 8);      // 7.5
  EXPECT_EQ(MulDivRound(7, 1, -2), -4);       // -3.5
  EXPECT_EQ(MulDivRound(1, 1, 0), -1);
  EXPECT_EQ(MulDivRound(INT_MAX, 2, 2), INT_MAX);  // no overflow in the product
  EXPECT_EQ(ScaleForDpi(15, 120), 19);        // 18.75
  EXPECT_EQ(ScaleForDpi(400, 192), 800);
}

TEST(DpiScale, ScaledRectsKeepTheSizeTheArtWasDrawnAt) {
  // The gauge's place: odd origin, so the origin rounds while the size stays exact.
  const ScaledRect r = ScaleRect(17, 180, 176, 24, 150);
  EXPECT_EQ(r.x, 26);
  EXPECT_EQ(r.y, 270);
  EXPECT_EQ(r.w, 264);
  EXPECT_EQ(r.h, 36);
  const ScaledRect same = ScaleRect(17, 180, 176, 24, 100);
  EXPECT_EQ(same.x + same.y + same.w + same.h, 17 + 180 + 176 + 24);
}

}  // namespace
}  // namespace corva::dpi
