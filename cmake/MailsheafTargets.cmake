# Shared settings for every target of the project: strict warnings everywhere, sanitizers in the
# native test build, a fully static runtime in the Windows build.

option(MAILSHEAF_SANITIZE "Build with AddressSanitizer and UBSan (native builds only)" OFF)

set(MAILSHEAF_WARNINGS -Wall -Wextra -Wpedantic -Werror -Wshadow -Wnon-virtual-dtor
    -Wcast-align -Wunused -Woverloaded-virtual -Wnull-dereference -Wformat=2 -Wimplicit-fallthrough)
# GCC 12 at -O3 reports overlaps in libstdc++'s own string concatenation ("x" + std::string)
# that cannot happen (GCC bug 105329); the mingw Release builds meet it.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND MAILSHEAF_WARNINGS -Wno-restrict)
endif()

if(WIN32)
  # Windows 7 headers; anything newer is looked up at run time.
  add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                          _WIN32_WINNT=0x0601 WINVER=0x0601 _WIN32_IE=0x0600)
  # libgcc, libstdc++ and winpthread go into the executable: it runs with nothing beside it.
  add_link_options(-static -static-libgcc -static-libstdc++)
  # Up to 4 GiB of address space on 64-bit Windows instead of 2: room to re-encode a large
  # message. A 32-bit flag only; the 64-bit build has it already.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    add_link_options(-Wl,--large-address-aware)
  endif()
elseif(MAILSHEAF_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()

find_package(Threads REQUIRED)
if(WIN32)
  set(ZLIB_USE_STATIC_LIBS ON)
endif()
find_package(ZLIB REQUIRED)

# mailsheaf_target(<target>): the project's warning set for one of our own targets.
function(mailsheaf_target target)
  target_compile_options(${target} PRIVATE ${MAILSHEAF_WARNINGS})
endfunction()

# mailsheaf_platform_sources(<var> <file>...): keeps *_win32.* and win32/ files in the Windows
# build and *_posix.* and posix/ files in the native one.
function(mailsheaf_platform_sources out)
  set(kept)
  foreach(f IN LISTS ARGN)
    if(f MATCHES "(_win32\\.|(^|/)win32/)")
      if(WIN32)
        list(APPEND kept ${f})
      endif()
    elseif(f MATCHES "(_posix\\.|(^|/)posix/)")
      if(NOT WIN32)
        list(APPEND kept ${f})
      endif()
    else()
      list(APPEND kept ${f})
    endif()
  endforeach()
  set(${out} ${kept} PARENT_SCOPE)
endfunction()

# mailsheaf_add_areas(): adds every sub-folder of the current source folder that has a
# CMakeLists.txt; folders whose name holds "win32" only in the Windows build.
function(mailsheaf_add_areas)
  file(GLOB areas LIST_DIRECTORIES true RELATIVE ${CMAKE_CURRENT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR}/*)
  foreach(area IN LISTS areas)
    if(IS_DIRECTORY ${CMAKE_CURRENT_SOURCE_DIR}/${area} AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${area}/CMakeLists.txt)
      if(area MATCHES "win32" AND NOT WIN32)
        continue()
      endif()
      add_subdirectory(${area})
    endif()
  endforeach()
endfunction()
