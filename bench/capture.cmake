# End-to-end capture timings: message 6 to the helper until its PNG is on disk, beside grab + encode
# alone, scrot and maim (prints figures; not a test). bench/capture_bench.sh runs it at 1920x1080 and
# 3840x2160, each on its own headless session.
add_executable(capture_bench ${CMAKE_CURRENT_LIST_DIR}/capture_bench.cpp
  ${CMAKE_SOURCE_DIR}/src/reference/main-app/ReferenceMainApp.cpp
  ${CMAKE_SOURCE_DIR}/src/reference/main-app/ReferenceMainApp.h)
target_include_directories(capture_bench PRIVATE ${CMAKE_SOURCE_DIR}/src/reference/main-app
  ${CMAKE_SOURCE_DIR}/src/helper)
target_link_libraries(capture_bench PRIVATE glimra_platform glimra_xpc glimra_x11 glimra_png Qt6::Widgets
  Qt6::DBus)
target_compile_definitions(capture_bench PRIVATE GLIMRA_HELPER_BUNDLE_DIR="${GLIMRA_HELPER_BUNDLE_DIR}")
add_dependencies(capture_bench GlimraHelper)
