#include "app/win32/win32_clock.h"

#include "app/win32/windows_api.h"

namespace mailsheaf {

LocalTime Win32Clock::Now() {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return {now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

}  // namespace mailsheaf
