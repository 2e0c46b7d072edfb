# The watch list's pure parts: the plot's data at 8 values x 60 minutes and
# the scheduler at 20 blocks x 100 ms. Included by bench/CMakeLists.txt.
add_executable(bench_watch ${CMAKE_CURRENT_SOURCE_DIR}/bench_watch.cpp)
target_link_libraries(bench_watch PRIVATE vesktarvelo_core)
target_compile_options(bench_watch PRIVATE ${VESK_WARNINGS})
