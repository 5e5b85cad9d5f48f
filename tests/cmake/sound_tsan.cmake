# The streaming and mixer tests again, under ThreadSanitizer: the refill thread, the device's
# callback thread and the game's thread share the mixer and the stream flags. Any report fails.
q47_add_libs(_tsan -fsanitize=thread)
add_executable(q47_sound_tsan_tests ${CMAKE_CURRENT_LIST_DIR}/../test_sound_stream.cpp
  ${CMAKE_CURRENT_LIST_DIR}/../test_sound_mixer.cpp)
target_compile_options(q47_sound_tsan_tests PRIVATE ${Q47_WARNINGS} -fsanitize=thread)
target_link_options(q47_sound_tsan_tests PRIVATE -fsanitize=thread)
target_link_libraries(q47_sound_tsan_tests PRIVATE q47_media_tsan q47_ogg_encode GTest::gtest
  GTest::gtest_main)
add_test(NAME sound_tsan COMMAND q47_sound_tsan_tests)
set_tests_properties(sound_tsan PROPERTIES TIMEOUT 600
  ENVIRONMENT "TSAN_OPTIONS=halt_on_error=1 exitcode=66")
