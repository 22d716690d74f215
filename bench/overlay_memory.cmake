# The helper's memory over many overlay sessions beside as many full-screen captures (prints figures;
# not a test); its source says how to run it.
glimra_main_app_bench(overlay_memory_bench ${CMAKE_CURRENT_LIST_DIR}/overlay_memory_bench.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Hand.h ${CMAKE_CURRENT_LIST_DIR}/ProcessMemory.h LIBRARIES PkgConfig::XCB)
