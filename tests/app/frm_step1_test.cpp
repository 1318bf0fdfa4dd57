#include "app/frm_step1.h"

#include <gtest/gtest.h>

#include <sstream>

#include "tests/support/app_fakes.h"

namespace mailsheaf {
namespace {

using testing::RecordingHost;
using testing::RecordingShell;
using testing::RecordingUi;

// Entries read "<control row> <what>", e.g. "12 text=abc".
std::string Entry(ControlId c, const std::string& what) {
  std::ostringstream out;
  out << IndexOf(c) << ' ' << what;
  return out.str();
}

class RecordingView : public FrmStep1View {
 public:
  void SetText(ControlId c, const std::u16string& t) override {
    log.push_back(Entry(c, "text=" + std::string(t.begin(), t.end())));
  }
  void SetEnabled(ControlId c, bool e) override {
    log.push_back(Entry(c, e ? "enabled" : "disabled"));
  }
  void SetVisible(ControlId c, bool v) override { log.push_back(Entry(c, v ? "shown" : "hidden")); }
  void SetProgressRange(float lo, float hi) override {
    std::ostringstream out;
    out << "range " << lo << ".." << hi;
    log.push_back(out.str());
  }
  void SetProgressValue(float v) override {
    std::ostringstream out;
    out << "progress " << v;
    log.push_back(out.str());
  }
  void SetScreenPointer(ScreenPointer p) override {
    log.push_back(p == ScreenPointer::Hourglass ? "hourglass" : "arrow");
  }
  void HideWindow() override { log.push_back("hide"); }
  void FocusControl(ControlId c) override { log.push_back(Entry(c, "focus")); }
  void PaintNow() override { log.push_back("paint"); }
  WindowHandle OwnerWindow() const override { return 0x1234; }

  std::vector<std::string> log;
};

class FrmStep1Test : public ::testing::Test {
 protected:
  RecordingUi ui;
  RecordingShell shell;
  RecordingHost host;
  testing::FixedClock clock;
  testing::ScriptedTarFactory tars;
  FrmStep1 form{ui, shell, host, clock, tars, PlatformSystem()};
};

TEST_F(FrmStep1Test, AFreshWindowShowsItsDesignState) {
  for (ControlId path : {ControlId::LblSource, ControlId::LblTarFile, ControlId::LblDestination}) {
    EXPECT_EQ(form.Control(path).text, u"< Not Selected >") << IndexOf(path);
  }
  EXPECT_EQ(form.Control(ControlId::LblCount).text, u"");
  EXPECT_EQ(form.Control(ControlId::CmdConvertTGZ).text, u"Start Conversion");
  EXPECT_FALSE(form.Control(ControlId::CmdConvertTGZ).enabled);
  EXPECT_EQ(form.Control(ControlId::CmdOpen).text, u"Open Saving Location");
  EXPECT_FALSE(form.Control(ControlId::CmdOpen).enabled);
  EXPECT_FALSE(form.Control(ControlId::CmdStop).visible);
  EXPECT_TRUE(form.Control(ControlId::CmdConvertTGZ).visible);
  for (ControlId on : {ControlId::CmdAddFolder, ControlId::CmdHelp, ControlId::cmdEnd}) {
    EXPECT_TRUE(form.Control(on).enabled) << IndexOf(on);
    EXPECT_TRUE(form.Control(on).visible) << IndexOf(on);
  }
  EXPECT_EQ(form.ProgressValue(), 0.0f);
  EXPECT_EQ(form.ProgressMinimum(), 0.0f);
  EXPECT_EQ(form.ProgressMaximum(), 100.0f);
  EXPECT_EQ(form.CurrentScreenPointer(), ScreenPointer::Default);

  const FrmStep1State& state = form.State();
  EXPECT_TRUE(state.SourceFolder.empty());
  EXPECT_EQ(state.NextMessageNumber, 0);
  EXPECT_EQ(state.MessageCount, 0);
  EXPECT_EQ(state.FolderCount, 0);
  EXPECT_TRUE(state.TimeStamp.empty());
  EXPECT_TRUE(state.DestinationFile.empty());
  EXPECT_FALSE(state.StopRequested);
  EXPECT_EQ(state.myTar, nullptr);
  EXPECT_TRUE(host.calls.empty());
  EXPECT_EQ(form.OwnerWindow(), 0u);
}

TEST_F(FrmStep1Test, StartingUpInitialisesControlsYieldsOnceAndClearsTheStopRequest) {
  form.Form_Initialize();
  EXPECT_EQ(host.calls, (std::vector<std::string>{"init", "yield"}));

  form.State().StopRequested = true;
  form.Form_Load();
  EXPECT_FALSE(form.State().StopRequested);
  EXPECT_EQ(host.calls.size(), 2u);
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(FrmStep1Test, ExitAsksItsQuestionAndEndsOnlyOnYes) {
  const MessageRequest question{u"Are you sure you want to exit now?", u"Mailsheaf",
                                MessageButtons::YesNo, MessageIcon::Question};

  ui.answer = MessageAnswer::No;
  form.cmdEnd_Click();
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], question);
  EXPECT_EQ(host.Count("end"), 0);
  EXPECT_TRUE(shell.opened.empty());

  ui.answer = MessageAnswer::Yes;
  form.cmdEnd_Click();
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[1], question);
  EXPECT_EQ(host.calls, std::vector<std::string>{"end"});
}

TEST_F(FrmStep1Test, ClosingTheWindowEndsAtOnceWithoutAQuestion) {
  form.Form_Unload();
  EXPECT_EQ(host.calls, std::vector<std::string>{"end"});
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(FrmStep1Test, HelpAndTheGuideLinkShowTheHelpThatShipsWithTheProgram) {
  form.CmdHelp_Click();
  form.Label4_Click();
  EXPECT_EQ(ui.helpOwners, (std::vector<WindowHandle>{0, 0}));
  EXPECT_TRUE(shell.opened.empty());
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(FrmStep1Test, OpenSavingLocationOpensTheDestinationsFolder) {
  form.State().DestinationFile = u"C:\\Out\\ZimbraMailbox.tgz";
  form.CmdOpen_Click();
  form.State().DestinationFile = u"\\\\srv\\share\\box.tgz";
  form.CmdOpen_Click();
  EXPECT_EQ(shell.opened, (std::vector<std::u16string>{u"C:\\Out\\", u"\\\\srv\\share\\"}));
}

TEST_F(FrmStep1Test, OpenSavingLocationWithoutAFolderHandsTheShellNothingToOpen) {
  for (const char16_t* destination : {u"box.tgz", u""}) {
    shell.opened.clear();
    form.State().DestinationFile = destination;
    form.CmdOpen_Click();
    EXPECT_EQ(shell.opened, std::vector<std::u16string>{u""});
  }
  EXPECT_TRUE(ui.messages.empty());
}

TEST_F(FrmStep1Test, ClicksReachTheirHandlers) {
  ui.answer = MessageAnswer::No;
  form.State().DestinationFile = u"D:\\x\\a.tgz";
  form.Click(ControlId::CmdOpen);  // disabled until a destination is chosen
  EXPECT_TRUE(shell.opened.empty());
  form.SetEnabled(ControlId::CmdOpen, true);
  form.Click(ControlId::CmdHelp);
  form.Click(ControlId::Label4);
  form.Click(ControlId::CmdOpen);
  EXPECT_EQ(ui.helpOwners.size(), 2u);
  EXPECT_EQ(shell.opened, (std::vector<std::u16string>{u"D:\\x\\"}));

  form.Click(ControlId::cmdEnd);
  EXPECT_EQ(ui.messages.size(), 1u);

  // Hidden and disabled buttons take no clicks: one queued before the change is dropped.
  form.Click(ControlId::CmdStop);
  EXPECT_FALSE(form.State().StopRequested);
  form.SetVisible(ControlId::CmdStop, true);
  form.Click(ControlId::CmdStop);
  EXPECT_TRUE(form.State().StopRequested);
  form.Click(ControlId::CmdConvertTGZ);
  EXPECT_TRUE(ui.saveRequests.empty());

  // Controls without a handler change nothing.
  for (ControlId quiet : {ControlId::Label5, ControlId::lblTitle, ControlId::Image1}) {
    form.Click(quiet);
  }
  EXPECT_EQ(shell.opened.size() + ui.helpOwners.size(), 3u);
  EXPECT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(host.Count("end"), 0);
}

TEST_F(FrmStep1Test, ControlChangesReachTheWindowOnlyWhileOneIsAttached) {
  form.SetCaption(ControlId::LblCount, u"before");
  RecordingView view;
  form.AttachView(view);
  EXPECT_EQ(form.OwnerWindow(), 0x1234u);

  form.SetCaption(ControlId::LblCount, u"1 Messages && 0 Folder(s)");
  form.SetEnabled(ControlId::CmdConvertTGZ, true);
  form.SetVisible(ControlId::CmdStop, true);
  form.SetProgressRange(0, 100);
  form.SetProgressValue(42);
  form.SetScreenPointer(ScreenPointer::Hourglass);
  form.FocusControl(ControlId::CmdStop);
  form.PaintNow();
  form.HideWindow();
  EXPECT_EQ(view.log,
            (std::vector<std::string>{Entry(ControlId::LblCount, "text=1 Messages && 0 Folder(s)"),
                                      Entry(ControlId::CmdConvertTGZ, "enabled"),
                                      Entry(ControlId::CmdSendToAccount, "enabled"),
                                      Entry(ControlId::CmdStop, "shown"), "range 0..100",
                                      "progress 42", "hourglass",
                                      Entry(ControlId::CmdStop, "focus"), "paint", "hide"}));
  EXPECT_EQ(form.Control(ControlId::LblCount).text, u"1 Messages && 0 Folder(s)");
  EXPECT_TRUE(form.Control(ControlId::CmdConvertTGZ).enabled);
  EXPECT_TRUE(form.Control(ControlId::CmdStop).visible);
  EXPECT_EQ(form.ProgressValue(), 42.0f);
  EXPECT_EQ(form.CurrentScreenPointer(), ScreenPointer::Hourglass);

  form.DetachView();
  form.SetCaption(ControlId::LblCount, u"after");
  form.FocusControl(ControlId::CmdHelp);
  form.PaintNow();
  EXPECT_EQ(view.log.size(), 10u);
  EXPECT_EQ(form.Control(ControlId::LblCount).text, u"after");
  EXPECT_EQ(form.OwnerWindow(), 0u);
}

TEST_F(FrmStep1Test, AHandlerMayRunWhileAnotherWaitsInAYield) {
  // Exit clicked while the start-up yield processes messages; answered Yes it ends at once.
  ui.answer = MessageAnswer::Yes;
  host.onYieldToQueue = [this] {
    host.onYieldToQueue = nullptr;
    form.Click(ControlId::cmdEnd);
  };
  form.Form_Initialize();
  EXPECT_EQ(host.calls, (std::vector<std::string>{"init", "yield", "end"}));
  EXPECT_EQ(ui.messages.size(), 1u);
}

}  // namespace
}  // namespace mailsheaf
