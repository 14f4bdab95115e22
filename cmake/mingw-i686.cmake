# Cross toolchain for the real installer: 32-bit Windows, MinGW-w64.
set(LEXOMIR_MINGW_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
