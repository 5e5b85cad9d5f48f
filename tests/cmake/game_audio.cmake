# The device path: the real executable on SDL's disk audio driver under a private Xvfb, played
# through the intro by xdotool; the recording is measured against our own sound files, and
# strace shows which files the game reads, in what order.
add_executable(q47_game_audio_tool ${CMAKE_CURRENT_SOURCE_DIR}/game_audio_tool.cpp)
target_compile_options(q47_game_audio_tool PRIVATE ${Q47_WARNINGS})
target_link_libraries(q47_game_audio_tool PRIVATE q47_media)
add_test(NAME game_audio_disk
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-xvfb
          bash ${CMAKE_CURRENT_SOURCE_DIR}/game_audio.sh $<TARGET_FILE:q47>
          $<TARGET_FILE:q47_game_audio_tool> ${PROJECT_BINARY_DIR}/assets)
set_tests_properties(game_audio_disk PROPERTIES TIMEOUT 120)
