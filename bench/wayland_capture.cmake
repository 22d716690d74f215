# The helper's captures on sway end to end: full screen beside grim, the region shortcut to the
# overlay's first frame on every output, the portal's road (prints figures; not a test).
# bench/wayland_bench.sh runs it on the session's two outputs and at 3840x2160, each in a headless sway
# of its own, beside the X11 figures.
glimra_main_app_bench(wayland_capture_bench ${CMAKE_CURRENT_LIST_DIR}/wayland_capture_bench.cpp
  LIBRARIES glimra_wayland glimra_test_support)
