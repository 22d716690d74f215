# Crosshair overlay timings (prints figures; not a test): one frame's paint while hunting and while
# dragging beside a full-frame repaint, and show() until another X client sees the overlay mapped
# beside a plain window. bench/overlay_bench.sh runs it at 1920x1080, 3840x2160 and on a two-screen
# 5760x2160 desktop.
add_executable(overlay_bench ${CMAKE_CURRENT_LIST_DIR}/overlay_bench.cpp)
target_link_libraries(overlay_bench PRIVATE glimra_crosshair_overlay glimra_x11 Qt6::Gui PkgConfig::XCB)
get_target_property(crosshair_images_dir glimra_crosshair_images GLIMRA_CROSSHAIR_IMAGES_DIR)
target_compile_definitions(overlay_bench PRIVATE GLIMRA_CROSSHAIR_IMAGES_DIR="${crosshair_images_dir}")
add_dependencies(overlay_bench glimra_crosshair_images)
