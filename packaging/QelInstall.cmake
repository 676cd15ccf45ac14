# How the kit installs: the components every install() rule names (one
# Debian package each, see packaging/CMakeLists.txt), the run path of the
# programs, and the hooks that make a plain `cmake --install` work at once and
# let the `uninstall` target undo it.  Included by the top-level CMakeLists.txt
# before any part of the kit.
#
# Components (COMPONENT of an install() rule -> Debian package):
#   TbLib       libQelTb.so.1                           -> libqeltb1
#   ApiLib      libQelApi.so.1                          -> libqelapi1
#   Development headers, .so links, pkg-config, CMake   -> libqel-dev
#   CupsDriver  rastertoqel, qel backend, PPDs, udev    -> printer-driver-qel
#   Tools       the three maintenance tools             -> qel-tools
#   PrinterApp  qel-printer-app and its systemd unit    -> qel-printer-app
#   Emulator    qel-printer-emulator                    -> qel-printer-emulator
set(QEL_COMPONENTS TbLib ApiLib Development CupsDriver Tools PrinterApp Emulator)

# The programs find the kit's libraries through their run path, whatever the
# prefix: programs under the prefix look relative to themselves
# ($ORIGIN/../lib...), so `cmake --install --prefix DIR` may pick any DIR;
# programs in CUPS's absolute directories (filter, backend) name the library
# directory of the configured prefix.  Where the library directory is one the
# dynamic loader searches by default (/usr/lib/<multiarch>, /usr/lib, /lib...)
# the run path is removed again at install time: the Debian packages carry
# none.  When the library directory is in the loader's cache configuration
# (/usr/local/lib) a root install without DESTDIR also runs ldconfig, for
# programs built against the kit.
file(RELATIVE_PATH qel_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set(QEL_PROGRAM_RUNPATH "$ORIGIN/${qel_bin_to_lib}")

# qel_install_runpath(TARGET... [ABSOLUTE]): the run path of programs of the
# kit; ABSOLUTE for programs installed outside the prefix.
function(qel_install_runpath)
  cmake_parse_arguments(arg "ABSOLUTE" "" "" ${ARGN})
  foreach(target IN LISTS arg_UNPARSED_ARGUMENTS)
    if(arg_ABSOLUTE)
      set_target_properties(${target} PROPERTIES INSTALL_RPATH ${CMAKE_INSTALL_FULL_LIBDIR})
    else()
      set_target_properties(${target} PROPERTIES INSTALL_RPATH ${QEL_PROGRAM_RUNPATH})
    endif()
  endforeach()
endfunction()

# First install step of a whole install: note the directories it will create,
# for the uninstall target.
install(CODE "set(QEL_BINARY_DIR \"${CMAKE_BINARY_DIR}\")
include(\"${CMAKE_CURRENT_LIST_DIR}/install_begin.cmake\")")

# Last install steps (called from packaging/CMakeLists.txt, after every part
# of the kit): run paths for the install-time prefix, ldconfig, the record
# of created directories.
function(qel_install_finish)
  set(code "set(QEL_BINARY_DIR \"${CMAKE_BINARY_DIR}\")
set(QEL_LIBDIR \"${CMAKE_INSTALL_LIBDIR}\")
include(\"${CMAKE_CURRENT_FUNCTION_LIST_DIR}/install_end.cmake\")")
  foreach(component IN LISTS QEL_COMPONENTS)
    install(CODE "${code}" COMPONENT ${component})
  endforeach()
  install(CODE "${code}")
endfunction()

add_custom_target(uninstall
  COMMAND ${CMAKE_COMMAND} -DQEL_BINARY_DIR=${CMAKE_BINARY_DIR}
          -P ${CMAKE_CURRENT_LIST_DIR}/uninstall.cmake
  COMMENT "Removing what cmake --install installed"
  VERBATIM)
