#include "fs/find_entries.h"

#include <string_view>

#include "base/nul_trim.h"
#include "base/path_forms.h"

namespace mailsheaf {
namespace {

void FillEntry(const FindDataW& data, FindState& state) {
  state.Name = CutAtNul(std::u16string(data.cFileName, kMaxPath));
}

void FillEntry(SystemCalls& sys, const FindDataA& data, FindState& state) {
  const std::string_view bytes(data.cFileName, kMaxPath);
  state.Name = CutAtNul(sys.AnsiToWide(bytes));
}

}  // namespace

FindHandle FindFirstEntry(System& system, const std::u16string& searchPath, FindState& state) {
  system.EnsureCapabilitiesDetected();
  SystemCalls& sys = system.Calls();
  FindHandle handle;
  if (system.Capabilities().UseFindFirstFileW) {
    FindDataW data{};
    const auto buffer = LongPathBuffer(searchPath);
    handle = sys.FindFirstFileW(buffer.data(), data);
    if (handle != kInvalidSearchHandle) {
      FillEntry(data, state);
    }
  } else {
    // Windows 95 family only.
    FindDataA data{};
    handle = sys.FindFirstFileA(system.AnsiPath(searchPath).c_str(), data);
    if (handle != kInvalidSearchHandle) {
      FillEntry(sys, data, state);
    }
  }
  state.SearchHandle = handle;
  return handle;
}

int32_t FindNextEntry(System& system, FindState& state) {
  system.EnsureCapabilitiesDetected();
  SystemCalls& sys = system.Calls();
  int32_t result;
  if (system.Capabilities().UseFindNextFileW) {
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
      FillEntry(sys, data, state);
    }
  }
  if (result == 0) {
    CloseFind(system, state);
    state.SearchHandle = 0;
  }
  return result;
}

bool CloseFind(System& system, FindState& state) {
  bool closed = true;
  if (state.SearchHandle != 0 && state.SearchHandle != kInvalidSearchHandle) {
    closed = system.Calls().FindClose(state.SearchHandle) != 0;
  }
  state.SearchHandle = kInvalidSearchHandle;
  return closed;
}

}  // namespace mailsheaf
