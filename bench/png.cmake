# PNG encoder timings beside libpng at its defaults (prints figures; not a test).
#   build/bench/png_bench [--runs N] [--variants] [--save DIR] [--image FILE]...
add_executable(png_bench ${CMAKE_CURRENT_LIST_DIR}/png_bench.cpp)
target_link_libraries(png_bench PRIVATE glimra_png PkgConfig::PNG PkgConfig::ISAL PkgConfig::DEFLATE Qt6::Gui)
