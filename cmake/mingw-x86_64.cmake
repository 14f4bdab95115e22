# Cross toolchain for the 64-bit test build: the same sources for x86-64
# Windows, so that the Wine tests run at native speed under wine64 on hosts
# that cannot execute 32-bit code. Never shipped.
set(LEXOMIR_MINGW_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
