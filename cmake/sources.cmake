# The product's sources, named one by one. Each build compiles them once,
# into one product library for its platform, which the executable, the
# tests, the Wine probes and the fuzz targets link.

set(LEXOMIR_PRODUCT_SOURCES
  driver/app_instance.cpp
  driver/desktop_user.cpp
  driver/process_state.cpp
  driver/program_entry.cpp
  driver/update_sequence.cpp
  environment/install_target.cpp
  environment/process_environment.cpp
  environment/process_values.cpp
  environment/registry.cpp
  install/embedded_file.cpp
  install/file_holders.cpp
  install/install_guard.cpp
  install/installed_size.cpp
  install/pe_image.cpp
  install/self_check.cpp
  install/version_probes.cpp
  install/version_replacement.cpp
  messages/box_text.cpp
  messages/lang_unit.cpp
  messages/messages.cpp
  messages/support_log.cpp
  osinfo/console_command.cpp
  osinfo/os_description.cpp
  progress/progress_window.cpp
  runtime/command_line.cpp
  runtime/random.cpp
  runtime/text.cpp
  runtime/text_reader.cpp
  runtime/text_to_int.cpp
  runtime/thread.cpp
  platform/admin_rights.cpp
  platform/code_pages.cpp
  platform/files.cpp
  platform/sha256.cpp
  platform/sha256_extensions.cpp
  platform/system_library.cpp)
list(TRANSFORM LEXOMIR_PRODUCT_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/)

# The simulated PC behind the seam, for the host and fuzz builds.
set(LEXOMIR_SIM_SOURCES
  tests/sim/sim_codepage.cpp
  tests/sim/sim_core.cpp
  tests/sim/sim_cpu.cpp
  tests/sim/sim_delay_load.cpp
  tests/sim/sim_event_log.cpp
  tests/sim/sim_files.cpp
  tests/sim/sim_module.cpp
  tests/sim/sim_namespace.cpp
  tests/sim/sim_process.cpp
  tests/sim/sim_registry.cpp
  tests/sim/sim_restart_manager.cpp
  tests/sim/sim_security.cpp
  tests/sim/sim_shell.cpp
  tests/sim/sim_threads.cpp
  tests/sim/sim_user.cpp
  tests/sim/sim_version.cpp
  tests/sim/sim_windowing.cpp)
list(TRANSFORM LEXOMIR_SIM_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/)

# The product's Windows-only pieces, in its library there; the seam's check
# against the SDK (static_asserts only) is compiled with them.
set(LEXOMIR_WINDOWS_LIB_SOURCES
  ${CMAKE_SOURCE_DIR}/platform/windows/cpu_identity.cpp
  ${CMAKE_SOURCE_DIR}/platform/windows/win32_values_check.cpp)

# The executable's own files on Windows: the entry point, and the terminate
# handler, which must be linked as an object to replace libstdc++'s (an
# archive member nothing refers to would be left out).
set(LEXOMIR_WINDOWS_EXE_SOURCES
  ${CMAKE_SOURCE_DIR}/entry/winmain.cpp
  ${CMAKE_SOURCE_DIR}/entry/terminate.cpp)

# Sources stay UTF-8; narrow literals become CP1251 bytes, as the Russian
# texts must be at run time on every build.
set(LEXOMIR_CHARSET_FLAGS -finput-charset=UTF-8 -fexec-charset=CP1251)
# A warning stops the build: product, tests and probes alike.
set(LEXOMIR_WARNING_FLAGS -Wall -Wextra -Werror)
