# Benchmarks against real peers and of the window. Included by
# bench/CMakeLists.txt; run them all with scripts/bench.sh.

# ---- the engine on the real Qt platform against the libmodbus slave ---------
if(TARGET vesktarvelo_qt AND TARGET vesk_test_peers)
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(VESK_BENCH_LIBMODBUS REQUIRED IMPORTED_TARGET libmodbus)

  # Transactions per second: engine vs a plain client, TCP, RTU-OVER-TCP, RTU.
  add_executable(bench_transactions bench_transactions.cpp bench_rig.h)
  target_link_libraries(bench_transactions PRIVATE vesktarvelo_qt vesk_test_peers PkgConfig::VESK_BENCH_LIBMODBUS)
  target_compile_options(bench_transactions PRIVATE ${VESK_WARNINGS})

  # Response time shown (lblDT) against the delay the slave adds.
  add_executable(bench_response_time bench_response_time.cpp bench_rig.h)
  target_link_libraries(bench_response_time PRIVATE vesktarvelo_qt vesk_test_peers PkgConfig::VESK_BENCH_LIBMODBUS)
  target_compile_options(bench_response_time PRIVATE ${VESK_WARNINGS})
endif()

# ---- the window: log pane, start-up time and memory ------------------------
if(TARGET vesktarvelo_window)
  find_package(Qt6 REQUIRED COMPONENTS Gui Widgets)

  # Log append through the real window at 1,000 vs 100,000 entries written.
  add_executable(bench_log_window bench_log_window.cpp bench_rig.h)
  target_link_libraries(bench_log_window PRIVATE vesktarvelo_window)
  target_compile_options(bench_log_window PRIVATE ${VESK_WARNINGS})

  # The reference for start-up: an empty Qt Widgets window.
  add_executable(bench_empty_window bench_empty_window.cpp)
  target_link_libraries(bench_empty_window PRIVATE Qt6::Widgets)
  target_compile_options(bench_empty_window PRIVATE ${VESK_WARNINGS})

  # Preloaded into the program under test: reports when its first window is
  # exposed, with the resident memory, and ends the program.
  add_library(bench_startup_hook MODULE bench_startup_hook.cpp)
  target_link_libraries(bench_startup_hook PRIVATE Qt6::Gui)
  target_compile_options(bench_startup_hook PRIVATE ${VESK_WARNINGS})

  # Starts a program a number of times with the hook and prints the figures.
  add_executable(bench_startup bench_startup.cpp)
  target_compile_options(bench_startup PRIVATE ${VESK_WARNINGS})
  target_compile_definitions(bench_startup PRIVATE VESK_STARTUP_HOOK_PATH="$<TARGET_FILE:bench_startup_hook>"
                                                   VESK_EMPTY_WINDOW_PATH="$<TARGET_FILE:bench_empty_window>")
  if(TARGET vesktarvelo)
    target_compile_definitions(bench_startup PRIVATE VESK_PROGRAM_PATH="$<TARGET_FILE:vesktarvelo>")
    add_dependencies(bench_startup vesktarvelo)
  endif()
  add_dependencies(bench_startup bench_startup_hook bench_empty_window)

  # The window polling the fault peer that floods each answer with garbage.
  if(TARGET vesk_test_peers)
    add_executable(bench_flood bench_flood.cpp bench_rig.h)
    target_link_libraries(bench_flood PRIVATE vesktarvelo_window vesk_test_peers)
    target_compile_options(bench_flood PRIVATE ${VESK_WARNINGS})
  endif()
endif()

# Back-to-back reads through the command-line client next to libmodbus.
if(TARGET vesktarvelo-cli AND TARGET vesk_test_peers AND TARGET PkgConfig::VESK_BENCH_LIBMODBUS)
  add_executable(bench_cli bench_cli.cpp)
  target_link_libraries(bench_cli PRIVATE vesk_test_peers PkgConfig::VESK_BENCH_LIBMODBUS)
  target_compile_options(bench_cli PRIVATE ${VESK_WARNINGS})
  target_compile_definitions(bench_cli PRIVATE VESK_CLI_PATH="$<TARGET_FILE:vesktarvelo-cli>")
  add_dependencies(bench_cli vesktarvelo-cli)
endif()
