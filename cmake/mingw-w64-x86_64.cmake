# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads: GoogleTest needs them).
# BRISQUELL_WINDOWS_PREFIX: the folder holding the cross-built libraries and staged headers.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(BRISQUELL_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${BRISQUELL_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${BRISQUELL_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${BRISQUELL_MINGW}-windres)

if(NOT BRISQUELL_WINDOWS_PREFIX AND DEFINED ENV{BRISQUELL_WINDOWS_PREFIX})
  set(BRISQUELL_WINDOWS_PREFIX $ENV{BRISQUELL_WINDOWS_PREFIX})
endif()
# try_compile projects see the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES BRISQUELL_WINDOWS_PREFIX)

# Only the mingw sysroot and our prefix: the host's /usr/include would bring glibc's headers.
set(CMAKE_FIND_ROOT_PATH /usr/${BRISQUELL_MINGW} ${BRISQUELL_WINDOWS_PREFIX})
set(CMAKE_PREFIX_PATH ${BRISQUELL_WINDOWS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config reads the prefix's .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} ${BRISQUELL_WINDOWS_PREFIX}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
set(ENV{PKG_CONFIG_SYSROOT_DIR} "")

# The programs need only system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CROSSCOMPILING_EMULATOR wine64)
