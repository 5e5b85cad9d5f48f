# Frame work of the game on its largest level.
add_executable(q47_bench_game ${CMAKE_CURRENT_SOURCE_DIR}/game_bench.cpp)
target_compile_options(q47_bench_game PRIVATE ${Q47_WARNINGS})
target_link_libraries(q47_bench_game PRIVATE q47_game benchmark::benchmark)
