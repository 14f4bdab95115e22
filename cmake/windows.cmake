# Windows build: the real installer, cross-compiled with MinGW-w64, plus the
# Windows helper programs and the Wine tests that run them.
#
# The shipped installer is the 32-bit LexomirUpdate.exe (preset windows).
# The same sources built for x86-64 (preset windows64) make
# LexomirUpdate-x64-test.exe, a test build that runs the Wine tests at
# native speed on hosts that cannot execute 32-bit code.
include(ExternalProject)

if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
  set(LEXOMIR_TEST_BUILD_64 ON)
  set(LEXOMIR_EXE_NAME LexomirUpdate-x64-test)
  set(LEXOMIR_MANIFEST_ARCH amd64)
else()
  set(LEXOMIR_TEST_BUILD_64 OFF)
  set(LEXOMIR_EXE_NAME LexomirUpdate)
  set(LEXOMIR_MANIFEST_ARCH x86)
endif()

# Shown in the confirmation ("... версии 1001"), in the manifest's version
# and in the sample payload's version field (16 bits).
set(LEXOMIR_PACKAGE_VERSION 1001 CACHE STRING "The package version the installer announces (1-65535)")
if(NOT LEXOMIR_PACKAGE_VERSION MATCHES "^[1-9][0-9]*$" OR LEXOMIR_PACKAGE_VERSION GREATER 65535)
  message(FATAL_ERROR "LEXOMIR_PACKAGE_VERSION must be a whole number from 1 to 65535, not '${LEXOMIR_PACKAGE_VERSION}'")
endif()

# The build runs three host programs (sample payload generator, resource
# layout, sealing tool);
# they are built for this machine in a host sub-build.
set(LEXOMIR_HOST_TOOLS_DIR ${CMAKE_BINARY_DIR}/host-tools)
ExternalProject_Add(host_tools
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/tools
  BINARY_DIR ${LEXOMIR_HOST_TOOLS_DIR}
  CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE= -DCMAKE_C_COMPILER=cc -DCMAKE_CXX_COMPILER=c++
             -DLEXOMIR_SOURCE_DIR=${CMAKE_SOURCE_DIR}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${LEXOMIR_HOST_TOOLS_DIR}/lexomir_payload ${LEXOMIR_HOST_TOOLS_DIR}/lexomir_page_resources
                   ${LEXOMIR_HOST_TOOLS_DIR}/lexomir_seal)
set(LEXOMIR_PAYLOAD_TOOL ${LEXOMIR_HOST_TOOLS_DIR}/lexomir_payload)
set(LEXOMIR_PAGE_TOOL ${LEXOMIR_HOST_TOOLS_DIR}/lexomir_page_resources)
set(LEXOMIR_SEAL_TOOL ${LEXOMIR_HOST_TOOLS_DIR}/lexomir_seal)

set(LEXOMIR_PAYLOAD "" CACHE FILEPATH "Data file embedded as COK/LXN (empty: the generated sample)")
if(LEXOMIR_PAYLOAD STREQUAL "")
  set(LEXOMIR_PAYLOAD_FILE ${CMAKE_BINARY_DIR}/payload/lxn.cok)
  add_custom_command(OUTPUT ${LEXOMIR_PAYLOAD_FILE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/payload
    COMMAND ${LEXOMIR_PAYLOAD_TOOL} ${LEXOMIR_PAYLOAD_FILE} 28002252 ${LEXOMIR_PACKAGE_VERSION}
    DEPENDS host_tools
    COMMENT "Generating the sample payload")
else()
  set(LEXOMIR_PAYLOAD_FILE ${LEXOMIR_PAYLOAD})
endif()
# The payload's SHA-256, recorded beside it in the installer: a run then
# tells detection rules what it installed without hashing 28 MB again.
set(LEXOMIR_PAYLOAD_DIGEST_FILE ${CMAKE_BINARY_DIR}/payload-digest/lxn.sha256)
add_custom_command(OUTPUT ${LEXOMIR_PAYLOAD_DIGEST_FILE}
  COMMAND ${CMAKE_COMMAND} -DPAYLOAD=${LEXOMIR_PAYLOAD_FILE} -DOUT=${LEXOMIR_PAYLOAD_DIGEST_FILE}
          -P ${CMAKE_SOURCE_DIR}/cmake/payload_digest.cmake
  DEPENDS ${LEXOMIR_PAYLOAD_FILE} ${CMAKE_SOURCE_DIR}/cmake/payload_digest.cmake
  COMMENT "Recording the payload's SHA-256")
add_custom_target(payload DEPENDS ${LEXOMIR_PAYLOAD_FILE} ${LEXOMIR_PAYLOAD_DIGEST_FILE})

# The publisher's details in the version resource (Explorer's Properties).
set(LEXOMIR_COMPANY_NAME "" CACHE STRING "CompanyName in the installer's version resource (UTF-8)")
set(LEXOMIR_COPYRIGHT "" CACHE STRING "LegalCopyright in the installer's version resource (UTF-8)")
foreach(field COMPANY_NAME COPYRIGHT)
  if(LEXOMIR_${field} MATCHES "[\r\n\t]")
    message(FATAL_ERROR "LEXOMIR_${field} must be one line of text")
  endif()
  # A resource script string: a backslash starts an escape, a quote is doubled.
  string(REPLACE "\\" "\\\\" LEXOMIR_RC_${field} "${LEXOMIR_${field}}")
  string(REPLACE "\"" "\"\"" LEXOMIR_RC_${field} "${LEXOMIR_RC_${field}}")
endforeach()

set(LEXOMIR_MANIFEST ${CMAKE_BINARY_DIR}/LexomirUpdate.manifest)
configure_file(${CMAKE_SOURCE_DIR}/resources/LexomirUpdate.manifest.in ${LEXOMIR_MANIFEST} @ONLY)
set(LEXOMIR_RC ${CMAKE_BINARY_DIR}/LexomirUpdate.rc)
configure_file(${CMAKE_SOURCE_DIR}/resources/LexomirUpdate.rc.in ${LEXOMIR_RC} @ONLY)
set_source_files_properties(${LEXOMIR_RC} PROPERTIES
  OBJECT_DEPENDS "${LEXOMIR_PAYLOAD_FILE};${LEXOMIR_PAYLOAD_DIGEST_FILE};${LEXOMIR_MANIFEST};${CMAKE_SOURCE_DIR}/resources/Lexomir.ico")

set(LEXOMIR_WINDOWS_DEFINES WINVER=0x0601 _WIN32_WINNT=0x0601 NOMINMAX STRICT
    LEXOMIR_PACKAGE_VERSION=${LEXOMIR_PACKAGE_VERSION})
set(LEXOMIR_STATIC_LINK -static -static-libgcc -static-libstdc++ -mwindows)
# Source names the compiler keeps (__FILE__) are relative to the checkout.
set(LEXOMIR_PATH_FLAGS -ffile-prefix-map=${CMAKE_SOURCE_DIR}/=)

# The product, compiled once: the installer and the Wine probes link it.
# Each function in a section of its own, so that the link drops what the
# installer does not call.
add_library(lexomir_product STATIC ${LEXOMIR_PRODUCT_SOURCES} ${LEXOMIR_WINDOWS_LIB_SOURCES})
target_include_directories(lexomir_product PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_definitions(lexomir_product PUBLIC ${LEXOMIR_WINDOWS_DEFINES})
target_compile_options(lexomir_product PRIVATE ${LEXOMIR_CHARSET_FLAGS} ${LEXOMIR_WARNING_FLAGS} ${LEXOMIR_PATH_FLAGS}
                       -ffunction-sections -fdata-sections)
# Only advapi32 here: the executable names how it takes the GUI libraries
# (delay-loaded or not), the probes take them directly.
target_link_libraries(lexomir_product PUBLIC advapi32)

add_executable(LexomirUpdate WIN32 ${LEXOMIR_WINDOWS_EXE_SOURCES} ${LEXOMIR_RC})
set_target_properties(LexomirUpdate PROPERTIES OUTPUT_NAME ${LEXOMIR_EXE_NAME})
# The layout and sealing tools run after the link, whichever payload; a
# changed tool links the installer anew.
add_dependencies(LexomirUpdate payload host_tools)
set_target_properties(LexomirUpdate PROPERTIES LINK_DEPENDS "${LEXOMIR_PAGE_TOOL};${LEXOMIR_SEAL_TOOL}")
target_compile_options(LexomirUpdate PRIVATE $<$<COMPILE_LANGUAGE:CXX>:${LEXOMIR_CHARSET_FLAGS} ${LEXOMIR_WARNING_FLAGS}
                       ${LEXOMIR_PATH_FLAGS}> -ffunction-sections -fdata-sections)
# --gc-sections drops unreferenced data, but with GNU ld for PE no code: its
# default script keeps every .eh_frame input (KEEP), and each unwind entry
# refers to its function, so every function with unwind information (all
# of them, as the program throws) of each object linked stays. Which code
# is in the file is decided by which objects and archive members the link
# takes (docs/ARCHITECTURE.md, "Where the bytes go").
# Sections keep the linker's 512-byte alignment in the file, but the resource
# section (28 MB of payload) is moved to a page boundary after linking: Wine
# maps a section from the file only when it starts on a page there, and
# reads it into private memory otherwise, which would double the run's peak
# beside the write buffer. Aligning every section to a page would cost the
# padding of each (docs/BENCHMARKS.md).
# Two builds of one commit, payload and options give the same bytes
# wherever and whenever they run: no link time in the header, and no
# build folder in what the compiler keeps (tests/wine/reproducible_build.py).
# The link map tells which input each byte comes from: the size check below
# reads it. Writing it changes nothing in the file.
set(LEXOMIR_LINK_MAP ${CMAKE_BINARY_DIR}/${LEXOMIR_EXE_NAME}.map)
target_link_options(LexomirUpdate PRIVATE ${LEXOMIR_STATIC_LINK} -s -Wl,--gc-sections -Wl,--no-insert-timestamp
                    -Wl,-Map,${LEXOMIR_LINK_MAP})
# The GUI libraries, and COM's for having the desktop shell start the
# application, are delay-loaded (cmake/delay_load.cmake): a run that shows
# no box and no window and starts nothing loads none of them. The COM
# identifiers come from MinGW's static uuid library.
include(${CMAKE_SOURCE_DIR}/cmake/delay_load.cmake)
lexomir_delay_import_libraries(LEXOMIR_GUI_LIBS user32 gdi32 comctl32 shell32 ole32 oleaut32)
target_link_libraries(LexomirUpdate PRIVATE lexomir_product ${LEXOMIR_GUI_LIBS} uuid)
# The integrity digest is written into the linked file, so it is the last step.
add_custom_command(TARGET LexomirUpdate POST_BUILD
  COMMAND ${LEXOMIR_PAGE_TOOL} $<TARGET_FILE:LexomirUpdate>
  COMMAND ${LEXOMIR_SEAL_TOOL} $<TARGET_FILE:LexomirUpdate>
  COMMENT "Placing the resources on a page and sealing ${LEXOMIR_EXE_NAME}.exe")

enable_testing()
find_package(Python3 REQUIRED COMPONENTS Interpreter)
# The Python tests import the package winepe/ from the source root.
set(LEXOMIR_PYTHON_ENV PYTHONPATH=${CMAKE_SOURCE_DIR})
# What is shipped: the 32-bit image. The 64-bit test build is not checked.
# What the build was given for the version resource, for the image checks.
set(LEXOMIR_IMAGE_DETAILS --package-version ${LEXOMIR_PACKAGE_VERSION} "--company=${LEXOMIR_COMPANY_NAME}"
    "--copyright=${LEXOMIR_COPYRIGHT}")
if(NOT LEXOMIR_TEST_BUILD_64)
  add_test(NAME image_properties
    COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/wine/check_image.py
            $<TARGET_FILE:LexomirUpdate> ${LEXOMIR_PAYLOAD_FILE} ${LEXOMIR_IMAGE_DETAILS})
  # Every byte the installer grew by since the size target was set has a
  # feature in bench/size_features.txt; the ledger speaks of the default
  # version resource, without a publisher's details.
  if(LEXOMIR_COMPANY_NAME STREQUAL "" AND LEXOMIR_COPYRIGHT STREQUAL "")
    add_test(NAME size_growth
      COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/bench/size_growth.py check --map ${LEXOMIR_LINK_MAP}
              --installer $<TARGET_FILE:LexomirUpdate> --payload ${LEXOMIR_PAYLOAD_FILE})
    set_tests_properties(size_growth PROPERTIES LABELS image)
  endif()
  set_tests_properties(image_properties PROPERTIES LABELS image ENVIRONMENT ${LEXOMIR_PYTHON_ENV})
endif()

if(EXISTS ${CMAKE_SOURCE_DIR}/tests/wine/CMakeLists.txt)
  add_subdirectory(tests/wine)
endif()
