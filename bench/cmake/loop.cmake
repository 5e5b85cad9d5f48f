# The whole game loop's processor share, resident memory and threads beside a flip-only loop.
add_executable(q47_bench_loop ${PROJECT_SOURCE_DIR}/bench/loop_bench.cpp)
target_compile_options(q47_bench_loop PRIVATE ${Q47_WARNINGS})
target_compile_definitions(q47_bench_loop PRIVATE Q47_ASSETS_DIR="${PROJECT_BINARY_DIR}/assets")
target_link_libraries(q47_bench_loop PRIVATE q47_game benchmark::benchmark)
add_dependencies(q47_bench_loop q47_sounds)  # the loop plays its real sounds and music
