# The mingw-w64 cross-build shared by the toolchain files, which set
# QUILLO_MINGW_ARCH.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QUILLO_MINGW_ARCH})
set(QUILLO_MINGW_TRIPLE ${QUILLO_MINGW_ARCH}-w64-mingw32)
# The posix-thread variant: the C++ library's threads and mutexes need it.
find_program(CMAKE_CXX_COMPILER NAMES ${QUILLO_MINGW_TRIPLE}-g++-posix ${QUILLO_MINGW_TRIPLE}-g++ REQUIRED)
# GoogleTest's own project asks for C as well.
find_program(CMAKE_C_COMPILER NAMES ${QUILLO_MINGW_TRIPLE}-gcc-posix ${QUILLO_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${QUILLO_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${QUILLO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_CXX_FLAGS_INIT "-Werror")
