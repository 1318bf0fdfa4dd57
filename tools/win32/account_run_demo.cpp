// MailsheafAccountRun.exe: the real window on the sample tree of MailsheafFinishedRun, for the
// README's pictures of the account route. "dialog": the real account dialog, filled in as a
// person would, left open. "finished": a run into an account played from a script (no server
// is reached), ending in the real outcome box, left open. Not part of the product.

#include "app/win32/windows_api.h"

#include <objbase.h>
#include <shellapi.h>

#include <string>

#include "app/archive_tar_component.h"
#include "app/frm_step1.h"
#include "app/win32/account_dialog.h"
#include "app/win32/run_window.h"
#include "app/win32/win32_clock.h"
#include "app/win32/win32_host.h"
#include "app/win32/win32_shell.h"
#include "app/win32/win32_ui.h"
#include "base/text.h"

namespace mailsheaf {
namespace {

std::u16string SampleFolder() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  const std::u16string root = FromWide(temp) + u"Mailsheaf account sample\\";
  CreateDirectoryW(WidePointer(root), nullptr);
  for (const char16_t* folder : {u"Inbox", u"Sent", u"Projects"}) {
    CreateDirectoryW(WidePointer(root + folder), nullptr);
    for (int i = 1; i <= 20; ++i) {
      const std::u16string path = root + folder + u"\\Message " + DecimalText(i) + u".eml";
      HANDLE file = CreateFileW(WidePointer(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                                nullptr);
      const char text[] = "Subject: Sample\r\nDate: Mon, 2 Nov 2026 09:00:00 +0100\r\n\r\nText\r\n";
      DWORD written = 0;
      WriteFile(file, text, sizeof text - 1, &written, nullptr);
      CloseHandle(file);
    }
  }
  return root.substr(0, root.size() - 1);
}

// An account that logs in at once and a run that plays 60 messages, 40 of them there already.
class PlayedRoute final : public AccountRoute,
                          public AccountCheck,
                          public AccountSettings,
                          public AccountUpload {
 public:
  AccountCheckOutcome Check(AccountChoice&, const std::function<bool()>&) override {
    return {true, {}, std::nullopt};
  }
  AccountChoice Load() override {
    AccountChoice c;
    c.host = u"mail.example.com";
    c.user = u"alice@example.com";
    return c;
  }
  void Save(const AccountChoice&) override {}
  void Forget() override {}
  AccountCheck& Check() override { return *this; }
  AccountSettings& Settings() override { return *this; }
  std::unique_ptr<AccountUpload> CreateUpload() override {
    return std::make_unique<PlayedRoute>();
  }
  AccountRunResult Run(const std::u16string& folder, const AccountChoice&,
                       UploadEvents& events) override {
    UploadProgress p;
    p.messages_total = 60;
    for (int i = 1; i <= 60; ++i) {
      p.messages_done = i;
      p.current_file = folder + u"\\Projects\\Message " + DecimalText(i % 20 + 1) + u".eml";
      events.Progress(p);
      Sleep(10);
    }
    AccountRunResult result;
    result.report.mailboxes.resize(1);
    result.report.mailboxes[0].already_there = 40;
    result.report.mailboxes[0].added = 20;
    return result;
  }
};

// The password typed, hidden as the dialog hides it.
void CALLBACK TypePassword(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  HWND box = FindWindowW(L"#32770", L"Send to Mail Account");
  SetDlgItemTextW(box, kAccountPassword, L"secret password");
}

class DemoUi final : public Ui {
 public:
  DemoUi(Win32Ui& real, std::u16string folder, bool dialog)
      : real_(real), folder_(std::move(folder)), dialog_(dialog) {}
  MessageAnswer ShowMessage(const MessageRequest& request) override {
    if (request.icon == MessageIcon::None) return MessageAnswer::Ok;  // the count box
    return real_.ShowMessage(request);
  }
  std::u16string BrowseForFolderPath(WindowHandle, const std::u16string&) override {
    return folder_;
  }
  std::optional<std::u16string> ShowSaveDialog(const SaveDialogRequest&) override {
    return std::nullopt;
  }
  void ShowHelp(WindowHandle owner) override { real_.ShowHelp(owner); }
  std::optional<AccountChoice> ShowAccountDialog(WindowHandle owner, const AccountChoice& initial,
                                                 AccountCheck& check) override {
    if (!dialog_) {
      AccountChoice typed = initial;
      check.Check(typed, [] { return false; });
      return typed;
    }
    SetTimer(nullptr, 0, 300, &TypePassword);
    return RunAccountDialog(reinterpret_cast<HWND>(owner), initial, check);
  }

 private:
  Win32Ui& real_;
  std::u16string folder_;
  bool dialog_;
};

}  // namespace
}  // namespace mailsheaf

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  using namespace mailsheaf;
  try {
    OleInitialize(nullptr);
    int count = 0;
    LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
    const bool dialog = count > 1 && lstrcmpW(args[1], L"dialog") == 0;
    Win32Ui realUi;
    DemoUi ui(realUi, SampleFolder(), dialog);
    Win32Shell shell;
    Win32Host host;
    Win32Clock clock;
    ArchiveTarComponentFactory tars;
    PlayedRoute route;
    FrmStep1 form(ui, shell, host, clock, tars, PlatformSystem());
    form.SetAccountRoute(&route);
    return RunWindow(form, realUi, host, instance, showCommand, [&form] {
      form.Click(ControlId::CmdAddFolder);
      form.Click(ControlId::CmdSendToAccount);
    });
  } catch (...) {
    return 1;
  }
}
