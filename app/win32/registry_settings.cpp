#include "app/win32/registry_settings.h"

#include "app/win32/windows_api.h"

#include "base/text.h"
#include "base/win32/wide.h"

namespace mailsheaf {
namespace {

constexpr wchar_t kKey[] = L"Software\\Corvane\\Mailsheaf\\Account";

std::u16string ReadText(HKEY key, const wchar_t* name) {
  wchar_t value[1024];
  DWORD size = sizeof value - sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ) {
    return {};
  }
  value[size / sizeof(wchar_t)] = L'\0';
  return FromWide(value);
}

void WriteText(HKEY key, const wchar_t* name, const std::u16string& text) {
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(WidePointer(text)),
                 static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

AccountChoice RegistrySettings::Load() {
  AccountChoice choice;
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return choice;
  choice.host = ReadText(key, L"Server");
  choice.user = ReadText(key, L"Account");
  DWORD security = 0;
  DWORD size = sizeof security;
  if (RegQueryValueExW(key, L"Security", nullptr, nullptr, reinterpret_cast<BYTE*>(&security),
                       &size) == ERROR_SUCCESS &&
      security <= 2) {
    choice.security = static_cast<AccountSecurity>(security);
  }
  // A certificate is trusted for the server it was trusted for, and no other.
  if (ReadText(key, L"TrustedFor") == choice.host) {
    choice.trusted_sha256 = Utf16ToUtf8(ReadText(key, L"TrustedCertificate"));
  }
  RegCloseKey(key);
  return choice;
}

void RegistrySettings::Save(const AccountChoice& choice) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return;  // not remembered: the next run asks again
  }
  WriteText(key, L"Server", choice.host);
  WriteText(key, L"Account", choice.user);
  const DWORD security = static_cast<DWORD>(choice.security);
  RegSetValueExW(key, L"Security", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&security),
                 sizeof security);
  WriteText(key, L"TrustedFor", choice.trusted_sha256.empty() ? u"" : choice.host);
  WriteText(key, L"TrustedCertificate", Utf8ToUtf16(choice.trusted_sha256));
  RegCloseKey(key);
}

void RegistrySettings::Forget() { RegDeleteKeyW(HKEY_CURRENT_USER, kKey); }

}  // namespace mailsheaf
