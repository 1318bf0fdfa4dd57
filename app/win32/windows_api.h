#pragma once
// The Windows headers as the program's Win32 code includes them. <windows.h> defines Yield()
// as an empty macro, which would swallow Host::Yield; it goes.

#include <string>

#include <windows.h>
#include <commctrl.h>

#undef Yield

namespace mailsheaf {

inline const wchar_t* WidePointer(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

}  // namespace mailsheaf
