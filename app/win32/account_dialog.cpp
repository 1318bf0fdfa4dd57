#include "app/win32/account_dialog.h"

#include <algorithm>
#include <string>
#include <vector>

#include "app/app_texts.h"
#include "base/text.h"
#include "base/win32/wide.h"

namespace mailsheaf {
namespace {

// The template's words, DWORD-aligned items (DLGTEMPLATE, DLGITEMTEMPLATE).
class Template {
 public:
  void Word(WORD w) { words_.push_back(w); }
  void Text(std::u16string_view text) {
    for (char16_t c : text) words_.push_back(c);
    words_.push_back(0);
  }
  void Align() {
    if (words_.size() % 2 != 0) words_.push_back(0);
  }
  void Dword(DWORD d) {
    Word(static_cast<WORD>(d & 0xFFFF));
    Word(static_cast<WORD>(d >> 16));
  }
  void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD kind,
            std::u16string_view text) {
    Align();
    Dword(style | WS_CHILD | WS_VISIBLE);
    Dword(0);  // extended style
    for (short n : {x, y, cx, cy}) Word(static_cast<WORD>(n));
    Word(id);
    Word(0xFFFF);
    Word(kind);
    Text(text);
    Word(0);  // no creation data
    ++items_;
  }
  std::vector<WORD> Finish(std::u16string_view title, short cx, short cy) {
    Template head;
    head.Dword(DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    head.Dword(0);
    head.Word(static_cast<WORD>(items_));
    for (short n : {short{0}, short{0}, cx, cy}) head.Word(static_cast<WORD>(n));
    head.Word(0);  // no menu
    head.Word(0);  // the dialog class
    head.Text(title);
    head.Word(9);
    head.Text(u"MS Shell Dlg");
    head.Align();
    head.words_.insert(head.words_.end(), words_.begin(), words_.end());
    return head.words_;
  }

 private:
  std::vector<WORD> words_;
  int items_ = 0;
};

constexpr WORD kButton = 0x0080, kEdit = 0x0081, kStatic = 0x0082, kCombo = 0x0085;

struct DialogState {
  AccountChoice choice;
  AccountCheck* check = nullptr;
  bool checking = false;
  bool cancelled = false;
};

std::u16string TextOf(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  std::u16string text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, u'\0');
  text.resize(static_cast<size_t>(
      GetWindowTextW(control, WideBuffer(text), static_cast<int>(text.size()))));
  return text;
}

void Enable(HWND dialog, bool enabled) {
  for (int id : {int{kAccountServer}, int{kAccountSecurity}, int{kAccountUser},
                 int{kAccountPassword}, int{kAccountRemember}, int{IDOK}}) {
    EnableWindow(GetDlgItem(dialog, id), enabled);
  }
}

// The check's wait: the queue is served so that the dialog paints and its Cancel answers.
bool Waiting(HWND dialog, DialogState& state) {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      state.cancelled = true;
      break;
    }
    if (!IsDialogMessageW(dialog, &message)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  return state.cancelled;
}

void Confirm(HWND dialog, DialogState& state) {
  AccountChoice choice = state.choice;
  choice.host = TextOf(dialog, kAccountServer);
  choice.user = TextOf(dialog, kAccountUser);
  choice.password = Utf16ToUtf8(TextOf(dialog, kAccountPassword));
  const LRESULT security = SendDlgItemMessageW(dialog, kAccountSecurity, CB_GETCURSEL, 0, 0);
  choice.security = static_cast<AccountSecurity>(security >= 0 && security <= 2 ? security : 0);
  choice.remember = IsDlgButtonChecked(dialog, kAccountRemember) == BST_CHECKED;
  // Another server than the one a certificate was trusted for trusts none.
  if (choice.host != state.choice.host) choice.trusted_sha256.clear();

  state.checking = true;
  state.cancelled = false;
  Enable(dialog, false);
  SetDlgItemTextW(dialog, kAccountStatus, L"Connecting and logging in...");
  HCURSOR before = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  const AccountCheckOutcome outcome =
      state.check->Check(choice, [&] { return Waiting(dialog, state); });
  SetCursor(before);
  state.checking = false;
  if (state.cancelled) {
    EndDialog(dialog, IDCANCEL);
    return;
  }
  if (outcome.logged_in) {
    state.choice = choice;
    EndDialog(dialog, IDOK);
    return;
  }
  state.choice.trusted_sha256 = choice.trusted_sha256;
  Enable(dialog, true);
  SetDlgItemTextW(dialog, kAccountStatus, WidePointer(outcome.why));
  SetFocus(GetDlgItem(dialog, kAccountPassword));
}

INT_PTR CALLBACK DialogProcedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      state = reinterpret_cast<DialogState*>(lparam);
      SetWindowLongPtrW(dialog, DWLP_USER, lparam);
      SetDlgItemTextW(dialog, kAccountServer, WidePointer(state->choice.host));
      SetDlgItemTextW(dialog, kAccountUser, WidePointer(state->choice.user));
      for (const wchar_t* way : {L"SSL/TLS (993)", L"STARTTLS (143)",
                                 L"Plain text, not encrypted (143): only on your own network"}) {
        SendDlgItemMessageW(dialog, kAccountSecurity, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(way));
      }
      SendDlgItemMessageW(dialog, kAccountSecurity, CB_SETCURSEL,
                          static_cast<WPARAM>(state->choice.security), 0);
      CheckDlgButton(dialog, kAccountRemember, state->choice.remember ? BST_CHECKED : BST_UNCHECKED);
      // A remembered server and account leave only the password to type.
      const bool known = !state->choice.host.empty() && !state->choice.user.empty();
      SetFocus(GetDlgItem(dialog, known ? kAccountPassword : kAccountServer));
      return FALSE;
    }
    case WM_SETCURSOR:
      if (state != nullptr && state->checking) {
        SetCursor(LoadCursorW(nullptr, IDC_WAIT));
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      return FALSE;
    case WM_COMMAND:
      if (state == nullptr) return FALSE;
      switch (LOWORD(wparam)) {
        case IDOK:
          if (!state->checking) Confirm(dialog, *state);
          return TRUE;
        case IDCANCEL:
          if (state->checking) {
            state->cancelled = true;  // heard by the check's wait
          } else {
            EndDialog(dialog, IDCANCEL);
          }
          return TRUE;
      }
      return FALSE;
  }
  return FALSE;
}

}  // namespace

std::optional<AccountChoice> RunAccountDialog(HWND owner, const AccountChoice& initial,
                                              AccountCheck& check) {
  Template t;
  t.Item(SS_LEFT, 7, 7, 236, 9, 0xFFFF, kStatic, u"&Server (its host name, such as mail.example.com):");
  t.Item(ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 18, 236, 13, kAccountServer, kEdit, u"");
  t.Item(SS_LEFT, 7, 36, 236, 9, 0xFFFF, kStatic, u"&Connect with:");
  t.Item(CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 7, 47, 236, 60, kAccountSecurity, kCombo, u"");
  t.Item(SS_LEFT, 7, 65, 236, 9, 0xFFFF, kStatic, u"&Account (usually your e-mail address):");
  t.Item(ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP, 7, 76, 236, 13, kAccountUser, kEdit, u"");
  t.Item(SS_LEFT, 7, 94, 236, 9, 0xFFFF, kStatic, u"&Password:");
  t.Item(ES_AUTOHSCROLL | ES_PASSWORD | WS_BORDER | WS_TABSTOP, 7, 105, 236, 13, kAccountPassword,
         kEdit, u"");
  t.Item(BS_AUTOCHECKBOX | WS_TABSTOP, 7, 124, 236, 10, kAccountRemember, kButton,
         u"&Remember server and account (never the password)");
  t.Item(SS_LEFT, 7, 139, 236, 27, kAccountStatus, kStatic, u"");
  t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 139, 170, 50, 14, IDOK, kButton, u"OK");
  t.Item(BS_PUSHBUTTON | WS_TABSTOP, 193, 170, 50, 14, IDCANCEL, kButton, u"Cancel");
  const std::vector<WORD> words = t.Finish(kAccountDialogTitle, 250, 191);

  DialogState state;
  state.choice = initial;
  state.check = &check;
  const INT_PTR ended = DialogBoxIndirectParamW(
      GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(words.data()), owner,
      &DialogProcedure, reinterpret_cast<LPARAM>(&state));
  if (ended != IDOK) {
    std::fill(state.choice.password.begin(), state.choice.password.end(), '\0');
    return std::nullopt;
  }
  return std::move(state.choice);
}

}  // namespace mailsheaf
