# The programs built from the library: register-brevlin on both systems, and
# on Linux the companion command for the registry store.
if(WIN32)
  enable_language(RC)
  file(GLOB BREVLIN_RESOURCES CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/src/app/win32/*.rc)
  add_executable(register-brevlin WIN32 src/app/win32/brevlin_main.cc ${BREVLIN_RESOURCES})
else()
  # On Linux the program is a Linux command in front of the Windows one.
  add_executable(register-brevlin src/app/posix/brevlin_main.cc)
endif()
target_link_libraries(register-brevlin PRIVATE brevlin)

if(NOT WIN32)
  add_executable(regstore src/regstore_tool/regstore_main.cc)
  target_link_libraries(regstore PRIVATE regstore_commands)
endif()

# On Linux the programs carry the C++ runtime in themselves: loading and
# relocating libstdc++ at every start would take longer than all the work of
# a run without a configuration file. (The Windows toolchain links it
# statically already.) Sanitizer and fuzzing builds keep the shared runtime.
if(NOT WIN32 AND NOT BREVLIN_SANITIZE AND NOT BREVLIN_FUZZ)
  foreach(program register-brevlin regstore)
    if(TARGET ${program})
      target_link_options(${program} PRIVATE -static-libstdc++ -static-libgcc)
    endif()
  endforeach()
endif()
