# Cross-build for 64-bit Windows with Debian's mingw-w64 (posix threads, for std::thread).
# The libraries built by scripts/windows-deps.sh are found through MIRAVA_WINDOWS_PREFIXES: given
# on the command line, or read from the list that script writes into its cache.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MIRAVA_MINGW_TRIPLET x86_64-w64-mingw32)

set(CMAKE_C_COMPILER ${MIRAVA_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MIRAVA_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MIRAVA_MINGW_TRIPLET}-windres)

if(NOT DEFINED MIRAVA_WINDOWS_PREFIXES)
  if(DEFINED ENV{MIRAVA_WINDOWS_PREFIXES})
    set(MIRAVA_WINDOWS_PREFIXES "$ENV{MIRAVA_WINDOWS_PREFIXES}")
  else()
    if(DEFINED ENV{MIRAVA_WINDOWS_CACHE})
      set(_mirava_cache "$ENV{MIRAVA_WINDOWS_CACHE}")
    elseif(DEFINED ENV{XDG_CACHE_HOME})
      set(_mirava_cache "$ENV{XDG_CACHE_HOME}/mirava-windows")
    else()
      set(_mirava_cache "$ENV{HOME}/.cache/mirava-windows")
    endif()
    if(EXISTS "${_mirava_cache}/x86_64/prefixes.cmake")
      include("${_mirava_cache}/x86_64/prefixes.cmake")
    endif()
  endif()
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MIRAVA_WINDOWS_PREFIXES)

list(APPEND CMAKE_FIND_ROOT_PATH /usr/${MIRAVA_MINGW_TRIPLET} ${MIRAVA_WINDOWS_PREFIXES})
list(APPEND CMAKE_PREFIX_PATH ${MIRAVA_WINDOWS_PREFIXES})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config sees only the Windows libraries.
set(_mirava_pc "")
foreach(_prefix ${MIRAVA_WINDOWS_PREFIXES})
  list(APPEND _mirava_pc "${_prefix}/lib/pkgconfig")
endforeach()
string(REPLACE ";" ":" _mirava_pc "${_mirava_pc}")
set(ENV{PKG_CONFIG_LIBDIR} "${_mirava_pc}")
set(ENV{PKG_CONFIG_PATH} "")
