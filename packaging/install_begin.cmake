# First step of a whole `cmake --install`: finds the directories this install
# will create, so that the uninstall target removes them again and no others.
# It installs the kit once into a scratch DESTDIR (a probe) and notes every
# directory of the probe that does not exist yet at the real destination.
# Component installs (CPack) and the probe itself skip this.
if(CMAKE_INSTALL_COMPONENT OR QEL_INSTALL_PROBE)
  return()
endif()

set(qel_probe "${QEL_BINARY_DIR}/install-probe")
set(qel_record "${QEL_BINARY_DIR}/install_created_dirs.txt")
file(REMOVE_RECURSE "${qel_probe}")
execute_process(
  COMMAND ${CMAKE_COMMAND} -E env DESTDIR=${qel_probe}
          ${CMAKE_COMMAND} -DCMAKE_INSTALL_PREFIX=${CMAKE_INSTALL_PREFIX}
          -DCMAKE_INSTALL_CONFIG_NAME=${CMAKE_INSTALL_CONFIG_NAME} -DQEL_INSTALL_PROBE=1
          -P "${QEL_BINARY_DIR}/cmake_install.cmake"
  OUTPUT_QUIET RESULT_VARIABLE qel_probe_result)
if(NOT qel_probe_result EQUAL 0)
  message(FATAL_ERROR "The trial install into ${qel_probe} failed")
endif()

# Directories an earlier install created and that still exist stay recorded.
set(qel_created)
if(EXISTS "${qel_record}")
  file(STRINGS "${qel_record}" qel_earlier)
  foreach(dir IN LISTS qel_earlier)
    if(IS_DIRECTORY "$ENV{DESTDIR}${dir}")
      list(APPEND qel_created "${dir}")
    endif()
  endforeach()
endif()
file(GLOB_RECURSE qel_probe_entries LIST_DIRECTORIES true "${qel_probe}/*")
foreach(entry IN LISTS qel_probe_entries)
  if(IS_DIRECTORY "${entry}" AND NOT IS_SYMLINK "${entry}")
    string(LENGTH "${qel_probe}" n)
    string(SUBSTRING "${entry}" ${n} -1 dir)
    if(NOT EXISTS "$ENV{DESTDIR}${dir}")
      list(APPEND qel_created "${dir}")
    endif()
  endif()
endforeach()
list(REMOVE_DUPLICATES qel_created)
list(JOIN qel_created "\n" qel_text)
file(WRITE "${qel_record}" "${qel_text}\n")
file(REMOVE_RECURSE "${qel_probe}")
