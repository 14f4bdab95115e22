# Fuzz build: each parser of untrusted bytes under libFuzzer with ASan and
# UBSan (clang). Built instead of the unit tests when LEXOMIR_FUZZ is on.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
set(LEXOMIR_FUZZ_FLAGS -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer -g -O1)

add_library(lexomir_fuzz_product STATIC ${LEXOMIR_PRODUCT_SOURCES} ${LEXOMIR_SIM_SOURCES})
target_include_directories(lexomir_fuzz_product PUBLIC ${CMAKE_SOURCE_DIR})
# clang has no CP1251 execution charset; the parsers do not depend on it.
target_compile_options(lexomir_fuzz_product PUBLIC ${LEXOMIR_FUZZ_FLAGS}
                       -Wno-deprecated-declarations)
target_link_libraries(lexomir_fuzz_product PUBLIC OpenSSL::Crypto)

enable_testing()
set(LEXOMIR_FUZZ_SECONDS 30 CACHE STRING "How long CTest runs each fuzz target")
file(GLOB LEXOMIR_FUZZ_TARGETS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/fuzz/*_fuzz.cpp)
foreach(source ${LEXOMIR_FUZZ_TARGETS})
  get_filename_component(name ${source} NAME_WE)
  string(REGEX REPLACE "_fuzz$" "" corpus ${name})
  add_executable(${name} ${source})
  target_link_libraries(${name} PRIVATE lexomir_fuzz_product)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer,address,undefined)
  # Each run starts from the committed seeds; what it finds stays in the build tree.
  set(work ${CMAKE_BINARY_DIR}/corpus/${corpus})
  add_test(NAME fuzz_${corpus}
    COMMAND ${CMAKE_COMMAND} -E env UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
            sh -c "mkdir -p '${work}' && exec $<TARGET_FILE:${name}> -max_total_time=${LEXOMIR_FUZZ_SECONDS} -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 -artifact_prefix='${work}/' '${work}' '${CMAKE_SOURCE_DIR}/fuzz/corpus/${corpus}'")
  set_tests_properties(fuzz_${corpus} PROPERTIES LABELS fuzz TIMEOUT 600)
endforeach()
