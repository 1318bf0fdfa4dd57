// MailsheafFinishedRun.exe: the real window doing one whole run on a small sample tree that it
// makes in the temporary folder, for the README's picture of a finished conversion. The folder
// browser and the save dialog answer by themselves (the sample tree; the proposed name in the
// temporary folder) and the count box is skipped; the completion box is the real one and stays
// on screen until it is closed. Not part of the product.

#include "app/win32/windows_api.h"

#include <objbase.h>

#include <string>

#include "app/archive_tar_component.h"
#include "app/frm_step1.h"
#include "app/win32/run_window.h"
#include "app/win32/win32_clock.h"
#include "app/win32/win32_host.h"
#include "app/win32/win32_shell.h"
#include "app/win32/win32_ui.h"
#include "base/text.h"

namespace mailsheaf {
namespace {

std::u16string TempFolder() {
  wchar_t temp[MAX_PATH];
  GetTempPathW(MAX_PATH, temp);
  return FromWide(temp);
}

void WriteMessage(const std::u16string& path, int number) {
  const std::string text = "From: Sample Sender <sender@example.org>\r\n"
                           "To: you@example.org\r\n"
                           "Subject: Sample message " + std::to_string(number) + "\r\n"
                           "Date: Mon, 2 Nov 2026 09:" + std::to_string(10 + number % 50) +
                           ":00 +0100\r\n\r\nSample text.\r\n";
  HANDLE file = CreateFileW(WidePointer(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
}

// Mail\Inbox, Mail\Sent, Mail\Projects\2026: 60 messages in all.
std::u16string MakeSampleTree() {
  const std::u16string root = TempFolder() + u"Mailsheaf sample\\Mail\\";
  CreateDirectoryW(WidePointer(TempFolder() + u"Mailsheaf sample"), nullptr);
  CreateDirectoryW(WidePointer(root), nullptr);
  int number = 0;
  for (const char16_t* folder : {u"Inbox", u"Sent", u"Projects", u"Projects\\2026"}) {
    CreateDirectoryW(WidePointer(root + folder), nullptr);
    for (int i = 0; i < 15; ++i) {
      ++number;
      WriteMessage(root + folder + u"\\Message " + DecimalText(number) + u".eml", number);
    }
  }
  return root.substr(0, root.size() - 1);
}

class SampleRunUi final : public Ui {
 public:
  SampleRunUi(Win32Ui& real, std::u16string folder) : real_(real), folder_(std::move(folder)) {}
  MessageAnswer ShowMessage(const MessageRequest& request) override {
    if (request.icon == MessageIcon::None) return MessageAnswer::Ok;  // the count box
    return real_.ShowMessage(request);
  }
  std::u16string BrowseForFolderPath(WindowHandle, const std::u16string&) override {
    return folder_;
  }
  std::optional<std::u16string> ShowSaveDialog(const SaveDialogRequest& request) override {
    return TempFolder() + u"Mailsheaf sample\\" + request.proposedName;
  }
  void ShowHelp(WindowHandle owner) override { real_.ShowHelp(owner); }

 private:
  Win32Ui& real_;
  std::u16string folder_;
};

}  // namespace
}  // namespace mailsheaf

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
  using namespace mailsheaf;
  try {
    OleInitialize(nullptr);
    Win32Ui realUi;
    SampleRunUi ui(realUi, MakeSampleTree());
    Win32Shell shell;
    Win32Host host;
    Win32Clock clock;
    ArchiveTarComponentFactory tars;
    FrmStep1 form(ui, shell, host, clock, tars, PlatformSystem());
    return RunWindow(form, realUi, host, instance, showCommand, [&form] {
      form.Click(ControlId::CmdAddFolder);
      form.Click(ControlId::CmdConvertTGZ);
    });
  } catch (...) {
    return 1;
  }
}
