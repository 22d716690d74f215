# The main application's capture-to-delivery time and the helper's memory, before, during and after a
# hostile client's burst (prints figures; not a test). Run inside a headless session:
#   scripts/with-session build/bench/hostile_burst_bench
add_executable(hostile_burst_bench ${CMAKE_CURRENT_LIST_DIR}/hostile_burst_bench.cpp)
target_include_directories(hostile_burst_bench PRIVATE ${CMAKE_SOURCE_DIR}/src/helper
  ${CMAKE_SOURCE_DIR}/tests/support)
target_link_libraries(hostile_burst_bench PRIVATE glimra_xpc Qt6::Core Qt6::DBus)
target_compile_definitions(hostile_burst_bench PRIVATE GLIMRA_HELPER_BUNDLE_DIR="${GLIMRA_HELPER_BUNDLE_DIR}")
add_dependencies(hostile_burst_bench GlimraHelper)
