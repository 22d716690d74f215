# The helper's memory over many overlay sessions beside as many full-screen captures (prints figures;
# not a test); its source says how to run it.
glimra_main_app_bench(overlay_memory_bench ${CMAKE_CURRENT_LIST_DIR}/overlay_memory_bench.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Hand.h LIBRARIES PkgConfig::XCB)
target_include_directories(overlay_memory_bench PRIVATE ${CMAKE_SOURCE_DIR}/tests/support)
