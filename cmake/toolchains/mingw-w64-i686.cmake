# Cross-build for 32-bit Windows (the browser's own) with MinGW-w64.
set(OSTREL_MINGW_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
