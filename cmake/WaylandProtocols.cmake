# Wayland clients: libwayland-client (PkgConfig::WAYLAND_CLIENT) and the code wayland-scanner generates
# from protocol XML. Protocols that wayland-protocols ships are found under
# ${GLIMRA_WAYLAND_PROTOCOLS_DIR}.
#
#   glimra_wayland_protocol(<target> [SERVER] <xml> [<xml>...])
#
# For each protocol file writes <name>-client-protocol.h and <name>-protocol.c (private code) into the
# build tree, adds them to <target> and the folder to its include path, and links <target> with
# libwayland-client. <name> is the file's name without .xml; a relative path is taken from the calling
# folder. With SERVER only <name>-server-protocol.h is written (for test compositors): the interfaces'
# code comes from a library that has the client side, so it is defined once.
include_guard(GLOBAL)
pkg_check_modules(WAYLAND_CLIENT REQUIRED IMPORTED_TARGET GLOBAL wayland-client)
pkg_get_variable(GLIMRA_WAYLAND_PROTOCOLS_DIR wayland-protocols pkgdatadir)
if(NOT GLIMRA_WAYLAND_PROTOCOLS_DIR)
  message(FATAL_ERROR "wayland-protocols not found (package wayland-protocols)")
endif()
pkg_get_variable(_glimra_wayland_scanner wayland-scanner wayland_scanner)
find_program(WAYLAND_SCANNER NAMES wayland-scanner HINTS "${_glimra_wayland_scanner}" REQUIRED)

function(glimra_wayland_protocol target)
  set(xmls ${ARGN})
  set(side client)
  list(GET xmls 0 first)
  if(first STREQUAL "SERVER")
    set(side server)
    list(REMOVE_AT xmls 0)
  endif()
  set(out_dir "${CMAKE_CURRENT_BINARY_DIR}/wayland-protocols-${side}")
  file(MAKE_DIRECTORY "${out_dir}")
  foreach(xml ${xmls})
    get_filename_component(xml "${xml}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    get_filename_component(name "${xml}" NAME_WE)
    set(header "${out_dir}/${name}-${side}-protocol.h")
    add_custom_command(OUTPUT "${header}"
      COMMAND ${WAYLAND_SCANNER} ${side}-header "${xml}" "${header}"
      DEPENDS "${xml}" VERBATIM)
    target_sources(${target} PRIVATE "${header}")
    if(side STREQUAL "client")
      set(code "${out_dir}/${name}-protocol.c")
      add_custom_command(OUTPUT "${code}"
        COMMAND ${WAYLAND_SCANNER} private-code "${xml}" "${code}"
        DEPENDS "${xml}" VERBATIM)
      target_sources(${target} PRIVATE "${code}")
    endif()
  endforeach()
  target_include_directories(${target} PUBLIC "${out_dir}")
  if(side STREQUAL "client")
    target_link_libraries(${target} PUBLIC PkgConfig::WAYLAND_CLIENT)
  endif()
endfunction()
