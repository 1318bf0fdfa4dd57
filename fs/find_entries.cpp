#include "fs/find_entries.h"

#include <string_view>

#include "base/nul_trim.h"
#include "base/path_forms.h"
#include "fs/capabilities.h"
#include "fs/system_calls.h"

namespace mailsheaf {
namespace {

void FillEntry(const FindDataW& data, FindState& state) {
  state.Name = CutAtNul(std::u16string(data.cFileName, kMaxPath));
}

void FillEntry(const FindDataA& data, FindState& state) {
  const std::string_view bytes(data.cFileName, kMaxPath);
  state.Name = CutAtNul(ActiveSystemCalls().AnsiToWide(bytes));
}

}  // namespace

int32_t FindFirstEntry(const std::u16string& searchPath, FindState& state) {
  EnsureCapabilitiesDetected();
  SystemCalls& sys = ActiveSystemCalls();
  FindHandle handle;
  if (Capabilities().UseFindFirstFileW) {
    FindDataW data{};
    const auto buffer = LongPathBuffer(searchPath);
    handle = sys.FindFirstFileW(buffer.data(), data);
    if (handle != kInvalidSearchHandle) {
      FillEntry(data, state);
    }
  } else {
    // Windows 95 family only.
    FindDataA data{};
    handle = sys.FindFirstFileA(AnsiPath(searchPath).c_str(), data);
    if (handle != kInvalidSearchHandle) {
      FillEntry(data, state);
    }
  }
  state.SearchHandle = handle;
  return handle;
}

int32_t FindNextEntry(FindState& state) {
  EnsureCapabilitiesDetected();
  SystemCalls& sys = ActiveSystemCalls();
  int32_t result;
  if (Capabilities().UseFindNextFileW) {
    FindDataW data{};
    result = sys.FindNextFileW(state.SearchHandle, data);
    if (result != 0) {
      FillEntry(data, state);
    }
  } else {
    // Windows 95 family only.
    FindDataA data{};
    result = sys.FindNextFileA(state.SearchHandle, data);
    if (result != 0) {
      FillEntry(data, state);
    }
  }
  if (result == 0) {
    CloseFind(state);
    state.SearchHandle = 0;
  }
  return result;
}

bool CloseFind(FindState& state) {
  bool closed = true;
  if (state.SearchHandle != 0 && state.SearchHandle != kInvalidSearchHandle) {
    closed = ActiveSystemCalls().FindClose(state.SearchHandle) != 0;
  }
  state.SearchHandle = kInvalidSearchHandle;
  return closed;
}

}  // namespace mailsheaf
