# The rules' speed on the largest level: spread_step and check_containment.
add_executable(q47_bench_rules ${PROJECT_SOURCE_DIR}/bench/rules_bench.cpp)
target_compile_options(q47_bench_rules PRIVATE ${Q47_WARNINGS})
target_link_libraries(q47_bench_rules PRIVATE q47_game benchmark::benchmark)
