# 64-bit Windows. The program ships 32-bit; this build runs the Windows tests under 64-bit Wine,
# in a prefix of its own, where the kernel cannot run 32-bit programs.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLE x86_64-w64-mingw32)
set(MAILSHEAF_WINE_ARGS ";--win64")
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-common.cmake)
