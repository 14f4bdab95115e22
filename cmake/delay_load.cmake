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
function(lexomir_delay_import_libraries out_var)
  if(CMAKE_SYSTEM_PROCESSOR STREQUAL "x86_64")
    set(prefix x86_64-w64-mingw32)
    set(pattern " I __imp_([^ ]+)$")
    set(kill_at "")
  else()
    set(prefix i686-w64-mingw32)
    # i686 names carry their stack size (MessageBoxA@16); the DLL's do not.
    set(pattern " I __imp__([^ ]+)$")
    set(kill_at -k)
  endif()
  find_program(LEXOMIR_NM ${prefix}-nm REQUIRED)
  find_program(LEXOMIR_DLLTOOL ${prefix}-dlltool REQUIRED)
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
    list(JOIN exports "\n" exports)
    file(WRITE ${dir}/${name}.def "LIBRARY ${name}.dll\nEXPORTS\n${exports}\n")
    execute_process(COMMAND ${LEXOMIR_DLLTOOL} -d ${dir}/${name}.def -y ${dir}/lib${name}_delay.a -D ${name}.dll
                            ${kill_at} COMMAND_ERROR_IS_FATAL ANY)
    list(APPEND libraries ${dir}/lib${name}_delay.a)
  endforeach()
  set(${out_var} ${libraries} PARENT_SCOPE)
endfunction()
