# The region capture with its resize panel end to end, beside the full-screen capture of the same run
# (prints figures; not a test); its source says how to run it.
add_executable(region_capture_bench ${CMAKE_CURRENT_LIST_DIR}/region_capture_bench.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MainAppSide.h
  ${CMAKE_SOURCE_DIR}/src/reference/main-app/ReferenceMainApp.cpp
  ${CMAKE_SOURCE_DIR}/src/reference/main-app/ReferenceMainApp.h)
target_include_directories(region_capture_bench PRIVATE ${CMAKE_SOURCE_DIR}/src/reference/main-app
  ${CMAKE_SOURCE_DIR}/src/helper)
target_link_libraries(region_capture_bench PRIVATE glimra_platform glimra_xpc Qt6::Widgets Qt6::DBus
  PkgConfig::XCB)
target_compile_definitions(region_capture_bench PRIVATE GLIMRA_HELPER_BUNDLE_DIR="${GLIMRA_HELPER_BUNDLE_DIR}")
add_dependencies(region_capture_bench GlimraHelper)
