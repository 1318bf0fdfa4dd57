#pragma once
// The program's text is UTF-16 in char16_t; the Win32 wide calls take the same units as
// wchar_t. These are the one place where the two meet.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace mailsheaf {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

// For an LPCWSTR argument: the text with its terminating NUL.
inline const wchar_t* WidePointer(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

// For an LPCWSTR argument: a long-path buffer (see LongPathBuffer), which ends in its NUL.
inline const wchar_t* WidePointer(const unsigned char* longPathBytes) {
  return reinterpret_cast<const wchar_t*>(longPathBytes);
}
inline const wchar_t* WidePointer(const std::vector<unsigned char>& longPathBytes) {
  return WidePointer(longPathBytes.data());
}

// The units of a view, without a terminating NUL: only for calls that take the length too.
inline const wchar_t* WideUnits(std::u16string_view text) {
  return reinterpret_cast<const wchar_t*>(text.data());
}

// For an LPWSTR the call writes into: the text's own storage, sized by the caller.
inline wchar_t* WideBuffer(std::u16string& text) { return reinterpret_cast<wchar_t*>(text.data()); }

// What a wide call wrote: up to the first NUL, or exactly `length` units.
inline std::u16string FromWide(const wchar_t* text) {
  return std::u16string(reinterpret_cast<const char16_t*>(text));
}
inline std::u16string FromWide(const wchar_t* text, std::size_t length) {
  return std::u16string(reinterpret_cast<const char16_t*>(text), length);
}

}  // namespace mailsheaf
