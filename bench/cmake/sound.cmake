# The mixer's cost per device buffer: build/bench/q47_bench_sound
add_executable(q47_bench_sound ${CMAKE_CURRENT_LIST_DIR}/../bench_sound.cpp)
target_compile_options(q47_bench_sound PRIVATE ${Q47_WARNINGS})
target_link_libraries(q47_bench_sound PRIVATE q47_media benchmark::benchmark)
