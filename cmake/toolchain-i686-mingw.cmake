# 32-bit Windows, the build that ships; its tests run under Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLE i686-w64-mingw32)
set(MAILSHEAF_WINE_ARGS "")
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
