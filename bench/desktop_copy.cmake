# Copies of outputs on KWin (ScreenShot2 beside the portal) and GNOME Shell (the portal), inside their
# headless sessions (prints figures; not a test):
#   scripts/with-session --kwin build/bench/desktop_copy_bench [runs]
add_executable(desktop_copy_bench ${CMAKE_CURRENT_LIST_DIR}/desktop_copy_bench.cpp)
target_link_libraries(desktop_copy_bench PRIVATE glimra_wayland Qt6::Gui Qt6::DBus)
