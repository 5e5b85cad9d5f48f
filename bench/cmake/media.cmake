# Frame pacing of the screen: achieved period and CPU share at 50 frames per second, and the
# cost of one unpaced flip and of drawing a board-sized frame.
add_executable(q47_bench_media ${PROJECT_SOURCE_DIR}/bench/pacing_bench.cpp)
target_compile_options(q47_bench_media PRIVATE ${Q47_WARNINGS})
target_link_libraries(q47_bench_media PRIVATE q47_media benchmark::benchmark)
