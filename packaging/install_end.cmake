# Last step of an install, for the prefix given at install time
# (CMAKE_INSTALL_PREFIX here is the one of `cmake --install --prefix`, or
# CPack's /usr): programs and libraries lose their run path where the library
# directory is one the dynamic loader searches by default, and a whole install
# as root into a directory of the loader's cache runs ldconfig.
if(QEL_INSTALL_PROBE)
  return()
endif()
include("${CMAKE_CURRENT_LIST_DIR}/loader_dirs.cmake")

if(IS_ABSOLUTE "${QEL_LIBDIR}")
  set(qel_libdir "${QEL_LIBDIR}")
else()
  set(qel_libdir "${CMAKE_INSTALL_PREFIX}/${QEL_LIBDIR}")
endif()
qel_loader_dir_kind("${qel_libdir}" qel_kind)

if(qel_kind STREQUAL "default")
  foreach(f IN LISTS CMAKE_INSTALL_MANIFEST_FILES)
    set(path "$ENV{DESTDIR}${f}")
    if(NOT IS_SYMLINK "${path}" AND EXISTS "${path}")
      file(READ "${path}" magic LIMIT 4 HEX)
      if(magic STREQUAL "7f454c46")
        file(RPATH_REMOVE FILE "${path}")
      endif()
    endif()
  endforeach()
endif()

if(NOT CMAKE_INSTALL_COMPONENT AND "$ENV{DESTDIR}" STREQUAL "" AND qel_kind STREQUAL "cache")
  execute_process(COMMAND id -u OUTPUT_VARIABLE uid OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(uid STREQUAL "0")
    message(STATUS "Running ldconfig for ${qel_libdir}")
    execute_process(COMMAND ldconfig)
  endif()
endif()
