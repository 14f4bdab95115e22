# The file version probe and the progress window under Wine. A console
# probe built from the installer's own sources reads the FileVersion of a
# helper program that carries a version resource (Russian, code page 1251,
# listed first) and of a text file, and opens, hides and shows the progress
# window, checking it from outside its thread. probes_wine.py runs it in a
# prefix of its own, made once for these tests.
#
# Included from tests/wine/CMakeLists.txt on the windows build.

add_executable(lexomir_probes_probe ${CMAKE_CURRENT_LIST_DIR}/probes_probe.cpp)
set_target_properties(lexomir_probes_probe PROPERTIES OUTPUT_NAME probes_probe)
target_compile_options(lexomir_probes_probe PRIVATE ${LEXOMIR_CHARSET_FLAGS} ${LEXOMIR_WARNING_FLAGS})
target_link_libraries(lexomir_probes_probe PRIVATE lexomir_product user32 shell32 comctl32 gdi32 version)
target_link_options(lexomir_probes_probe PRIVATE -static -static-libgcc -static-libstdc++ -mconsole)

add_executable(lexomir_version_helper WIN32 ${CMAKE_CURRENT_LIST_DIR}/version_helper.cpp
                                            ${CMAKE_CURRENT_LIST_DIR}/version_helper.rc)
target_link_options(lexomir_version_helper PRIVATE -static -static-libgcc -static-libstdc++ -mwindows)

# The probe runs in this folder and names its files relative to it, as
# Wine does not translate Unix paths given as arguments.
set(LEXOMIR_PROBES_DIR ${CMAKE_CURRENT_BINARY_DIR}/probes)
file(MAKE_DIRECTORY ${LEXOMIR_PROBES_DIR})
set_target_properties(lexomir_version_helper PROPERTIES OUTPUT_NAME version_helper
                      RUNTIME_OUTPUT_DIRECTORY ${LEXOMIR_PROBES_DIR})
file(WRITE ${LEXOMIR_PROBES_DIR}/readme.txt "FileVersion 1.2.3.4\r\nNot a program.\r\n")

find_program(LEXOMIR_PROBES_WINE wine)
if(NOT LEXOMIR_PROBES_WINE)
  message(STATUS "Wine not found: the probe checks are not registered")
  return()
endif()

set(LEXOMIR_PROBES_PREFIX ${CMAKE_CURRENT_BINARY_DIR}/probes_prefix)
set(LEXOMIR_PROBES_RUNNER ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/probes_wine.py)
set(LEXOMIR_PROBES_RUN ${LEXOMIR_PROBES_RUNNER} --prefix ${LEXOMIR_PROBES_PREFIX} --cwd ${LEXOMIR_PROBES_DIR} --)

add_test(NAME wine_probes_prefix COMMAND ${LEXOMIR_PROBES_RUNNER} --make-prefix ${LEXOMIR_PROBES_PREFIX})
add_test(NAME wine_probes_prefix_removed COMMAND ${LEXOMIR_PROBES_RUNNER} --remove-prefix ${LEXOMIR_PROBES_PREFIX})
set_tests_properties(wine_probes_prefix PROPERTIES FIXTURES_SETUP wine_probes_prefix)
set_tests_properties(wine_probes_prefix_removed PROPERTIES FIXTURES_CLEANUP wine_probes_prefix)

# The progress window at 192 dpi, in a prefix of its own whose screen says so.
set(LEXOMIR_PROBES_PREFIX_192 ${CMAKE_CURRENT_BINARY_DIR}/probes_prefix_192)
add_test(NAME wine_probes_prefix_192 COMMAND ${LEXOMIR_PROBES_RUNNER} --make-prefix ${LEXOMIR_PROBES_PREFIX_192} --dpi 192)
add_test(NAME wine_probes_prefix_192_removed COMMAND ${LEXOMIR_PROBES_RUNNER} --remove-prefix ${LEXOMIR_PROBES_PREFIX_192})
set_tests_properties(wine_probes_prefix_192 PROPERTIES FIXTURES_SETUP wine_probes_prefix_192)
set_tests_properties(wine_probes_prefix_192_removed PROPERTIES FIXTURES_CLEANUP wine_probes_prefix_192)
add_test(NAME wine_probes_progress_window_192dpi
  COMMAND ${LEXOMIR_PROBES_RUNNER} --prefix ${LEXOMIR_PROBES_PREFIX_192} --cwd ${LEXOMIR_PROBES_DIR} --
          $<TARGET_FILE:lexomir_probes_probe> window 192)
set_tests_properties(wine_probes_progress_window_192dpi PROPERTIES FIXTURES_REQUIRED wine_probes_prefix_192)

add_test(NAME wine_probes_file_version
  COMMAND ${LEXOMIR_PROBES_RUN} $<TARGET_FILE:lexomir_probes_probe> version $<TARGET_FILE_NAME:lexomir_version_helper> 1.2.3.4)
add_test(NAME wine_probes_file_version_text_file
  COMMAND ${LEXOMIR_PROBES_RUN} $<TARGET_FILE:lexomir_probes_probe> version readme.txt)
add_test(NAME wine_probes_progress_window
  COMMAND ${LEXOMIR_PROBES_RUN} $<TARGET_FILE:lexomir_probes_probe> window 96)
# The built installer's version resource as version.dll reads it.
add_test(NAME wine_probes_version_details
  COMMAND ${LEXOMIR_PROBES_RUN} $<TARGET_FILE:lexomir_probes_probe> details Z:$<TARGET_FILE:LexomirUpdate>
          ${LEXOMIR_EXE_NAME} ${LEXOMIR_PACKAGE_VERSION} "${LEXOMIR_COMPANY_NAME}" "${LEXOMIR_COPYRIGHT}")
# The self-check's hash on the built installer: the processor's SHA
# extensions against CNG, and the choice between them against what Linux
# says of this processor (its flags name the same CPUID bits).
set(LEXOMIR_HOST_SHA no)
if(EXISTS /proc/cpuinfo)
  file(STRINGS /proc/cpuinfo LEXOMIR_CPU_FLAGS REGEX "^flags" LIMIT_COUNT 1)
  if(LEXOMIR_CPU_FLAGS MATCHES " sha_ni( |$)" AND LEXOMIR_CPU_FLAGS MATCHES " ssse3( |$)"
     AND LEXOMIR_CPU_FLAGS MATCHES " sse4_1( |$)")
    set(LEXOMIR_HOST_SHA yes)
  endif()
endif()
add_test(NAME wine_probes_hash
  COMMAND ${LEXOMIR_PROBES_RUN} $<TARGET_FILE:lexomir_probes_probe> hash Z:$<TARGET_FILE:LexomirUpdate> ${LEXOMIR_HOST_SHA})
set_tests_properties(wine_probes_file_version wine_probes_file_version_text_file wine_probes_progress_window
  wine_probes_hash wine_probes_version_details PROPERTIES FIXTURES_REQUIRED wine_probes_prefix)

set_tests_properties(wine_probes_prefix wine_probes_prefix_removed wine_probes_prefix_192 wine_probes_prefix_192_removed
  wine_probes_progress_window_192dpi wine_probes_file_version
  wine_probes_file_version_text_file wine_probes_progress_window wine_probes_hash wine_probes_version_details
  PROPERTIES LABELS wine TIMEOUT 900 RESOURCE_LOCK wine_prefix SKIP_RETURN_CODE 77 ENVIRONMENT ${LEXOMIR_PYTHON_ENV})
