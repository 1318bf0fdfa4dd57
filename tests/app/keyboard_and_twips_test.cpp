#include <gtest/gtest.h>

#include <set>

#include "app/keyboard.h"
#include "app/twips.h"

namespace mailsheaf {
namespace {

TEST(AccessKey, ASingleAmpersandMarksTheNextCharacter) {
  EXPECT_EQ(AccessKeyOf(u"E&xit"), u'x');
  EXPECT_EQ(AccessKeyOf(u"&Help Manual"), u'H');
  EXPECT_EQ(AccessKeyOf(u"files && then"), 0);
  EXPECT_EQ(AccessKeyOf(u"a &&&b"), u'b');
  EXPECT_EQ(AccessKeyOf(u"trailing&"), 0);
  EXPECT_EQ(AccessKeyOf(u"&a &b"), u'a');
  EXPECT_EQ(AccessKeyOf(u""), 0);

  EXPECT_TRUE(MatchesAccessKey(u"E&xit", u'X'));
  EXPECT_TRUE(MatchesAccessKey(u"E&xit", u'x'));
  EXPECT_TRUE(MatchesAccessKey(u"&Help Manual", u'h'));
  EXPECT_FALSE(MatchesAccessKey(u"E&xit", u'e'));
  EXPECT_FALSE(MatchesAccessKey(u"Start Conversion", u's'));
}

TEST(AccessKey, FindsTheAvailableButtonWhoseCurrentCaptionHasIt) {
  std::set<ControlId> unavailable;
  auto captionOf = [](ControlId id) -> std::u16string {
    switch (id) {
      case ControlId::cmdEnd: return u"E&xit";
      case ControlId::CmdHelp: return u"&Help Manual";
      case ControlId::CmdConvertTGZ: return u"Please Wait...";
      default: return u"no key";
    }
  };
  auto available = [&](ControlId id) { return !unavailable.count(id); };
  EXPECT_EQ(ControlForAccessKey(u'X', captionOf, available), ControlId::cmdEnd);
  EXPECT_EQ(ControlForAccessKey(u'h', captionOf, available), ControlId::CmdHelp);
  EXPECT_EQ(ControlForAccessKey(u'q', captionOf, available), std::nullopt);
  unavailable.insert(ControlId::cmdEnd);
  EXPECT_EQ(ControlForAccessKey(u'x', captionOf, available), std::nullopt);
}

TEST(TabOrder, SkipsUnavailableButtonsAndWrapsBothWays) {
  const std::set<ControlId> off{ControlId::CmdConvertTGZ, ControlId::CmdSendToAccount,
                                ControlId::CmdOpen, ControlId::CmdStop};
  auto available = [&](ControlId id) { return !off.count(id); };

  EXPECT_EQ(NextTabStop(std::nullopt, true, available), ControlId::CmdAddFolder);
  EXPECT_EQ(NextTabStop(ControlId::CmdAddFolder, true, available), ControlId::cmdEnd);
  EXPECT_EQ(NextTabStop(ControlId::cmdEnd, true, available), ControlId::CmdHelp);
  EXPECT_EQ(NextTabStop(ControlId::CmdHelp, true, available), ControlId::CmdAddFolder);

  EXPECT_EQ(NextTabStop(std::nullopt, false, available), ControlId::CmdHelp);
  EXPECT_EQ(NextTabStop(ControlId::CmdAddFolder, false, available), ControlId::CmdHelp);
  EXPECT_EQ(NextTabStop(ControlId::cmdEnd, false, available), ControlId::CmdAddFolder);

  // From a control that is no tab stop (a label) or one that just became unavailable.
  EXPECT_EQ(NextTabStop(ControlId::Label4, true, available), ControlId::CmdAddFolder);
  EXPECT_EQ(NextTabStop(ControlId::CmdConvertTGZ, true, available), ControlId::cmdEnd);
  EXPECT_EQ(NextTabStop(ControlId::CmdStop, true, available), ControlId::CmdAddFolder);

  // The only available button keeps the focus; with none there is nowhere to go.
  auto onlyExit = [](ControlId id) { return id == ControlId::cmdEnd; };
  EXPECT_EQ(NextTabStop(ControlId::cmdEnd, true, onlyExit), ControlId::cmdEnd);
  EXPECT_EQ(NextTabStop(ControlId::cmdEnd, true, [](ControlId) { return false; }), std::nullopt);
}

TEST(Twips, FifteenToThePixelAt96DpiAndRoundedAtOtherScales) {
  EXPECT_EQ(TwipsToPixels(10575, 96), 705);
  EXPECT_EQ(TwipsToPixels(7125, 96), 475);
  EXPECT_EQ(TwipsToPixels(2680, 96), 179);   // 178.67
  EXPECT_EQ(TwipsToPixels(40, 96), 3);       // 2.67
  EXPECT_EQ(TwipsToPixels(7, 96), 0);        // 0.47
  EXPECT_EQ(TwipsToPixels(-120, 96), -8);
  EXPECT_EQ(TwipsToPixels(-7, 96), 0);
  EXPECT_EQ(TwipsToPixels(-8, 96), -1);      // -0.53
  EXPECT_EQ(TwipsToPixels(10575, 120), 881); // 881.25
  EXPECT_EQ(TwipsToPixels(7125, 120), 594);  // 593.75
  EXPECT_EQ(TwipsToPixels(450, 120), 38);    // 37.5: halves away from zero
  EXPECT_EQ(TwipsToPixels(1440, 192), 192);

  EXPECT_EQ(ToPixels({240, 2160, 3735, 450}, 96, 96), (PixelRect{16, 144, 249, 30}));
  EXPECT_EQ(ToPixels({240, 2160, 3735, 450}, 120, 144), (PixelRect{20, 216, 311, 45}));
}

TEST(Twips, FontSizesBecomeCharacterHeights) {
  EXPECT_EQ(FontPixelHeight(825, 96), 11);
  EXPECT_EQ(FontPixelHeight(900, 96), 12);
  EXPECT_EQ(FontPixelHeight(1125, 96), 15);
  EXPECT_EQ(FontPixelHeight(1425, 96), 19);
  EXPECT_EQ(FontPixelHeight(825, 120), 14);  // 13.75
  EXPECT_EQ(FontPixelHeight(900, 144), 18);
}

}  // namespace
}  // namespace mailsheaf
