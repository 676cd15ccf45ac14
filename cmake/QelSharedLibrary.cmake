# qel_shared_library(<name> SOURCES <file>... HEADER <public header> MAP <version script>
#                    COMPONENT <install component>)
#
# A shared library of the kit, libQelTb or libQelApi: an object library
# <name>_objects of the sources (built without exceptions and RTTI, since
# nothing may throw across the C interface) feeds the shared library <name>,
# version 1.0.0, whose exported names are those of the version script. The
# caller adds what is particular to the library (link libraries, options) and
# its internal static library for the white-box tests.
function(qel_shared_library name)
  cmake_parse_arguments(PARSE_ARGV 1 ARG "" "HEADER;MAP;COMPONENT" "SOURCES")
  set(dir ${CMAKE_CURRENT_SOURCE_DIR})

  add_library(${name}_objects OBJECT ${ARG_SOURCES})
  target_include_directories(${name}_objects PUBLIC ${dir}/Sources)
  target_compile_options(${name}_objects PRIVATE -fno-exceptions -fno-rtti)

  add_library(${name} SHARED $<TARGET_OBJECTS:${name}_objects>)
  set_target_properties(${name} PROPERTIES
    OUTPUT_NAME ${name}
    VERSION 1.0.0
    SOVERSION 1
    PUBLIC_HEADER ${ARG_HEADER}
    LINK_DEPENDS ${dir}/${ARG_MAP})
  target_include_directories(${name} PUBLIC
    $<BUILD_INTERFACE:${dir}/Sources>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
  target_link_options(${name} PRIVATE -Wl,--version-script=${dir}/${ARG_MAP})
  if(NOT QEL_SANITIZE)
    # Every reference must be resolved by the libraries the caller names.
    target_link_options(${name} PRIVATE -Wl,--no-undefined)
  endif()

  install(TARGETS ${name} EXPORT QelDriverKitTargets
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT ${ARG_COMPONENT}
            NAMELINK_COMPONENT Development
    PUBLIC_HEADER DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development)
endfunction()
