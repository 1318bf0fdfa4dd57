#pragma once
// Message boxes and dialogs of the real program.

#include "app/ports.h"

namespace mailsheaf {

class Win32Ui final : public Ui {
 public:
  // Message boxes belong to this window (0 until the window exists).
  void SetOwner(WindowHandle owner) { owner_ = owner; }

  MessageAnswer ShowMessage(const MessageRequest& request) override;
  std::u16string BrowseForFolderPath(WindowHandle owner, const std::u16string& title) override;
  std::optional<std::u16string> ShowSaveDialog(const SaveDialogRequest& request) override;
  std::optional<AccountChoice> ShowAccountDialog(WindowHandle owner, const AccountChoice& initial,
                                                 AccountCheck& check) override;
  void ShowHelp(WindowHandle owner) override;

 private:
  WindowHandle owner_ = 0;
};

}  // namespace mailsheaf
