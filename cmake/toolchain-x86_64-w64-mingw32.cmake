# Cross-builds the Windows console program with mingw-w64 (x86_64).
set(QUILLO_MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
