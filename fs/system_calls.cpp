#include "fs/system_calls.h"

namespace mailsheaf {
namespace {

// Process-wide, like the capability flags that depend on it; only the window's thread uses it.
SystemCalls* g_installed = nullptr;

}  // namespace

SystemCalls& ActiveSystemCalls() {
  return g_installed != nullptr ? *g_installed : PlatformSystemCalls();
}

SystemCalls* InstallSystemCalls(SystemCalls* calls) {
  SystemCalls* previous = g_installed;
  g_installed = calls;
  return previous;
}

}  // namespace mailsheaf
