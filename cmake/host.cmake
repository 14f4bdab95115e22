# Host build: the product compiled against the simulated PC, its unit
# tests, and the host programs the Windows build runs.
find_package(GTest REQUIRED)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)

option(LEXOMIR_SANITIZE "Build the host tree with AddressSanitizer and UBSan" OFF)
if(LEXOMIR_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
endif()

add_library(lexomir_sim STATIC ${LEXOMIR_SIM_SOURCES})
target_include_directories(lexomir_sim PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(lexomir_sim PRIVATE ${LEXOMIR_CHARSET_FLAGS} ${LEXOMIR_WARNING_FLAGS}
                       -Wno-missing-field-initializers -Wno-cast-function-type)
target_link_libraries(lexomir_sim PUBLIC OpenSSL::Crypto)

add_library(lexomir_product STATIC ${LEXOMIR_PRODUCT_SOURCES})
target_include_directories(lexomir_product PUBLIC ${CMAKE_SOURCE_DIR})
target_compile_options(lexomir_product PRIVATE ${LEXOMIR_CHARSET_FLAGS} ${LEXOMIR_WARNING_FLAGS})
target_link_libraries(lexomir_product PUBLIC lexomir_sim)

add_subdirectory(tools)

enable_testing()
file(GLOB LEXOMIR_TEST_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/*.cpp)
add_executable(lexomir_tests ${LEXOMIR_TEST_SOURCES})
target_compile_options(lexomir_tests PRIVATE ${LEXOMIR_CHARSET_FLAGS} ${LEXOMIR_WARNING_FLAGS})
target_link_libraries(lexomir_tests PRIVATE lexomir_product lexomir_pe_tools GTest::gtest GTest::gmock)
include(GoogleTest)
gtest_discover_tests(lexomir_tests DISCOVERY_TIMEOUT 60 PROPERTIES LABELS host)

# The checks of the source tree's own rules (names, layers, exit codes) test.sh runs.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
add_test(NAME source_rule_checks
  COMMAND ${Python3_EXECUTABLE} -m unittest check_names_test check_layers_test check_exit_codes_test
  WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/scripts)
set_tests_properties(source_rule_checks PROPERTIES LABELS host)
