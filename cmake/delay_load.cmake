# Delay-import libraries for the GUI libraries: user32, gdi32, comctl32 and
# shell32 are then loaded at the first call of one of their functions, so a
# run that shows no box and no window never loads them (with them comes
# most of the windowing stack, a large part of the start-up time). The
# loader's helper (__delayLoadHelper2, in MinGW's runtime) loads them with
# the default search, which the program restricts to the system folder
# before anything else (platform/system_library.cpp).
#
# dlltool makes each library from a .def listing every export of the
# toolchain's own import library; the linker takes only what is called.
#
# Each function's member holds its slot of the delay IAT (__imp_ name) and,
# in .text, the thunk the slot points at until the first call plus a jump
# stub under the plain name (_FindWindowA@8). ld's i386 PE emulation (not
# the x86-64 one) drops the .text of an import-library member whose plain
# name nobody calls, taking it for an unused jump stub: the slot's
# relocation to the thunk then resolves to 0, and the first call of the
# function jumps to address 0. The program calls only through the __imp_
# names, so on i686 the plain names are stripped from the library; with no
# global symbol left in that .text, the linker keeps it.
function(lexomir_delay_import_libraries out_var)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(prefix x86_64-w64-mingw32)
    set(pattern " I __imp_([^ ]+)$")
    set(kill_at "")
    # ld's x86-64 emulation keeps those sections: nothing to strip.
    set(stub_prefix "")
  else()
    set(prefix i686-w64-mingw32)
    # i686 names carry their stack size (MessageBoxA@16); the DLL's do not.
    set(pattern " I __imp__([^ ]+)$")
    set(kill_at -k)
    set(stub_prefix _)
  endif()
  find_program(LEXOMIR_NM ${prefix}-nm REQUIRED)
  find_program(LEXOMIR_DLLTOOL ${prefix}-dlltool REQUIRED)
  find_program(LEXOMIR_OBJCOPY ${prefix}-objcopy REQUIRED)
  set(dir ${CMAKE_BINARY_DIR}/delay-import)
  file(MAKE_DIRECTORY ${dir})
  set(libraries)
  foreach(name ${ARGN})
    unset(import_lib)
    find_file(import_lib lib${name}.a PATHS /usr/${prefix}/lib NO_DEFAULT_PATH NO_CACHE REQUIRED)
    execute_process(COMMAND ${LEXOMIR_NM} ${import_lib} OUTPUT_VARIABLE symbols COMMAND_ERROR_IS_FATAL ANY)
    string(REPLACE "\n" ";" lines "${symbols}")
    set(exports)
    foreach(line ${lines})
      if(line MATCHES "${pattern}")
        list(APPEND exports ${CMAKE_MATCH_1})
      endif()
    endforeach()
    list(REMOVE_DUPLICATES exports)
    list(TRANSFORM exports PREPEND "${stub_prefix}" OUTPUT_VARIABLE stubs)
    list(JOIN exports "\n" exports)
    list(JOIN stubs "\n" stubs)
    file(WRITE ${dir}/${name}.def "LIBRARY ${name}.dll\nEXPORTS\n${exports}\n")
    execute_process(COMMAND ${LEXOMIR_DLLTOOL} -d ${dir}/${name}.def -y ${dir}/lib${name}_delay.a -D ${name}.dll
                            ${kill_at} COMMAND_ERROR_IS_FATAL ANY)
    if(NOT CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
      file(WRITE ${dir}/${name}.stubs "${stubs}\n")
      execute_process(COMMAND ${LEXOMIR_OBJCOPY} --strip-symbols=${dir}/${name}.stubs ${dir}/lib${name}_delay.a
                      COMMAND_ERROR_IS_FATAL ANY)
    endif()
    list(APPEND libraries ${dir}/lib${name}_delay.a)
  endforeach()
  set(${out_var} ${libraries} PARENT_SCOPE)
endfunction()
