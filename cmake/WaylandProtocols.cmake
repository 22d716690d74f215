# Client code for Wayland protocols, generated at build time with wayland-scanner.
#
#   glimra_wayland_protocol(<target> <xml> [<xml>...])
#
# For each protocol file writes <name>-client-protocol.h and <name>-protocol.c (private code) into the
# build tree, adds the code to <target> and the folder to its include path. <name> is the file's name
# without .xml; a relative path is taken from the calling folder.
find_program(WAYLAND_SCANNER wayland-scanner REQUIRED)

function(glimra_wayland_protocol target)
  set(out_dir "${CMAKE_CURRENT_BINARY_DIR}/wayland-protocols")
  file(MAKE_DIRECTORY "${out_dir}")
  foreach(xml ${ARGN})
    get_filename_component(xml "${xml}" ABSOLUTE BASE_DIR "${CMAKE_CURRENT_SOURCE_DIR}")
    get_filename_component(name "${xml}" NAME_WE)
    set(header "${out_dir}/${name}-client-protocol.h")
    set(code "${out_dir}/${name}-protocol.c")
    add_custom_command(OUTPUT "${header}"
      COMMAND ${WAYLAND_SCANNER} client-header "${xml}" "${header}"
      DEPENDS "${xml}" VERBATIM)
    add_custom_command(OUTPUT "${code}"
      COMMAND ${WAYLAND_SCANNER} private-code "${xml}" "${code}"
      DEPENDS "${xml}" VERBATIM)
    target_sources(${target} PRIVATE "${header}" "${code}")
  endforeach()
  target_include_directories(${target} PUBLIC "${out_dir}")
endfunction()
