# The region capture with its resize panel end to end, beside the full-screen capture of the same run
# (prints figures; not a test); its source says how to run it.
glimra_main_app_bench(region_capture_bench ${CMAKE_CURRENT_LIST_DIR}/region_capture_bench.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Hand.h LIBRARIES PkgConfig::XCB)
