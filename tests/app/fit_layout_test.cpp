// Texts fitted: the controls grown to them on the real design at 96 DPI; a box's words broken.

#include "app/fit_layout.h"
#include "app/long_words.h"

#include <gtest/gtest.h>

#include <string>

namespace mailsheaf {
namespace {

using Needs = std::array<PixelSize, kControlCount>;

std::size_t At(ControlId id) { return static_cast<std::size_t>(IndexOf(id)); }
int Right(const PixelRect& r) { return r.left + r.width; }

std::string Name(ControlId id) {
  const auto name = DesignOf(id).name;
  return std::string(name.begin(), name.end());
}

class FitLayout : public ::testing::Test {
 protected:
  // Every control except those listed is where the design put it.
  void ExpectOthersAsDesigned(const WindowLayout& fitted, std::initializer_list<ControlId> moved) {
    for (const ControlDesign& row : ControlTable()) {
      if (std::find(moved.begin(), moved.end(), row.id) != moved.end()) continue;
      EXPECT_EQ(fitted.at[At(row.id)], design.at[At(row.id)]) << Name(row.id);
    }
  }

  const WindowLayout design = DesignLayout(96, 96);
  Needs needs{};
};

TEST_F(FitLayout, TheDesignStandsWhereEveryTextFits) {
  const WindowLayout fitted = FitToTexts(design, needs);
  EXPECT_EQ(fitted.client, (PixelSize{705, 475}));
  ExpectOthersAsDesigned(fitted, {});
  // Needs smaller than the controls change nothing either.
  needs[At(ControlId::Label4)] = {100, 10};
  needs[At(ControlId::LblSource)] = {90, 14};
  ExpectOthersAsDesigned(FitToTexts(design, needs), {});
}

TEST_F(FitLayout, AControlGrowsIntoTheFreeRoomOnItsRight) {
  needs[At(ControlId::Label4)] = {259, 14};  // "...Product Guide" with a wide font
  const WindowLayout fitted = FitToTexts(design, needs);
  EXPECT_EQ(fitted.at[At(ControlId::Label4)], (PixelRect{312, 152, 259, 17}));
  EXPECT_EQ(fitted.client, design.client);
  ExpectOthersAsDesigned(fitted, {ControlId::Label4});
}

TEST_F(FitLayout, APushedNeighbourGivesUpWidthItCanSpare) {
  // "Destination File  :" reaches into the path beside it (designed 7 px away).
  needs[At(ControlId::Label6)] = {108, 14};
  needs[At(ControlId::LblDestination)] = {85, 28};
  WindowLayout fitted = FitToTexts(design, needs);
  EXPECT_EQ(fitted.at[At(ControlId::Label6)].width, 108);
  const PixelRect path = fitted.at[At(ControlId::LblDestination)];
  EXPECT_EQ(path.left, 16 + 108 + 3);  // half the gap kept
  EXPECT_EQ(Right(path), Right(design.at[At(ControlId::LblDestination)]));
  ExpectOthersAsDesigned(fitted, {ControlId::Label6, ControlId::LblDestination});

  // The progress bar gives up width too, inside the frame.
  needs = {};
  needs[At(ControlId::Label1)] = {110, 14};
  fitted = FitToTexts(design, needs);
  EXPECT_EQ(fitted.at[At(ControlId::ProgressBar_tgz)].left, 129);
  EXPECT_EQ(Right(fitted.at[At(ControlId::ProgressBar_tgz)]), 657);
  ExpectOthersAsDesigned(fitted, {ControlId::Label1, ControlId::ProgressBar_tgz});
}

TEST_F(FitLayout, WhatCannotGiveWidthMovesAndPushesFurther) {
  // The folder button reaches the guide's picture, which keeps its size and moves on, pushing
  // the guide link, which has no measured text to spare.
  needs[At(ControlId::CmdAddFolder)] = {290, 20};
  const WindowLayout fitted = FitToTexts(design, needs);
  EXPECT_EQ(fitted.at[At(ControlId::CmdAddFolder)], (PixelRect{16, 144, 290, 30}));
  const PixelRect picture = fitted.at[At(ControlId::Image1)];
  EXPECT_EQ(picture.width, 16);
  EXPECT_GE(picture.left, 306 + 11);
  const PixelRect link = fitted.at[At(ControlId::Label4)];
  EXPECT_GE(link.left, Right(picture));
  EXPECT_EQ(link.width, 225);
  ExpectOthersAsDesigned(fitted, {ControlId::CmdAddFolder, ControlId::Image1, ControlId::Label4});
}

TEST_F(FitLayout, TheWindowWidensWhenAControlWouldPassItsMarginAndTheBandsFollow) {
  needs[At(ControlId::CmdOpen)] = {200, 20};
  WindowLayout fitted = FitToTexts(design, needs);
  const int grown = 552 + 200 - 697;  // past the 8 px margin the bottom band leaves
  EXPECT_EQ(fitted.client, (PixelSize{705 + grown, 475}));
  for (ControlId band : {ControlId::Shape2, ControlId::Shape1, ControlId::Picture3}) {
    EXPECT_EQ(fitted.at[At(band)].width, design.at[At(band)].width + grown) << Name(band);
  }
  ExpectOthersAsDesigned(fitted, {ControlId::CmdOpen, ControlId::Shape2, ControlId::Shape1,
                                  ControlId::Picture3});

  // A control inside the frame widens the frame first, and the frame the window.
  needs = {};
  needs[At(ControlId::Label1)] = {650, 14};
  fitted = FitToTexts(design, needs);
  const PixelRect frame = fitted.at[At(ControlId::Frame1)];
  const PixelRect bar = fitted.at[At(ControlId::ProgressBar_tgz)];
  EXPECT_GE(bar.left, 16 + 650);
  EXPECT_EQ(frame.width - Right(bar), 16);
  EXPECT_EQ(fitted.client.width - Right(frame), 8);  // the window's margin, as the bottom band's
  EXPECT_GT(fitted.client.width, 705);
}

TEST_F(FitLayout, StartAndStopShareTheirPlaceAndGrowAsOne) {
  needs[At(ControlId::CmdStop)] = {260, 24};
  const WindowLayout fitted = FitToTexts(design, needs);
  EXPECT_EQ(fitted.at[At(ControlId::CmdConvertTGZ)], (PixelRect{232, 376, 260, 37}));
  EXPECT_EQ(fitted.at[At(ControlId::CmdStop)], fitted.at[At(ControlId::CmdConvertTGZ)]);
}

TEST_F(FitLayout, AControlGrowsDownOnlyIntoFreeRoom) {
  needs[At(ControlId::Label3)] = {0, 100};     // the description, broken into more lines
  needs[At(ControlId::LblTarFile)] = {0, 60};  // above the progress bar
  needs[At(ControlId::LblCount)] = {0, 20};    // room enough below it
  const WindowLayout fitted = FitToTexts(design, needs);
  EXPECT_EQ(fitted.at[At(ControlId::Label3)].height, 112 - 64);
  EXPECT_EQ(fitted.at[At(ControlId::LblTarFile)].height, 64 - 24);
  EXPECT_EQ(fitted.at[At(ControlId::LblCount)].height, 20);
  EXPECT_EQ(fitted.client, design.client);
}

// "Open Saving Location" keeps the frame's right edge (689 px), growing left into the 7 px gap
// (down to 3) and what the path beside it spares; where they cannot hold all, to the right.
TEST_F(FitLayout, AControlLinedUpWithTheFrameGrowsLeftWhereThereIsRoom) {
  // What the button and the path need; where the button then starts, and the path's width.
  const std::array<int, 4> cases[] = {{144, 85, 545, 422}, {140, 85, 549, 425}, {144, 0, 552, 425}};
  for (const auto& [open, path, left, pathWidth] : cases) {
    needs[At(ControlId::CmdOpen)] = {open, 20};
    needs[At(ControlId::LblDestination)] = {path, 14};
    const WindowLayout fitted = FitToTexts(design, needs);
    EXPECT_EQ(fitted.at[At(ControlId::CmdOpen)], (PixelRect{left, 320, open, 30})) << open << path;
    EXPECT_EQ(fitted.at[At(ControlId::LblDestination)].width, pathWidth);
  }
}

// One unit of width per character, ten to a line.
TEST(BreakLongWords, AtTheLastSeparatorThatFitsElseWhereTheLineIsFull) {
  const auto units = [](std::u16string_view part) { return static_cast<int>(part.size()); };
  EXPECT_EQ(BreakLongWords(u"at C:\\A\\Mail\\Old\\box.tgz", 10, units),
            u"at C:\\A\\Mail\\\r\nOld\\\r\nbox.tgz");
  EXPECT_EQ(BreakLongWords(u"/srv/a_very_long_name/x", 10, units),
            u"/srv/\r\na_very_lon\r\ng_name/x");
  EXPECT_EQ(BreakLongWords(u"a\U0001F4E7\U0001F4E7\U0001F4E7\U0001F4E7\U0001F4E7", 10, units),
            u"a\U0001F4E7\U0001F4E7\U0001F4E7\U0001F4E7\r\n\U0001F4E7");
}

}  // namespace
}  // namespace mailsheaf
