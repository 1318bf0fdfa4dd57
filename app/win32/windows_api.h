#pragma once
// The Windows headers as the program's Win32 code includes them, with the wide-string edge.

#include <windows.h>
#include <commctrl.h>

#include "base/win32/wide.h"
