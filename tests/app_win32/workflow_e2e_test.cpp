// The whole job under Wine: the real window and its real controls, clicked as a person clicks
// them; the real scan and the real archive writer on real files. Only the folder browser, the
// save dialog and the message boxes are stand-ins, and the process is not really ended.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/win32/windows_api.h"

#include <commctrl.h>

#include "app/archive_tar_component.h"
#include "app/frm_step1.h"
#include "app/win32/main_window.h"
#include "app/win32/message_pump.h"
#include "app/win32/win32_clock.h"
#include "app/win32/win32_ui.h"
#include "base/text.h"
#include "tests/archive/support/tar_reader.h"
#include "tests/support/app_fakes.h"
#include "tests/support/pumping_host_win32.h"
#include "tests/support/win_tree_win32.h"

namespace mailsheaf {
namespace {

using testing::RecordingShell;
using testing::RecordingUi;

using testing::PumpingHost;

std::u16string TextOf(HWND control) {
  std::u16string text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, u'\0');
  text.resize(static_cast<size_t>(
      GetWindowTextW(control, WideBuffer(text), static_cast<int>(text.size()))));
  return text;
}

// Message boxes: recorded, and while `real` is set also shown as the real thing, owned by the
// window, and closed by Enter on their button as soon as they are up.
class BoxUi final : public RecordingUi {
 public:
  MessageAnswer ShowMessage(const MessageRequest& request) override {
    if (!real) return RecordingUi::ShowMessage(request);
    messages.push_back(request);
    const UINT_PTR timer = SetTimer(nullptr, 0, 50, &PressEnterInTheBox);
    Win32Ui boxes;  // as the program shows them
    boxes.SetOwner(reinterpret_cast<WindowHandle>(owner));
    boxes.ShowMessage(request);
    KillTimer(nullptr, timer);
    return MessageAnswer::Ok;
  }
  bool real = false;
  HWND owner = nullptr;
  static inline bool offScreen = false;  // a real box reached past the screen's left edge

 private:
  static void CALLBACK PressEnterInTheBox(HWND, UINT, UINT_PTR, DWORD) {
    HWND box = GetActiveWindow();
    wchar_t name[16] = {};
    GetClassNameW(box, name, 16);
    if (lstrcmpW(name, L"#32770") == 0 && GetFocus()) {
      if (RECT at; GetWindowRect(box, &at) && at.left < 0) offScreen = true;
      PostMessageW(GetFocus(), WM_KEYDOWN, VK_RETURN, 1);
      PostMessageW(GetFocus(), WM_KEYUP, VK_RETURN, 1 | (3u << 30));
    }
  }
};

// Messages in the tree, by their path below the root ("/"-separated, as stored).
const std::map<std::u16string, std::string> kMessages = {
    {u"top.eml", "From: a@example.org\r\nDate: Tue, 1 Mar 2016 10:00:00 +0000\r\n\r\nTop\r\n"},
    {u"\u0412\u0445\u043e\u0434\u044f\u0449\u0438\u0435/\u043f\u0438\u0441\u044c\u043c\u043e.eml",
     "Subject: =?UTF-8?B?0J/RgNC40LLQtdGC?=\r\n\r\nCyrillic folder\r\n"},
    {u"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac/\u03bc\u03ae\u03bd\u03c5\u03bc\u03b1.eml",
     "Subject: Greek\n\nbare line feeds\n"},
    {u"\u90ae\u4ef6/\u4fe1.eml", [] {
       std::string message = "Subject: CJK\r\n\r\n";
       while (message.size() < 300000) message += std::string(76, 'x') + "\r\n";
       return message;
     }()},
    {u"Caf\u00e9/Sous-dossier/r\u00e9ponse.eml", "Subject: R\u00e9ponse\r\n\r\nOui.\r\n"},
    {u"Tom & Jerry/news.eml", "Subject: ampersand folder\r\n\r\n&&\r\n"},
};

// The destination folder, below the tree's root.
const std::u16string kOut = u"\u0410\u0440\u0445\u0438\u0432";

class WorkflowEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source = tree.Path(u"Source\\");
    out = tree.Path(kOut + u"\\");
    tree.Folder(kOut);
    for (const auto& [relative, bytes] : kMessages) {
      std::u16string path = u"Source\\";
      for (char16_t c : relative) path.push_back(c == u'/' ? u'\\' : c);
      tree.Write(path, bytes);
    }
    tree.Write(u"Source\\notes.txt", "not a message");
    tree.Folder(u"Source\\Empty");

    MainWindowOptions options;
    options.resources = GetModuleHandleW(nullptr);
    options.dpiX = options.dpiY = 96;
    window = MainWindow::Create(form, options);
    ASSERT_TRUE(window);
    host.translator = window.get();
  }

  void TearDown() override { window.reset(); }

  HWND Control(ControlId id) const { return window->ControlWindow(id); }
  void ClickButton(ControlId id) { SendMessageW(Control(id), BM_CLICK, 0, 0); }

  testing::WinTree tree;
  std::u16string source, out;
  BoxUi ui;
  RecordingShell shell;
  PumpingHost host;
  Win32Clock clock;
  ArchiveTarComponentFactory tars;
  FrmStep1 form{ui, shell, host, clock, tars, PlatformSystem()};
  std::unique_ptr<MainWindow> window;
};

TEST_F(WorkflowEndToEndTest, FromFolderToArchiveWithEveryMessageByteForByte) {
  ui.chosenFolder = source.substr(0, source.size() - 1);  // as the browser returns it
  ClickButton(ControlId::CmdAddFolder);

  // Six messages; folders: six with messages or on the way, and Empty.
  EXPECT_EQ(TextOf(Control(ControlId::LblSource)), source);
  EXPECT_EQ(TextOf(Control(ControlId::LblCount)),
            u"6 Messages && 7 Folder(s) Queued for Conversion.");
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, u"6 Messages Queued for Conversion.");
  EXPECT_TRUE(IsWindowEnabled(Control(ControlId::CmdConvertTGZ)));

  const std::u16string destination = out + u"Zimbra box.tgz";
  ui.savedName = destination;
  ui.messages.clear();
  ClickButton(ControlId::CmdConvertTGZ);

  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].caption, u"Completed...");
  EXPECT_EQ(host.ends, 0);
  EXPECT_EQ(SendMessageW(Control(ControlId::ProgressBar_tgz), PBM_GETPOS, 0, 0), 100);
  const std::u16string lastFile = TextOf(Control(ControlId::LblTarFile));
  EXPECT_EQ(lastFile.rfind(source, 0), 0u) << Utf16ToUtf8(lastFile);
  EXPECT_EQ(lastFile.substr(lastFile.size() - 4), u".eml");
  EXPECT_TRUE(IsWindowEnabled(Control(ControlId::CmdConvertTGZ)));
  EXPECT_EQ(TextOf(Control(ControlId::CmdConvertTGZ)), u"Start Conversion");
  EXPECT_EQ(GetWindowLongW(Control(ControlId::CmdStop), GWL_STYLE) & WS_VISIBLE, 0);
  EXPECT_TRUE(IsWindowEnabled(Control(ControlId::CmdOpen)));
  EXPECT_TRUE(IsWindowEnabled(Control(ControlId::CmdAddFolder)));
  EXPECT_EQ(TextOf(Control(ControlId::LblDestination)), destination);

  // Only the archive is in the destination folder: no temporary file beside it.
  EXPECT_EQ(tree.NamesIn(kOut), std::vector<std::u16string>{u"Zimbra box.tgz"});
  const std::vector<testing::TarItem> items = testing::ReadArchiveBytes(tree.Read(destination));
  std::map<std::u16string, std::string> stored;
  for (const testing::TarItem& item : items) {
    if (item.type == '0') stored[Utf8ToUtf16(item.name)] = item.data;
  }
  EXPECT_EQ(stored, kMessages);

  ClickButton(ControlId::CmdOpen);
  EXPECT_EQ(shell.opened, std::vector<std::u16string>{out});
}

// The folder button is disabled during the scan and the start button during the run, and the
// focus moves on from each. Once the count box is closed with Enter, a second Enter must start
// the conversion rather than ask whether to exit; after the run the focus is on "Open Saving
// Location".
TEST_F(WorkflowEndToEndTest, EnterAfterTheCountBoxStartsTheConversionAndExitIsNeverLeftFocused) {
  window->Show(SW_SHOWNORMAL);
  SetForegroundWindow(window->Handle());
  host.YieldToQueue();
  ASSERT_EQ(GetActiveWindow(), window->Handle());
  SetFocus(Control(ControlId::CmdAddFolder));

  ui.owner = window->Handle();
  ui.real = true;
  ui.chosenFolder = source;
  ClickButton(ControlId::CmdAddFolder);
  ui.real = false;
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, u"6 Messages Queued for Conversion.");
  host.YieldToQueue();
  EXPECT_EQ(GetActiveWindow(), window->Handle());
  EXPECT_EQ(GetFocus(), Control(ControlId::CmdConvertTGZ));

  ui.savedName = out + u"box.tgz";
  ui.messages.clear();
  MSG enter{};
  enter.hwnd = GetFocus();
  enter.message = WM_KEYDOWN;
  enter.wParam = VK_RETURN;
  EXPECT_TRUE(window->PreTranslate(enter));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].caption, u"Completed...");
  EXPECT_EQ(GetFocus(), Control(ControlId::CmdOpen));

  // A folder without messages: choosing another is the way on.
  testing::WinTree bare;
  bare.Write(u"Mail\\notes.txt", "not a message");
  ui.chosenFolder = bare.Path(u"Mail");
  SetFocus(Control(ControlId::CmdAddFolder));
  ClickButton(ControlId::CmdAddFolder);
  EXPECT_EQ(GetFocus(), Control(ControlId::CmdAddFolder));
  EXPECT_EQ(host.ends, 0);
}

TEST_F(WorkflowEndToEndTest, AStopAnsweredYesLeavesNoArchiveAndNoTemporaryFile) {
  ui.chosenFolder = source;
  ClickButton(ControlId::CmdAddFolder);
  // A file that was at the destination before stays as it was.
  const std::u16string destination = out + u"box.tgz";
  tree.Write(kOut + u"\\box.tgz", "an older archive");

  window->Show(SW_SHOWNOACTIVATE);
  ASSERT_TRUE(IsWindowVisible(window->Handle()));
  form.State().StopRequested = true;  // as a click on "Stop Conversion" leaves it
  ui.answer = MessageAnswer::Yes;
  ui.savedName = destination;
  ui.messages.clear();
  ClickButton(ControlId::CmdConvertTGZ);

  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, u"Are you sure you want to Stop now ?");
  EXPECT_EQ(host.ends, 1);
  EXPECT_FALSE(IsWindowVisible(window->Handle()));
  EXPECT_EQ(tree.NamesIn(kOut), std::vector<std::u16string>{u"box.tgz"});
  EXPECT_EQ(tree.Read(destination), "an older archive");
}

TEST_F(WorkflowEndToEndTest, WhatWasAdjustedIsShownAfterCompletedAndWrittenBesideTheArchive) {
  tree.Write(u"Source\\Contacts\\card.eml", "Subject: not a contact\r\n\r\nmail\r\n");
  tree.Write(u"Source\\Junk\\Old\\spam.eml", "Status: O\r\n\r\nspam\r\n");
  tree.Write(u"Source\\._top.eml", std::string("\x00\x05\x16\x07 Mac", 8));
  ui.chosenFolder = source;
  ClickButton(ControlId::CmdAddFolder);
  // In a folder whose name, without a break, is far wider than the screen: the boxes are real.
  const std::u16string deep = kOut + u"\\" + std::u16string(240, u'M');
  tree.Folder(deep);
  const std::u16string destination = tree.Path(deep + u"\\box.tgz");
  ui.savedName = destination;
  ui.messages.clear();
  window->Show(SW_SHOWNORMAL);
  SetForegroundWindow(window->Handle());
  ui.owner = window->Handle();
  ui.real = true;
  ClickButton(ControlId::CmdConvertTGZ);

  ASSERT_EQ(ui.messages.size(), 2u);
  EXPECT_EQ(ui.messages[0].caption, u"Completed...");
  EXPECT_FALSE(BoxUi::offScreen);
  const std::u16string report = tree.Path(deep + u"\\box - report.txt");
  EXPECT_EQ(ui.messages[1].text,
            u"9 messages were queued and 8 stored.\r\n"
            u"2 names changed, 1 file left out, 1 message stored as unread.\r\n\r\n"
            u"The details are in the report beside the archive:\r\n" + report);
  const std::string written = tree.Read(report);
  EXPECT_NE(written.find("\"Contacts\" -> \"Contacts (mail)\": "), std::string::npos) << written;
  EXPECT_NE(written.find("\"Junk/Old\" -> \"Junk - Old\": "), std::string::npos) << written;
  EXPECT_NE(written.find("._top.eml\": it is a resource file"), std::string::npos) << written;

  std::map<std::string, testing::TarItem> stored;
  for (const testing::TarItem& item : testing::ReadArchiveBytes(tree.Read(destination))) {
    stored[item.name] = item;
  }
  EXPECT_EQ(stored.count("Contacts (mail)/card.eml"), 1u);
  EXPECT_EQ(stored["Junk - Old/spam.eml"].mode, 0444u) << "unread";
  EXPECT_EQ(stored["top.eml"].mode, 0644u);
  EXPECT_EQ(stored.count("._top.eml"), 0u);
}

TEST_F(WorkflowEndToEndTest, FailuresToReadOrWriteAreReportedWithTheirReasons) {
  ui.chosenFolder = source;
  ClickButton(ControlId::CmdAddFolder);
  const std::u16string destination = source + u"top.eml";  // confirmed in the save dialog
  ui.savedName = destination;
  ui.messages.clear();
  ClickButton(ControlId::CmdConvertTGZ);

  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text,
            u"Error in Creating TGZ File...\r\n\r\n"
            u"The archive would replace a message it has to store: " + destination);
  EXPECT_EQ(tree.Read(destination), kMessages.at(u"top.eml"));
  EXPECT_EQ(tree.NamesIn(u"Source").size(), 8u) << "nothing added beside the messages";

  // Chosen again, Start reads as before; moved away before the run, the folder cannot be read.
  ClickButton(ControlId::CmdAddFolder);
  EXPECT_EQ(TextOf(Control(ControlId::CmdConvertTGZ)), u"Start Conversion");
  ASSERT_TRUE(MoveFileW(WidePointer(tree.Path(u"Source")), WidePointer(tree.Path(u"Away"))));
  ClickButton(ControlId::CmdConvertTGZ);
  EXPECT_EQ(ui.messages.back().text,
            u"Error Reading Messages...\r\n\r\nThe source folder " + source + u" does not exist.");
}

TEST_F(WorkflowEndToEndTest, AStopDuringOneLongMessageIsAskedAboutWithinIt) {
  // One message only, long enough to take well over a quarter of a second to store: the
  // question can only come from the events repeated while it is written.
  testing::WinTree long_tree;
  std::string noise(64 << 20, '\0');
  uint32_t state = 7;
  for (char& c : noise) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
  long_tree.Write(u"Mail\\long.eml", "Subject: long\r\n\r\n" + noise);
  long_tree.Folder(u"Out");
  long_tree.Write(u"Out\\box.tgz", "an older archive");
  ui.chosenFolder = long_tree.Path(u"Mail");
  ClickButton(ControlId::CmdAddFolder);

  const std::u16string long_path = long_tree.Path(u"Mail\\long.eml");
  host.onYield = [&] {
    // The click on "Stop Conversion" lands once the message is being stored.
    if (TextOf(Control(ControlId::LblTarFile)) == long_path) form.State().StopRequested = true;
  };
  ui.answer = MessageAnswer::Yes;
  ui.savedName = long_tree.Path(u"Out\\box.tgz");
  ui.messages.clear();
  ClickButton(ControlId::CmdConvertTGZ);

  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, u"Are you sure you want to Stop now ?");
  EXPECT_EQ(host.ends, 1);
  EXPECT_EQ(long_tree.NamesIn(u"Out"), std::vector<std::u16string>{u"box.tgz"});
  EXPECT_EQ(long_tree.Read(long_tree.Path(u"Out\\box.tgz")), "an older archive");
}

TEST_F(WorkflowEndToEndTest, TheBarMovesOnATreeOfTinyMessages) {
  testing::WinTree small_tree;
  for (int i = 0; i < 400; ++i) small_tree.Write(u"Mail\\" + DecimalText(i) + u".eml", "x");
  small_tree.Folder(u"Out");
  ui.chosenFolder = small_tree.Path(u"Mail");
  ClickButton(ControlId::CmdAddFolder);

  std::vector<LRESULT> positions;
  host.onYield = [&] {
    const LRESULT position = SendMessageW(Control(ControlId::ProgressBar_tgz), PBM_GETPOS, 0, 0);
    if (positions.empty() || positions.back() != position) positions.push_back(position);
  };
  ui.savedName = small_tree.Path(u"Out\\box.tgz");
  ui.messages.clear();
  ClickButton(ControlId::CmdConvertTGZ);

  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].caption, u"Completed...");
  EXPECT_GE(positions.size(), 20u) << "the bar stood still, then jumped";
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
}

}  // namespace
}  // namespace mailsheaf
