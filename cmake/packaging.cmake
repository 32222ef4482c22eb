# What `cmake --install` puts in place, and the packages CPack makes of it:
# on Linux a .deb with both programs, their manual pages, the bash completion
# and the documents; for Windows a .zip with the program and its README.
set(BREVLIN_DOCS ${CMAKE_CURRENT_SOURCE_DIR}/README.md ${CMAKE_CURRENT_SOURCE_DIR}/CHANGELOG.md
                 ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
# The README's links lead into docs/, which goes beside it.
file(GLOB BREVLIN_REFERENCE_DOCS ${CMAKE_CURRENT_SOURCE_DIR}/docs/*.md ${CMAKE_CURRENT_SOURCE_DIR}/docs/*.png
     ${CMAKE_CURRENT_SOURCE_DIR}/docs/*.svg)

if(WIN32)
  install(TARGETS register-brevlin RUNTIME DESTINATION .)
  install(FILES ${BREVLIN_DOCS} DESTINATION .)
  install(FILES ${BREVLIN_REFERENCE_DOCS} DESTINATION docs)
else()
  include(GNUInstallDirs)
  install(TARGETS register-brevlin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  if(TARGET regstore)
    install(TARGETS regstore RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
  install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/docs/man/register-brevlin.1
                ${CMAKE_CURRENT_SOURCE_DIR}/docs/man/regstore.1
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # bash-completion loads a command's completion from a file of its name.
  foreach(command register-brevlin regstore)
    install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/packaging/brevlin.bash-completion
            DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME ${command})
  endforeach()
  install(FILES ${BREVLIN_DOCS} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/register-brevlin)
  install(FILES ${BREVLIN_REFERENCE_DOCS} DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/register-brevlin/docs)
endif()

set(CPACK_PACKAGE_NAME register-brevlin)
set(CPACK_PACKAGE_VENDOR Mardovan)
set(CPACK_PACKAGE_CONTACT "Mardovan")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Loads program configuration files into the registry")
set(CPACK_RESOURCE_FILE_LICENSE ${CMAKE_CURRENT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(CPACK_SYSTEM_NAME win32)
  else()
    set(CPACK_SYSTEM_NAME win64)
  endif()
  set(CPACK_PACKAGE_FILE_NAME register-brevlin-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Mardovan")
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
      "register-brevlin reads a program configuration file and writes its keys and values into a registry store (an SQLite file); regstore looks into the store and prepares it.")
  # The C++ runtime is linked into the programs; what they need from the
  # system is computed from them where dpkg-shlibdeps is at hand.
  find_program(BREVLIN_DPKG_SHLIBDEPS dpkg-shlibdeps)
  if(BREVLIN_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  else()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libsqlite3-0")
  endif()
endif()
include(CPack)
