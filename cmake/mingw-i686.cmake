# Cross toolchain for the Windows tree: MinGW-w64 targeting 32-bit x86.
#   cmake -S . -B <dir> -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(SQ_MINGW_TRIPLE i686-w64-mingw32 CACHE STRING "Target triple of the MinGW-w64 tools")

set(CMAKE_C_COMPILER ${SQ_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${SQ_MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${SQ_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${SQ_MINGW_TRIPLE}-ar CACHE FILEPATH "Archiver")
set(CMAKE_RANLIB ${SQ_MINGW_TRIPLE}-ranlib CACHE FILEPATH "Archive indexer")

# Tools the build rules call directly: import libraries from .def files, and the
# inspection of finished modules.
find_program(SQ_DLLTOOL ${SQ_MINGW_TRIPLE}-dlltool REQUIRED)
find_program(SQ_OBJDUMP ${SQ_MINGW_TRIPLE}-objdump REQUIRED)

# Headers and libraries come from the target's sysroot only; programs from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${SQ_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

