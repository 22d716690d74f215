# Copies of outputs on a Wayland compositor beside grim (prints figures; not a test). Inside a headless
# sway session with HEADLESS-1 and HEADLESS-2 (and the desktop portal for the portal's figure):
#   build/bench/wayland_copy_bench [runs]
add_executable(wayland_copy_bench ${CMAKE_CURRENT_LIST_DIR}/wayland_copy_bench.cpp)
target_link_libraries(wayland_copy_bench PRIVATE glimra_wayland Qt6::Gui Qt6::DBus)
