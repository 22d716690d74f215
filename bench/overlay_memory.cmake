# The helper's memory over many captures through the overlay, on X11 or on sway (prints figures; not a
# test); its source says how to run it, bench/memory_bench.sh runs it on both.
glimra_main_app_bench(overlay_memory_bench ${CMAKE_CURRENT_LIST_DIR}/overlay_memory_bench.cpp
  LIBRARIES glimra_wayland glimra_test_support)
