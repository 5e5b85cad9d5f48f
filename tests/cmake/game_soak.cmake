# Soak of the real loop with AddressSanitizer and UndefinedBehaviorSanitizer: a short run here;
# run build/tests/q47_game_soak 300 by hand for the long one. The small quarantine keeps the
# resident-memory check about our memory rather than about freed blocks the sanitizer holds.
if(NOT TARGET q47_game_asan)
  q47_add_libs(_asan -fsanitize=address,undefined -fno-omit-frame-pointer)
endif()
add_executable(q47_game_soak ${CMAKE_CURRENT_SOURCE_DIR}/game_soak.cpp)
target_compile_options(q47_game_soak PRIVATE ${Q47_WARNINGS})
target_link_libraries(q47_game_soak PRIVATE q47_game_asan)
add_test(NAME game_soak COMMAND q47_game_soak 20)
# Alone, so that its full core does not starve the timing-sensitive tests of other areas.
set_tests_properties(game_soak PROPERTIES TIMEOUT 300 RUN_SERIAL TRUE ENVIRONMENT
  "SDL_VIDEODRIVER=dummy;SDL_AUDIODRIVER=dummy;UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1;ASAN_OPTIONS=detect_leaks=1:quarantine_size_mb=1;LSAN_OPTIONS=suppressions=${CMAKE_CURRENT_SOURCE_DIR}/game_soak.supp:print_suppressions=0")
