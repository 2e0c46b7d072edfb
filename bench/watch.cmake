# The watch list's pure parts: the plot's data at 8 values x 60 minutes and
# the scheduler at 20 blocks x 100 ms. Included by bench/CMakeLists.txt.
add_executable(bench_watch ${CMAKE_CURRENT_SOURCE_DIR}/bench_watch.cpp)
target_link_libraries(bench_watch PRIVATE vesktarvelo_core)
target_compile_options(bench_watch PRIVATE ${VESK_WARNINGS})

# The watch list in the real window against the libmodbus slave, and the plot's redraw.
if(TARGET vesktarvelo_window AND TARGET vesk_test_peers)
  add_executable(bench_watch_window ${CMAKE_CURRENT_SOURCE_DIR}/bench_watch_window.cpp)
  target_include_directories(bench_watch_window PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  target_link_libraries(bench_watch_window PRIVATE vesktarvelo_window vesk_test_peers)
  target_compile_options(bench_watch_window PRIVATE ${VESK_WARNINGS})
endif()
