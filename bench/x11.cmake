# Screen grab timings of the X11 window server (prints figures; not a test).
#   scripts/with-session --geometry 3840x2160x24 build/bench/x11_grab_bench
add_executable(x11_grab_bench ${CMAKE_CURRENT_LIST_DIR}/x11_grab_bench.cpp)
target_link_libraries(x11_grab_bench PRIVATE glimra_x11 PkgConfig::XCB Qt6::Gui)
