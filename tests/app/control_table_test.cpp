#include "app/control_table.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "app/keyboard.h"

namespace mailsheaf {
namespace {

TEST(ControlTable, EveryControlHasOneUniquelyNamedRow) {
  std::set<std::u16string_view> names;
  for (const ControlDesign& row : ControlTable()) {
    EXPECT_TRUE(names.insert(row.name).second) << std::string(row.name.begin(), row.name.end());
    EXPECT_EQ(&DesignOf(row.id), &row);
  }
  EXPECT_EQ(names.size(), static_cast<std::size_t>(kControlCount));
}

TEST(ControlTable, ContainersComeBeforeTheirControlsWhichFitInside) {
  const ControlDesign& frame = DesignOf(ControlId::Frame1);
  const ControlDesign& panel = DesignOf(ControlId::Picture3);
  EXPECT_EQ(frame.kind, ControlKind::Frame);
  EXPECT_EQ(panel.kind, ControlKind::Panel);
  int inFrame = 0;
  int inPanel = 0;
  for (const ControlDesign& row : ControlTable()) {
    if (row.container == Container::Window) continue;
    const ControlDesign& holder = row.container == Container::Frame1 ? frame : panel;
    (row.container == Container::Frame1 ? inFrame : inPanel)++;
    EXPECT_GT(IndexOf(row.id), IndexOf(holder.id));
    EXPECT_GE(row.position.left, 0);
    EXPECT_GE(row.position.top, 0);
    EXPECT_LE(row.position.left + row.position.width, holder.position.width);
    EXPECT_LE(row.position.top + row.position.height, holder.position.height);
  }
  EXPECT_EQ(inFrame, 4);  // Label8, LblTarFile, Label1, ProgressBar_tgz
  EXPECT_EQ(inPanel, 2);  // CmdHelp, cmdEnd
}

TEST(ControlTable, StopCoversStartExactlyAndLiesAboveIt) {
  const ControlDesign& start = DesignOf(ControlId::CmdConvertTGZ);
  const ControlDesign& stop = DesignOf(ControlId::CmdStop);
  EXPECT_EQ(start.position, stop.position);
  EXPECT_EQ(start.container, stop.container);
  EXPECT_GT(IndexOf(ControlId::CmdStop), IndexOf(ControlId::CmdConvertTGZ));
}

TEST(ControlTable, OnlyThePathLabelsShowAmpersandsLiterally) {
  for (const ControlDesign& row : ControlTable()) {
    const bool path = row.id == ControlId::LblSource || row.id == ControlId::LblTarFile ||
                      row.id == ControlId::LblDestination;
    EXPECT_EQ(row.literalText, path) << std::string(row.name.begin(), row.name.end());
    EXPECT_EQ(row.shortensPath, path) << std::string(row.name.begin(), row.name.end());
  }
  // The hint line relies on "&&" being shown as one "&".
  EXPECT_NE(DesignOf(ControlId::Label2).text.find(u"files && then"), std::u16string_view::npos);
}

TEST(ControlTable, ButtonsFollowTheirKeyboardOrderAndOnlyButtonsAreTabStops) {
  std::vector<ControlId> order;
  std::optional<ControlId> at;
  for (int i = 0; i < 8; ++i) {
    at = NextTabStop(at, true, [](ControlId) { return true; });
    ASSERT_TRUE(at);
    order.push_back(*at);
  }
  EXPECT_EQ(order, (std::vector<ControlId>{ControlId::CmdAddFolder, ControlId::CmdConvertTGZ,
                                           ControlId::CmdSendToAccount, ControlId::cmdEnd,
                                           ControlId::CmdHelp,
                                           ControlId::CmdOpen, ControlId::CmdStop,
                                           ControlId::CmdAddFolder}));
  for (const ControlDesign& row : ControlTable()) {
    EXPECT_EQ(row.tabIndex >= 0, row.kind == ControlKind::Button)
        << std::string(row.name.begin(), row.name.end());
  }
}

}  // namespace
}  // namespace mailsheaf
