# End-to-end capture timings: message 6 to the helper until its PNG is on disk, beside grab + encode
# alone, scrot and maim (prints figures; not a test). bench/capture_bench.sh runs it at 1920x1080 and
# 3840x2160, each on its own headless session.
glimra_main_app_bench(capture_bench ${CMAKE_CURRENT_LIST_DIR}/capture_bench.cpp
  LIBRARIES glimra_x11 glimra_png)
