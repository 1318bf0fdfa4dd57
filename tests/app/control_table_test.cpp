#include "app/control_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/keyboard.h"

namespace mailsheaf {
namespace {

TEST(ControlTable, EveryControlHasOneUniquelyNamedRow) {
  std::set<std::u16string_view> names;
  for (const ControlSpec& spec : ControlTable()) {
    EXPECT_TRUE(names.insert(spec.name).second) << std::string(spec.name.begin(), spec.name.end());
    EXPECT_EQ(&SpecOf(spec.id), &spec);
  }
  EXPECT_EQ(names.size(), static_cast<std::size_t>(kControlCount));
}

TEST(ControlTable, ContainersComeBeforeTheirControlsWhichFitInside) {
  const ControlSpec& frame = SpecOf(ControlId::Frame1);
  const ControlSpec& panel = SpecOf(ControlId::Picture3);
  EXPECT_EQ(frame.kind, ControlKind::Frame);
  EXPECT_EQ(panel.kind, ControlKind::Panel);
  int inFrame = 0;
  int inPanel = 0;
  for (const ControlSpec& spec : ControlTable()) {
    if (spec.container == Container::Window) continue;
    const ControlSpec& holder = spec.container == Container::Frame1 ? frame : panel;
    (spec.container == Container::Frame1 ? inFrame : inPanel)++;
    EXPECT_GT(IndexOf(spec.id), IndexOf(holder.id));
    EXPECT_GE(spec.position.left, 0);
    EXPECT_GE(spec.position.top, 0);
    EXPECT_LE(spec.position.left + spec.position.width, holder.position.width);
    EXPECT_LE(spec.position.top + spec.position.height, holder.position.height);
  }
  EXPECT_EQ(inFrame, 4);  // Label8, LblTarFile, Label1, ProgressBar_tgz
  EXPECT_EQ(inPanel, 2);  // CmdHelp, cmdEnd
}

TEST(ControlTable, StopCoversStartExactlyAndLiesAboveIt) {
  const ControlSpec& start = SpecOf(ControlId::CmdConvertTGZ);
  const ControlSpec& stop = SpecOf(ControlId::CmdStop);
  EXPECT_EQ(start.position, stop.position);
  EXPECT_EQ(start.container, stop.container);
  EXPECT_GT(IndexOf(ControlId::CmdStop), IndexOf(ControlId::CmdConvertTGZ));
}

TEST(ControlTable, OnlyTheTwoBigButtonsUseTheCentralEuropeanCharacterSet) {
  for (const ControlSpec& spec : ControlTable()) {
    const bool big = spec.id == ControlId::CmdConvertTGZ || spec.id == ControlId::CmdStop;
    EXPECT_EQ(spec.font.charset, big ? 238 : 0) << std::string(spec.name.begin(), spec.name.end());
  }
}

TEST(ControlTable, OnlyThePathLabelsShowAmpersandsLiterally) {
  for (const ControlSpec& spec : ControlTable()) {
    const bool path = spec.id == ControlId::LblSource || spec.id == ControlId::LblTarFile ||
                      spec.id == ControlId::LblDestination;
    EXPECT_EQ(spec.literalText, path) << std::string(spec.name.begin(), spec.name.end());
  }
  // The hint line relies on "&&" being shown as one "&".
  EXPECT_NE(SpecOf(ControlId::Label2).text.find(u"files && then"), std::u16string_view::npos);
}

TEST(ControlTable, ButtonsFollowTheirKeyboardOrderAndOnlyButtonsAreTabStops) {
  std::vector<ControlId> order;
  std::optional<ControlId> at;
  for (int i = 0; i < 7; ++i) {
    at = NextTabStop(at, true, [](ControlId) { return true; });
    ASSERT_TRUE(at);
    order.push_back(*at);
  }
  EXPECT_EQ(order, (std::vector<ControlId>{ControlId::CmdAddFolder, ControlId::CmdConvertTGZ,
                                           ControlId::cmdEnd, ControlId::CmdHelp,
                                           ControlId::CmdOpen, ControlId::CmdStop,
                                           ControlId::CmdAddFolder}));
  for (const ControlSpec& spec : ControlTable()) {
    EXPECT_EQ(spec.tabIndex >= 0, spec.kind == ControlKind::Button)
        << std::string(spec.name.begin(), spec.name.end());
  }
}

TEST(ControlTable, TheWindowsOwnDesign) {
  const WindowDesign& design = FrmStep1Design();
  EXPECT_EQ(design.title, u"Corvane Mailsheaf v3.0");
  EXPECT_EQ(design.clientWidthTwips, 10575);
  EXPECT_EQ(design.clientHeightTwips, 7125);
  EXPECT_EQ(SpecOf(ControlId::lblCopyright).text,
            u"Copyright \u00A9 2026 Corvane. Support: support@corvane.example");
  EXPECT_TRUE(SpecOf(ControlId::Label4).pointingHand);
}

}  // namespace
}  // namespace mailsheaf
