// The conversion workflow on the portable window: choosing and counting a folder, the archive
// run with its states and reports, progress, and stopping. The scan runs on a scripted file
// system; the archive writer is scripted.

#include <gtest/gtest.h>

#include <map>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "app/frm_step1.h"
#include "app/time_stamp.h"
#include "fs/message_scan.h"
#include "tests/support/app_fakes.h"
#include "tests/support/fake_system.h"

namespace mailsheaf {
namespace {

using testing::RecordingHost;
using testing::RecordingShell;
using testing::RecordingUi;
using testing::ScopedFakeSystem;
using testing::ScriptedTar;
using testing::TarStep;

const std::u16string kCompleted =
    u"Messages Converted Successfully.\r\n"
    u"Click \"Open Saving Location\" button to view & locate converted file.\r\n"
    u"\r\n"
    u"Open Zimbra Desktop or Zimbra Web Client and use \"Import\" option to import emails from "
    u"converted .tgz file.\r\n";

// Every text each control was given, in order; where the focus was sent; and, in order, the
// changes to the start button and the paints.
class TextHistoryView : public FrmStep1View {
 public:
  void SetText(ControlId c, const std::u16string& t) override {
    texts[c].push_back(t);
    if (c == ControlId::CmdConvertTGZ) startAndPaints.push_back("text");
  }
  void SetEnabled(ControlId c, bool) override {
    if (c == ControlId::CmdConvertTGZ) startAndPaints.push_back("state");
  }
  void SetVisible(ControlId, bool) override {}
  void SetProgressRange(float, float) override {}
  void SetProgressValue(float v) override { progress.push_back(v); }
  void SetScreenPointer(ScreenPointer) override {}
  void HideWindow() override { hidden = true; }
  void FocusControl(ControlId c) override { focused.push_back(c); }
  void PaintNow() override { startAndPaints.push_back("paint"); }
  WindowHandle OwnerWindow() const override { return 0x4242; }

  std::map<ControlId, std::vector<std::u16string>> texts;
  std::vector<float> progress;
  std::vector<ControlId> focused;
  std::vector<std::string> startAndPaints;
  bool hidden = false;
};

MessageRequest Info(std::u16string text, std::u16string caption = u"Mailsheaf") {
  return {std::move(text), std::move(caption), MessageButtons::Ok, MessageIcon::Information};
}

class WorkflowTest : public ::testing::Test {
 protected:
  WorkflowTest() {
    form.AttachView(view);
    fake->AddFile(u"C:\\root\\a.eml");
    fake->AddFile(u"C:\\root\\sub\\b.eml");
    fake->AddFile(u"C:\\root\\sub\\deeper\\c.eml");
    fake->AddFolder(u"C:\\root\\empty");
  }

  const ControlState& C(ControlId id) const { return form.Control(id); }
  const std::vector<std::u16string>& History(ControlId id) { return view.texts[id]; }

  // A selection of `folder` that the browser returns, its count box answered.
  void Select(const std::u16string& folder) {
    ui.chosenFolder = folder;
    form.Click(ControlId::CmdAddFolder);
  }
  // A start whose save dialog returns `destination` (nothing: cancelled).
  void Start(std::optional<std::u16string> destination = u"D:\\Out\\box.tgz") {
    ui.savedName = std::move(destination);
    form.Click(ControlId::CmdConvertTGZ);
  }
  ScriptedTar& LastTar() { return *tars.made.back(); }

  ScopedFakeSystem fake;
  RecordingUi ui;
  RecordingShell shell;
  RecordingHost host;
  testing::FixedClock clock;
  testing::ScriptedTarFactory tars;
  TextHistoryView view;
  FrmStep1 form{ui, shell, host, clock, tars, fake};
};

// --- choosing and counting a folder ------------------------------------------------------------

TEST_F(WorkflowTest, SelectionCountsTheTreeShowsTheTotalsAndEnablesStart) {
  ScreenPointer pointerAtBox = ScreenPointer::Hourglass;
  ui.onMessage = [&] { pointerAtBox = form.CurrentScreenPointer(); };
  Select(u"C:\\root");

  EXPECT_EQ(ui.browseTitles, std::vector<std::u16string>{u"Choose Source Folder..."});
  EXPECT_EQ(ui.browseOwners, std::vector<WindowHandle>{0x4242});
  EXPECT_EQ(form.State().SourceFolder, u"C:\\root\\");
  EXPECT_EQ(C(ControlId::LblSource).text, u"C:\\root\\");
  EXPECT_EQ(form.State().NextMessageNumber, 4);
  EXPECT_EQ(form.State().MessageCount, 3);
  EXPECT_EQ(form.State().FolderCount, 3);
  EXPECT_EQ(History(ControlId::LblCount),
            (std::vector<std::u16string>{u"", u"1 Messages Queued for Conversion.",
                                         u"2 Messages Queued for Conversion.",
                                         u"3 Messages Queued for Conversion.",
                                         u"3 Messages && 3 Folder(s) Queued for Conversion."}));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], (MessageRequest{u"3 Messages Queued for Conversion.", u"Mailsheaf",
                                            MessageButtons::Ok, MessageIcon::None}));
  EXPECT_EQ(pointerAtBox, ScreenPointer::Default);
  EXPECT_TRUE(C(ControlId::CmdConvertTGZ).enabled);
  EXPECT_TRUE(C(ControlId::CmdAddFolder).enabled);
}

TEST_F(WorkflowTest, SelectionClearsTheOldChoiceAndADriveRootKeepsOneBackslash) {
  fake->AddFile(u"C:\\top.eml");
  Select(u"C:\\root");
  Start();
  ASSERT_EQ(C(ControlId::LblDestination).text, u"D:\\Out\\box.tgz");

  Select(u"C:\\");
  EXPECT_EQ(form.State().SourceFolder, u"C:\\");
  EXPECT_EQ(C(ControlId::LblDestination).text, u"< Not Selected >");
  EXPECT_EQ(C(ControlId::LblTarFile).text, u"< Not Selected >");
  // The second count stands alone: four messages, the root folder and its four below.
  EXPECT_EQ(C(ControlId::LblCount).text, u"4 Messages && 4 Folder(s) Queued for Conversion.");
  // The destination itself and "Open Saving Location" are not forgotten.
  EXPECT_EQ(form.State().DestinationFile, u"D:\\Out\\box.tgz");
  EXPECT_TRUE(C(ControlId::CmdOpen).enabled);
}

TEST_F(WorkflowTest, CancelledSelectionClearsTheLabelsAndLeavesStartAsItWas) {
  Select(u"C:\\root");
  ui.messages.clear();
  Select(u"");
  for (ControlId path : {ControlId::LblSource, ControlId::LblTarFile, ControlId::LblDestination}) {
    EXPECT_EQ(C(path).text, u"< Not Selected >");
  }
  EXPECT_EQ(C(ControlId::LblCount).text, u"");
  EXPECT_TRUE(form.State().SourceFolder.empty());
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(C(ControlId::CmdConvertTGZ).enabled);

  // Starting now hands the writer the empty text, which it refuses.
  tars.prepare = [](ScriptedTar& tar) { tar.addResult = 0; };
  Start();
  ASSERT_EQ(tars.made.size(), 1u);
  EXPECT_EQ(LastTar().roots, std::vector<std::u16string>{u""});
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0], Info(u"Error Reading Messages..."));
}

TEST_F(WorkflowTest, AFolderWithoutMessagesReportsZeroAndKeepsStartDisabled) {
  fake->AddFolder(u"C:\\bare\\x");
  fake->AddFolder(u"C:\\bare\\y\\z");
  fake->AddFile(u"C:\\bare\\notes.txt");
  Select(u"C:\\bare\\");
  EXPECT_EQ(C(ControlId::LblCount).text, u"0 Messages && 3 Folder(s) Queued for Conversion.");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, u"0 Messages Queued for Conversion.");
  EXPECT_FALSE(C(ControlId::CmdConvertTGZ).enabled);

  fake->AddFile(u"C:\\one\\m.eml");
  Select(u"C:\\one");
  EXPECT_EQ(C(ControlId::LblCount).text, u"1 Messages && 0 Folder(s) Queued for Conversion.");
  EXPECT_TRUE(C(ControlId::CmdConvertTGZ).enabled);
}

TEST_F(WorkflowTest, NoSecondSelectionOrStartWhileAScanRuns) {
  Select(u"C:\\root");  // Start is enabled by a first selection
  int nested = 0;
  bool addFolderDisabled = true, startDisabled = true;
  host.onYieldToQueue = [&] {
    if (nested++ != 5) return;
    addFolderDisabled = !C(ControlId::CmdAddFolder).enabled;
    startDisabled = !C(ControlId::CmdConvertTGZ).enabled;
    // Clicks queued before the buttons were disabled, and direct calls, change nothing.
    ui.chosenFolder = u"C:\\root\\sub";
    form.CmdAddFolder_Click();
    form.CmdConvertTGZ_Click();
  };
  ui.chosenFolder = u"C:\\root";
  form.Click(ControlId::CmdAddFolder);
  host.onYieldToQueue = nullptr;

  EXPECT_TRUE(addFolderDisabled);
  EXPECT_TRUE(startDisabled);
  EXPECT_EQ(ui.browseTitles.size(), 2u);
  EXPECT_TRUE(ui.saveRequests.empty());
  EXPECT_EQ(form.State().MessageCount, 3);
  EXPECT_EQ(form.State().FolderCount, 3);
  EXPECT_TRUE(C(ControlId::CmdAddFolder).enabled);
  EXPECT_TRUE(C(ControlId::CmdConvertTGZ).enabled);
}

TEST_F(WorkflowTest, AnErrorInsideTheScanIsReportedAndNothingCanBeConverted) {
  struct Case {
    std::function<void()> raise;
    std::u16string report;
  };
  const Case cases[] = {
      {[] { throw CounterOverflow(); },
       u"The folder holds more messages or folders than can be counted (2147483647). "
       u"Counting stopped; choose a smaller folder."},
      {[] { throw std::bad_alloc(); },
       u"There was not enough memory to count the messages in this folder. Counting stopped."},
  };
  for (const Case& c : cases) {
    Select(u"C:\\root");  // a good selection first: Start enabled
    ui.messages.clear();
    fake->onCall = [&](const testing::FakeSystem::Call& call) {
      if (call.function == "GetFileAttributesW" && call.path == u"C:\\root\\sub\\b.eml") c.raise();
    };
    Select(u"C:\\root");
    fake->onCall = nullptr;

    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0], Info(c.report));
    // What was counted before the error stays on show.
    EXPECT_EQ(C(ControlId::LblCount).text, u"1 Messages Queued for Conversion.");
    EXPECT_EQ(form.State().MessageCount, 1);
    EXPECT_FALSE(C(ControlId::CmdConvertTGZ).enabled);
    EXPECT_TRUE(C(ControlId::CmdAddFolder).enabled);
    EXPECT_EQ(form.CurrentScreenPointer(), ScreenPointer::Default);
    EXPECT_EQ(fake->openListings(), 0);
  }
}

// The folder button loses the focus while it is disabled for the scan, to Exit: the count line,
// which takes no key, holds it meanwhile. Afterwards the focus goes to the next step, so that
// Enter after the count box never reaches Exit.
TEST_F(WorkflowTest, AfterAScanTheFocusGoesToTheNextStepNeverToExit) {
  Select(u"C:\\root");
  EXPECT_EQ(view.focused, (std::vector<ControlId>{ControlId::LblCount, ControlId::CmdConvertTGZ}));

  fake->AddFile(u"C:\\bare\\notes.txt");
  view.focused.clear();
  Select(u"C:\\bare");
  EXPECT_EQ(view.focused, (std::vector<ControlId>{ControlId::LblCount, ControlId::CmdAddFolder}));

  fake->onCall = [&](const testing::FakeSystem::Call& call) {
    if (call.function == "GetFileAttributesW" && call.path == u"C:\\root\\a.eml") {
      throw std::bad_alloc();
    }
  };
  view.focused.clear();
  Select(u"C:\\root");
  fake->onCall = nullptr;
  EXPECT_EQ(view.focused.back(), ControlId::CmdAddFolder);

  // The focus is placed before the count box opens: closing the box gives it back there.
  std::vector<ControlId> focusedAtBox;
  ui.onMessage = [&] { focusedAtBox = view.focused; };
  view.focused.clear();
  Select(u"C:\\root");
  EXPECT_EQ(focusedAtBox.back(), ControlId::CmdConvertTGZ);
}

// --- the archive run ---------------------------------------------------------------------------

TEST(TimeStamp, DayMonthTwoDigitYearHourMinutesAndTwoDigitSeconds) {
  EXPECT_EQ(FormatTimeStamp({2015, 1, 9, 14, 5, 7}), u"9.1.15 14.5.07");
  EXPECT_EQ(FormatTimeStamp({2021, 3, 1, 0, 0, 5}), u"1.3.21 0.0.05");
  EXPECT_EQ(FormatTimeStamp({2000, 12, 31, 23, 59, 59}), u"31.12.00 23.59.59");
  EXPECT_EQ(FormatTimeStamp({2109, 10, 10, 10, 10, 10}), u"10.10.09 10.10.10");
}

TEST_F(WorkflowTest, CancellingTheSaveDialogChangesNothing) {
  Select(u"C:\\root");
  Start(std::nullopt);
  ASSERT_EQ(ui.saveRequests.size(), 1u);
  EXPECT_EQ(ui.saveRequests[0].filter, u"Zimbra Mailboxe(s) (*.tgz)|*.tgz");
  EXPECT_EQ(ui.saveRequests[0].proposedName, u"ZimbraMailbox9.1.15 14.5.07.tgz");
  EXPECT_EQ(ui.saveRequests[0].owner, 0x4242u);
  EXPECT_EQ(form.State().TimeStamp, u"9.1.15 14.5.07");
  EXPECT_TRUE(tars.made.empty());
  EXPECT_TRUE(C(ControlId::CmdConvertTGZ).enabled);
  EXPECT_EQ(C(ControlId::CmdConvertTGZ).text, u"Start Conversion");
  EXPECT_FALSE(C(ControlId::CmdOpen).enabled);
  EXPECT_EQ(C(ControlId::LblDestination).text, u"< Not Selected >");

  // An empty name is taken, and ends the handler there.
  Start(u"");
  EXPECT_TRUE(form.State().DestinationFile.empty());
  EXPECT_TRUE(tars.made.empty());
  EXPECT_FALSE(C(ControlId::CmdOpen).enabled);
}

TEST_F(WorkflowTest, ASuccessfulRunGoesThroughItsStatesAndEndsReady) {
  Select(u"C:\\root");
  ui.messages.clear();
  bool stopShownDuringWrite = false, startDisabledDuringWrite = false,
       addFolderDisabledDuringWrite = false;
  tars.prepare = [&](ScriptedTar& tar) {
    tar.script = {{TarStep::Percent, 0, {}},
                  {TarStep::File, 0, u"C:\\root\\a.eml"},
                  {TarStep::Percent, 40, {}},
                  {TarStep::File, 0, u"C:\\root\\sub\\b.eml"},
                  {TarStep::Percent, 100, {}}};
  };
  host.onYieldToQueue = [&] {
    if (C(ControlId::CmdStop).visible) {
      stopShownDuringWrite = true;
      startDisabledDuringWrite = !C(ControlId::CmdConvertTGZ).enabled;
      addFolderDisabledDuringWrite = !C(ControlId::CmdAddFolder).enabled;
    }
  };
  Start();

  ASSERT_EQ(tars.made.size(), 1u);
  EXPECT_EQ(form.State().myTar.get(), tars.made[0]);
  EXPECT_EQ(LastTar().formats, std::vector<std::u16string>{u"gnu"});
  EXPECT_EQ(LastTar().roots, std::vector<std::u16string>{u"C:\\root\\"});
  EXPECT_EQ(LastTar().destinations, std::vector<std::u16string>{u"D:\\Out\\box.tgz"});
  EXPECT_EQ(form.State().DestinationFile, u"D:\\Out\\box.tgz");
  EXPECT_EQ(C(ControlId::LblDestination).text, u"D:\\Out\\box.tgz");

  EXPECT_TRUE(stopShownDuringWrite);
  EXPECT_TRUE(startDisabledDuringWrite);
  EXPECT_TRUE(addFolderDisabledDuringWrite);
  EXPECT_EQ(History(ControlId::CmdConvertTGZ),
            (std::vector<std::u16string>{u"Please Wait...", u"Conversion in Progress...",
                                         u"Conversion in Progress...", u"Conversion in Progress...",
                                         u"Start Conversion"}));
  EXPECT_EQ(History(ControlId::LblTarFile),
            (std::vector<std::u16string>{u"< Not Selected >", u"Reading Message Folder(s)...",
                                         u"C:\\root\\a.eml", u"C:\\root\\sub\\b.eml"}));
  EXPECT_EQ(view.progress, (std::vector<float>{0, 40, 100}));
  EXPECT_EQ(ui.messages, std::vector<MessageRequest>{Info(kCompleted, u"Completed...")});

  EXPECT_FALSE(C(ControlId::CmdStop).visible);
  EXPECT_TRUE(C(ControlId::CmdConvertTGZ).enabled);
  EXPECT_EQ(C(ControlId::CmdConvertTGZ).text, u"Start Conversion");
  EXPECT_TRUE(C(ControlId::CmdOpen).enabled);
  EXPECT_TRUE(C(ControlId::CmdAddFolder).enabled);
  // Progress and the last file stay as the run left them.
  EXPECT_EQ(form.ProgressValue(), 100.0f);
  EXPECT_EQ(C(ControlId::LblTarFile).text, u"C:\\root\\sub\\b.eml");

  form.Click(ControlId::CmdOpen);
  EXPECT_EQ(shell.opened, std::vector<std::u16string>{u"D:\\Out\\"});
}

TEST_F(WorkflowTest, WhatTheRunAdjustedIsShownAfterCompletedWhereThereIsAnything) {
  Select(u"C:\\root");
  ui.messages.clear();
  tars.prepare = [](ScriptedTar& t) {
    t.stored = 2;
    t.report.left_out.push_back({u"C:\\root\\._a.eml", u"not a message"});
    t.report.reencoded.push_back({u"C:\\root\\sub\\b.eml", u""});
    t.report.unread = 1;
    t.reportFile = u"D:\\Out\\box - report.txt";
  };
  Start();
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0].caption, u"Completed...");
  EXPECT_EQ(ui.messages[1],
            Info(u"3 messages were queued and 2 stored.\r\n"
                 u"1 message re-encoded, 1 file left out, 1 message stored as unread.\r\n\r\n"
                 u"The details are in the report beside the archive:\r\n"
                 u"D:\\Out\\box - report.txt"));
  EXPECT_EQ(C(ControlId::CmdConvertTGZ).text, u"Start Conversion");

  // A report that could not be written is said instead of its place.
  ui.messages.clear();
  tars.prepare = [](ScriptedTar& t) {
    t.stored = 3;
    t.report.unread = 3;
    t.reportFileError = u"Cannot write D:\\Out\\box - report.txt: The disk is full.";
  };
  Start();
  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[1].text,
            u"3 messages were queued and 3 stored.\r\n3 messages stored as unread.\r\n\r\n"
            u"The report could not be written: Cannot write D:\\Out\\box - report.txt: "
            u"The disk is full.");

  // Nothing adjusted: "Completed..." alone, as ever; the writer was told what was counted.
  ui.messages.clear();
  tars.prepare = [](ScriptedTar& t) { t.stored = 3; };
  Start();
  EXPECT_EQ(ui.messages.size(), 1u);
  const std::map<std::u16string, std::int64_t> counted = {
      {u"", 1}, {u"sub/", 1}, {u"sub/deeper/", 1}};
  EXPECT_EQ(LastTar().counted, counted);

}

TEST_F(WorkflowTest, EachFailureHasItsReportAndLeavesStartDisabled) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
    MessageRequest report;
    bool stopShown;
  };
  const Case cases[] = {
      {"no writer", [&] { tars.failCreation = true; }, Info(u"Error Reading Messages..."), false},
      {"root refused",
       [&] { tars.prepare = [](ScriptedTar& t) { t.addResult = 0, t.errorText = u"Gone."; }; },
       Info(u"Error Reading Messages...\r\n\r\nGone."), false},
      {"write failed", [&] { tars.prepare = [](ScriptedTar& t) { t.writeResult = 0; }; },
       Info(u"Error in Creating TGZ File..."), true},
      {"write returned 2", [&] { tars.prepare = [](ScriptedTar& t) { t.writeResult = 2; }; },
       Info(u"Error in Creating TGZ File..."), true},
      {"write failed with a reason",
       [&] {
         tars.prepare = [](ScriptedTar& t) {
           t.writeResult = 0;
           t.errorText = u"Cannot write the archive D:\\Out\\m.tgz: The disk is full.";
         };
       },
       Info(u"Error in Creating TGZ File...\r\n\r\n"
            u"Cannot write the archive D:\\Out\\m.tgz: The disk is full."),
       true},
      {"write raised", [&] { tars.prepare = [](ScriptedTar& t) { t.throwInWrite = true; }; },
       Info(u"Zimbra Mailbox File Creation Error !", u"File Error"), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    tars.failCreation = false;
    tars.prepare = nullptr;
    Select(u"C:\\root");
    ui.messages.clear();
    c.arrange();
    // One event during the write, so that its yield sees the window mid-write.
    tars.prepare = [inner = tars.prepare](ScriptedTar& t) {
      t.script = {{TarStep::Percent, 50, {}}};
      if (inner) inner(t);
    };
    bool stopShown = false;
    host.onYieldToQueue = [&] { stopShown = stopShown || C(ControlId::CmdStop).visible; };
    Start();
    host.onYieldToQueue = nullptr;

    EXPECT_EQ(ui.messages, std::vector<MessageRequest>{c.report});
    EXPECT_EQ(stopShown, c.stopShown);
    EXPECT_FALSE(C(ControlId::CmdStop).visible);
    EXPECT_FALSE(C(ControlId::CmdConvertTGZ).enabled);
    EXPECT_EQ(C(ControlId::CmdConvertTGZ).text, u"Start Conversion");
    EXPECT_TRUE(C(ControlId::CmdOpen).enabled);
    EXPECT_TRUE(C(ControlId::CmdAddFolder).enabled);
    EXPECT_EQ(form.State().DestinationFile, u"D:\\Out\\box.tgz");
  }
}

TEST_F(WorkflowTest, AfterARunTheFocusRestsOnTheNextStepNeverOnExit) {
  Select(u"C:\\root");
  view.focused.clear();
  Start();
  EXPECT_EQ(view.focused, (std::vector<ControlId>{ControlId::CmdStop, ControlId::CmdOpen}));

  // A failed run leaves Start disabled: a new selection comes first.
  for (const bool writerFails : {true, false}) {
    tars.prepare = [writerFails](ScriptedTar& t) {
      (writerFails ? t.writeResult : t.addResult) = 0;
    };
    Select(u"C:\\root");
    view.focused.clear();
    Start();
    EXPECT_EQ(view.focused.back(), ControlId::CmdAddFolder) << writerFails;
  }
}

// A writer may take long to prepare (a slow or network folder) before its first event lets the
// window paint: by then "Please Wait..." must be on screen, on the disabled button.
TEST_F(WorkflowTest, PleaseWaitIsPaintedBeforeTheWriterStarts) {
  Select(u"C:\\root");
  std::u16string captionAtWrite;
  std::vector<std::string> changesAtWrite;
  tars.prepare = [&](ScriptedTar& tar) {
    tar.script = {{TarStep::Percent, 10, {}}};
    tar.onWrite = [&] {
      captionAtWrite = C(ControlId::CmdConvertTGZ).text;
      changesAtWrite = view.startAndPaints;
    };
  };
  view.startAndPaints.clear();
  Start();

  EXPECT_EQ(captionAtWrite, u"Please Wait...");
  // The caption, then the button disabled, then a paint of both before the writer runs.
  EXPECT_EQ(changesAtWrite, (std::vector<std::string>{"text", "state", "paint"}));
}

TEST_F(WorkflowTest, EveryRunHasAWriterOfItsOwn) {
  Select(u"C:\\root");
  Start(u"D:\\one.tgz");
  Start(u"D:\\two.tgz");
  ASSERT_EQ(tars.made.size(), 2u);
  EXPECT_EQ(form.State().myTar.get(), tars.made[1]);
  EXPECT_EQ(LastTar().destinations, std::vector<std::u16string>{u"D:\\two.tgz"});
}

TEST_F(WorkflowTest, PercentagesOutsideTheBarAreClamped) {
  Select(u"C:\\root");
  tars.prepare = [](ScriptedTar& tar) {
    tar.script = {{TarStep::Percent, -5, {}}, {TarStep::Percent, 150, {}}};
  };
  Start();
  EXPECT_EQ(view.progress, (std::vector<float>{0, 100}));
}

TEST_F(WorkflowTest, NoSecondStartFromTheYieldBeforeTheButtonIsDisabled) {
  Select(u"C:\\root");
  host.onYieldToQueue = [&] {
    host.onYieldToQueue = nullptr;
    ASSERT_TRUE(C(ControlId::CmdConvertTGZ).enabled);  // still enabled at this first yield
    form.Click(ControlId::CmdConvertTGZ);
    form.Click(ControlId::CmdAddFolder);
  };
  Start();
  EXPECT_EQ(tars.made.size(), 1u);
  EXPECT_EQ(ui.saveRequests.size(), 1u);
  EXPECT_EQ(ui.browseTitles.size(), 1u);
}

// --- stopping ----------------------------------------------------------------------------------

const MessageRequest kStopAsked{u"Are you sure you want to Stop now ?", u"Mailsheaf",
                                MessageButtons::YesNo, MessageIcon::Question};

// No lets the run carry on: only another click on Stop asks again, and a click after the last
// file stops nothing, not even the next run.
TEST_F(WorkflowTest, StopAnsweredNoLetsTheRunCarryOnUntilStopIsClickedAgain) {
  // The yields, counted while Stop shows (1: after the first file), that click it; the questions.
  const std::pair<std::set<int>, std::size_t> cases[] = {
      {{1}, 1}, {{1, 2}, 1}, {{1, 3}, 2}, {{6}, 0}};
  Select(u"C:\\root");
  tars.prepare = [&](ScriptedTar& tar) {
    tar.script = {{TarStep::File, 0, u"a"}, {TarStep::Percent, 30, {}}, {TarStep::File, 0, u"b"},
                  {TarStep::Percent, 60, {}}, {TarStep::File, 0, u"c"}, {TarStep::Percent, 90, {}}};
  };
  ui.answer = MessageAnswer::No;
  for (const auto& [clicks, questions] : cases) {
    for (const bool nextRun : {false, true}) {  // the next run has no click
      int yields = 0;
      host.onYieldToQueue = [&] {
        if (!nextRun && C(ControlId::CmdStop).visible && clicks.count(++yields)) {
          form.Click(ControlId::CmdStop);
        }
      };
      ui.messages.clear();
      Start();
      std::vector<MessageRequest> expected(nextRun ? 0 : questions, kStopAsked);
      expected.push_back(Info(kCompleted, u"Completed..."));
      EXPECT_EQ(ui.messages, expected) << questions << nextRun;
    }
  }
  EXPECT_EQ(host.Count("end"), 0);
}

TEST_F(WorkflowTest, StopAnsweredYesHidesTheWindowDiscardsTheArchiveAndEnds) {
  Select(u"C:\\root");
  tars.prepare = [&](ScriptedTar& tar) {
    tar.script = {{TarStep::File, 0, u"C:\\root\\a.eml"}, {TarStep::Percent, 50, {}},
                  {TarStep::File, 0, u"C:\\root\\sub\\b.eml"}};
  };
  form.State().StopRequested = true;
  ui.answer = MessageAnswer::Yes;
  ui.messages.clear();
  Start();

  EXPECT_EQ(ui.messages, std::vector<MessageRequest>{kStopAsked});
  EXPECT_TRUE(view.hidden);
  ASSERT_EQ(tars.made.size(), 1u);
  EXPECT_TRUE(LastTar().stopped);
  EXPECT_EQ(host.Count("end"), 1);
  EXPECT_EQ(C(ControlId::LblTarFile).text, u"C:\\root\\a.eml");
}

TEST_F(WorkflowTest, ExitAnsweredYesDuringAWriteDiscardsTheArchiveBeforeEnding) {
  Select(u"C:\\root");
  tars.prepare = [&](ScriptedTar& tar) {
    tar.script = {{TarStep::Percent, 10, {}}, {TarStep::Percent, 20, {}}};
  };
  bool stoppedAtEnd = false;
  host.onYieldToQueue = [&] {
    if (!C(ControlId::CmdStop).visible || host.Count("end") > 0) return;
    ui.answer = MessageAnswer::Yes;
    form.Click(ControlId::cmdEnd);
    stoppedAtEnd = LastTar().stopped;
  };
  ui.messages.clear();
  Start();
  EXPECT_TRUE(stoppedAtEnd);
  EXPECT_EQ(host.Count("end"), 1);
  ASSERT_EQ(ui.messages.size(), 1u);  // the exit question; no outcome box after the end
  EXPECT_EQ(ui.messages[0].text, u"Are you sure you want to exit now?");
}

TEST_F(WorkflowTest, ClosingDuringAWriteDiscardsTheArchiveBeforeEnding) {
  Select(u"C:\\root");
  tars.prepare = [&](ScriptedTar& tar) {
    tar.script = {{TarStep::Percent, 10, {}}, {TarStep::Percent, 20, {}}};
  };
  host.onYieldToQueue = [&] {
    if (C(ControlId::CmdStop).visible && host.Count("end") == 0) form.Form_Unload();
  };
  ui.messages.clear();
  Start();
  ASSERT_EQ(tars.made.size(), 1u);
  EXPECT_TRUE(LastTar().stopped);
  EXPECT_EQ(host.Count("end"), 1);
  EXPECT_TRUE(ui.messages.empty());
}

}  // namespace
}  // namespace mailsheaf
