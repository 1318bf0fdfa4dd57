// "Send to Mail Account..." under Wine, through the real window and the real account dialog,
// into the Dovecot the tests start (Schannel): a wrong password said in the dialog and then
// corrected, the certificate question answered Yes, progress, the outcome box; the account read
// back (every message once, its folder, read state and date); a second run adds nothing; a run
// stopped half-way is finished by the next; Cancel heard while the server says nothing. Message
// boxes are stand-ins that answer as told.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/win32/windows_api.h"

#include <commctrl.h>

#include "app/account_upload.h"
#include "app/archive_tar_component.h"
#include "app/frm_step1.h"
#include "app/win32/account_dialog.h"
#include "app/win32/main_window.h"
#include "app/win32/registry_settings.h"
#include "app/win32/win32_clock.h"
#include "base/text.h"
#include "tests/support/app_fakes.h"
#include "tests/support/pumping_host_win32.h"
#include "tests/support/win_tree_win32.h"
#include "tests/upload/test_server.h"

namespace mailsheaf {
namespace {

using upload_test::Server;
using upload_test::TestHost;

// The dialog as a person fills it: each round's typing at its turn (while the real dialog
// runs its own loop), then OK; the boxes answer as told.
class TypingUi final : public testing::RecordingUi {
 public:
  std::optional<AccountChoice> ShowAccountDialog(WindowHandle owner, const AccountChoice& initial,
                                                 AccountCheck& check) override {
    current = this;
    round = 0;
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, &Type);
    std::optional<AccountChoice> chosen =
        RunAccountDialog(reinterpret_cast<HWND>(owner), initial, check);
    KillTimer(nullptr, timer);
    return chosen;
  }

  std::vector<std::u16string> passwords;  // one round each; cancelled after the last
  std::u16string server;
  std::u16string user;
  std::vector<std::u16string> statuses;   // what the dialog said before each round but the first
  bool cancel_while_checking = false;

 private:
  static void CALLBACK Type(HWND, UINT, UINT_PTR, DWORD) {
    TypingUi& ui = *current;
    HWND dialog = FindWindowW(L"#32770", L"Send to Mail Account");
    if (dialog == nullptr) return;
    if (!IsWindowEnabled(GetDlgItem(dialog, IDOK))) {  // the check waits on the server
      if (ui.cancel_while_checking) PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
      return;
    }
    if (ui.round > 0) {
      wchar_t status[512] = {};
      GetDlgItemTextW(dialog, kAccountStatus, status, 512);
      ui.statuses.push_back(FromWide(status));
    }
    if (ui.round >= ui.passwords.size()) {
      PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
      return;
    }
    SetDlgItemTextW(dialog, kAccountServer, WidePointer(ui.server));
    SendDlgItemMessageW(dialog, kAccountSecurity, CB_SETCURSEL, 0, 0);
    SetDlgItemTextW(dialog, kAccountUser, WidePointer(ui.user));
    SetDlgItemTextW(dialog, kAccountPassword, WidePointer(ui.passwords[ui.round++]));
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  }
  static inline TypingUi* current = nullptr;
  size_t round = 0;
};

const std::map<std::u16string, std::string> kMessages = {
    {u"a.eml", "Subject: a\r\nMessage-ID: <a@e2e>\r\nDate: Tue, 3 Mar 2020 10:00:00 +0000\r\n\r\na\r\n"},
    {u"Inbox\\b.eml", "Subject: b\r\nMessage-ID: <b@e2e>\r\nStatus: O\r\nDate: Tue, 3 Mar 2020 "
                      "11:00:00 +0000\r\n\r\nb\r\n"},
    {u"Caf\u00e9\\c.eml", "Subject: c\r\nMessage-ID: <c@e2e>\r\nDate: Wed, 4 Mar 2020 12:00:00 "
                          "+0000\r\n\r\nc\r\n"},
};

class AccountEndToEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(Server().imaps_port, 0) << "the Dovecot fixture did not run";
    settings.Forget();  // the test prefix's registry, as a new user's
    for (const auto& [path, bytes] : kMessages) tree.Write(u"Source\\" + path, bytes);
    for (int n = 0; n < 40; ++n) {
      tree.Write(u"Source\\Bulk\\" + DecimalText(100 + n) + u".eml",
                 "Subject: bulk\r\nMessage-ID: <bulk" + std::to_string(n) +
                     "@e2e>\r\nDate: Tue, 3 Mar 2020 10:00:00 +0000\r\n\r\n" +
                     std::string(2000, 'x') + "\r\n");
    }
    ui.server = Utf8ToUtf16(TestHost()) + u":" + DecimalText(Server().imaps_port);
    ui.user = Utf8ToUtf16(user);
    ui.answer = MessageAnswer::Yes;  // the certificate question, and Stop when clicked
    Start();
  }
  void TearDown() override { window.reset(); }

  // The program started afresh (after a stop ended it), the folder chosen and counted.
  void Start() {
    window.reset();
    form = std::make_unique<FrmStep1>(ui, shell, host, clock, tars, PlatformSystem());
    MainWindowOptions options;
    options.resources = GetModuleHandleW(nullptr);
    options.dpiX = options.dpiY = 96;
    window = MainWindow::Create(*form, options);
    ASSERT_TRUE(window);
    host.translator = window.get();
    host.ends = 0;
    form->SetAccountRoute(&route);
    ui.chosenFolder = tree.Path(u"Source");
    SendMessageW(window->ControlWindow(ControlId::CmdAddFolder), BM_CLICK, 0, 0);
  }

  void Send() {
    ui.messages.clear();
    SendMessageW(window->ControlWindow(ControlId::CmdSendToAccount), BM_CLICK, 0, 0);
  }
  std::u16string Outcome() const {
    for (const MessageRequest& m : ui.messages) {
      if (m.caption == u"Sent to the Mail Account") return m.text;
    }
    return u"(no outcome box)";
  }
  // Every message in the account by mailbox: its bytes, read state and date.
  std::map<std::u16string, std::vector<std::string>> ReadBack() {
    std::map<std::u16string, std::vector<std::string>> held;
    upload_test::Session s(upload_test::Address(ImapSecurity::kTls), {}, user);
    for (const std::u16string mailbox : {u"INBOX", u"Caf\u00e9", u"Bulk"}) {
      MailboxStatus status;
      std::vector<StoredMessage> stored;
      if (!s.imap.Select(mailbox, true, status, s.error) ||
          !s.imap.FetchStoredMessages(stored, s.error)) {
        continue;
      }
      for (const StoredMessage& m : stored) {
        std::string bytes;
        s.imap.FetchMessage(m.uid, bytes, s.error);
        const bool seen = std::find(m.flags.begin(), m.flags.end(), "\\Seen") != m.flags.end();
        held[mailbox].push_back(bytes + (seen ? " seen " : " unseen ") + std::to_string(m.internal_date));
      }
    }
    return held;
  }

  const std::string user = "mailsheaf-12";
  testing::WinTree tree;
  TypingUi ui;
  testing::RecordingShell shell;
  testing::PumpingHost host;
  Win32Clock clock;
  ArchiveTarComponentFactory tars;
  RegistrySettings settings;
  // The journal and the report in the test's own folder, as in a user's own.
  RealAccountRoute route{settings, [this](const char* name, std::string& value) {
                           if (std::string_view(name) != "LOCALAPPDATA") return false;
                           value = Utf16ToUtf8(tree.Path(u"State"));
                           return true;
                         }};
  std::unique_ptr<FrmStep1> form;
  std::unique_ptr<MainWindow> window;
};

TEST_F(AccountEndToEndTest, FromFolderIntoTheAccountOnceRunAfterRunAndAfterAStop) {
  // A stop half-way: Stop clicked once twenty messages are done, answered Yes.
  ui.passwords = {u"not-" + Utf8ToUtf16(Server().password), Utf8ToUtf16(Server().password)};
  host.onYield = [&] {
    const std::u16string reading = [&] {
      wchar_t text[512] = {};
      GetWindowTextW(window->ControlWindow(ControlId::LblTarFile), text, 512);
      return FromWide(text);
    }();
    if (host.ends == 0 && reading.rfind(u"20 of ", 0) == 0) {
      SendMessageW(window->ControlWindow(ControlId::CmdStop), BM_CLICK, 0, 0);
    }
  };
  Send();
  ASSERT_EQ(ui.statuses.size(), 1u);
  EXPECT_NE(ui.statuses[0].find(u"refused the account name or the password"), std::u16string::npos)
      << Utf16ToUtf8(ui.statuses[0]);
  // The certificate of the test's own authority, which Windows does not know: asked, trusted.
  ASSERT_FALSE(ui.messages.empty());
  EXPECT_NE(ui.messages[0].text.find(Utf8ToUtf16(Server().fingerprint)), std::u16string::npos);
  EXPECT_EQ(host.ends, 1);
  EXPECT_EQ(settings.Load().trusted_sha256, Server().fingerprint);

  // The next run, with the server and account remembered, finishes it; then nothing to add.
  host.onYield = nullptr;
  Start();
  ui.passwords = {Utf8ToUtf16(Server().password)};
  for (const char16_t* expected : {u" added", u"43 already in the account, 0 added"}) {
    Send();
    EXPECT_NE(Outcome().find(expected), std::u16string::npos) << Utf16ToUtf8(Outcome());
    EXPECT_EQ(host.ends, 0);
  }
  wchar_t destination[256] = {};
  GetWindowTextW(window->ControlWindow(ControlId::LblDestination), destination, 256);
  EXPECT_EQ(FromWide(destination), ui.user + u" at " + ui.server);

  const auto held = ReadBack();
  ASSERT_EQ(held.count(u"Bulk"), 1u);
  EXPECT_EQ(held.at(u"Bulk").size(), 40u);
  const std::vector<std::string> inbox = held.count(u"INBOX") ? held.at(u"INBOX") : std::vector<std::string>{};
  EXPECT_EQ(inbox, (std::vector<std::string>{kMessages.at(u"a.eml") + " seen 1583229600",
                                              kMessages.at(u"Inbox\\b.eml") + " unseen 1583233200"}));
  ASSERT_EQ(held.count(u"Caf\u00e9"), 1u);
  EXPECT_EQ(held.at(u"Caf\u00e9"), (std::vector<std::string>{kMessages.at(u"Caf\u00e9\\c.eml") +
                                                             " seen 1583323200"}));
}

TEST_F(AccountEndToEndTest, CancelWhileTheServerIsSilentEndsTheDialogAndSendsNothing) {
  ui.server = Utf8ToUtf16(TestHost()) + u":" + DecimalText(Server().silent_port);
  ui.passwords = {u"secret"};
  ui.cancel_while_checking = true;
  Send();
  // Had Cancel waited for the check's time-out, the dialog would have shown why and gone on.
  EXPECT_TRUE(ui.statuses.empty());
  EXPECT_EQ(Outcome(), u"(no outcome box)");
  EXPECT_TRUE(IsWindowEnabled(window->ControlWindow(ControlId::CmdSendToAccount)));
}

}  // namespace
}  // namespace mailsheaf
