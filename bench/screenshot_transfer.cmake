add_executable(screenshot_transfer_bench ${CMAKE_CURRENT_LIST_DIR}/screenshot_transfer_bench.cpp)
target_link_libraries(screenshot_transfer_bench PRIVATE glimra_xpc Qt6::Core Qt6::DBus)
