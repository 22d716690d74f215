# From a region shortcut's key release to its overlay mapped and to its pixels on screen, beside the
# floor of any hot-key program and flameshot where it is installed (prints figures; not a test).
# bench/shortcut_overlay_bench.sh runs it against the real helper at 3840x2160 or on other monitors.
add_executable(shortcut_overlay_bench ${CMAKE_CURRENT_LIST_DIR}/shortcut_overlay_bench.cpp)
target_link_libraries(shortcut_overlay_bench PRIVATE PkgConfig::XCB)
