# Identifying the system under Wine. A console probe built from the
# installer's own sources prints what start-up learns (the OS description,
# Is64BitOs, the shared registry view); osinfo_wine.py runs it, and the
# installer, in a win64 prefix set to Windows 10 and in a win32 prefix, with
# ComSpec naming a canary program that must never run.
#
# Included from tests/wine/CMakeLists.txt on the windows build.

add_executable(lexomir_osinfo_probe ${CMAKE_CURRENT_LIST_DIR}/osinfo_probe.cpp)
set_target_properties(lexomir_osinfo_probe PROPERTIES OUTPUT_NAME osinfo_probe)
target_compile_options(lexomir_osinfo_probe PRIVATE ${LEXOMIR_CHARSET_FLAGS} ${LEXOMIR_WARNING_FLAGS})
target_link_libraries(lexomir_osinfo_probe PRIVATE lexomir_product user32 shell32 comctl32 gdi32)
target_link_options(lexomir_osinfo_probe PRIVATE -static -static-libgcc -static-libstdc++ -mconsole)

add_executable(lexomir_comspec_canary ${CMAKE_CURRENT_LIST_DIR}/comspec_canary.cpp)
set_target_properties(lexomir_comspec_canary PROPERTIES OUTPUT_NAME comspec_canary)
target_compile_definitions(lexomir_comspec_canary PRIVATE NOMINMAX STRICT)
target_compile_options(lexomir_comspec_canary PRIVATE -Wall -Wextra -Werror)
target_link_options(lexomir_comspec_canary PRIVATE -static -static-libgcc -static-libstdc++ -mconsole)

find_program(LEXOMIR_OSINFO_WINE wine)
if(NOT LEXOMIR_OSINFO_WINE)
  message(STATUS "Wine not found: the OS identification checks are not registered")
  return()
endif()

set(LEXOMIR_OSINFO_RUNNER
  ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/osinfo_wine.py
  --probe $<TARGET_FILE:lexomir_osinfo_probe>
  --canary $<TARGET_FILE:lexomir_comspec_canary>
  --installer $<TARGET_FILE:LexomirUpdate>)

# One prefix each, about 20 s to make; the lock keeps them from competing
# with the scenario prefixes for the cores.
# A 64-bit program has no place in a 32-bit prefix: the test build checks
# the win64 prefix only.
add_test(NAME wine_osinfo_win64 COMMAND ${LEXOMIR_OSINFO_RUNNER} --arch win64)
set_tests_properties(wine_osinfo_win64 PROPERTIES LABELS wine TIMEOUT 900 RESOURCE_LOCK wine_prefix SKIP_RETURN_CODE 77
                     ENVIRONMENT ${LEXOMIR_PYTHON_ENV})
if(NOT LEXOMIR_TEST_BUILD_64)
  add_test(NAME wine_osinfo_win32 COMMAND ${LEXOMIR_OSINFO_RUNNER} --arch win32)
  set_tests_properties(wine_osinfo_win32 PROPERTIES LABELS wine TIMEOUT 300 RESOURCE_LOCK wine_prefix SKIP_RETURN_CODE 77
                       ENVIRONMENT ${LEXOMIR_PYTHON_ENV})
endif()
