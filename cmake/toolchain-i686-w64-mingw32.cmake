# Cross-builds the Windows console program with mingw-w64 (i686).
set(QUILLO_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
