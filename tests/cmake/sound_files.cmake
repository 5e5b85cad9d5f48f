# Sound files that must neither hang nor exhaust the game: the real executable started in a
# folder of FIFOs and a 2 GiB sparse WAV file, under a private Xvfb.
add_test(NAME game_sound_files
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-xvfb
          bash ${CMAKE_CURRENT_SOURCE_DIR}/game_sound_files.sh $<TARGET_FILE:q47>)
set_tests_properties(game_sound_files PROPERTIES TIMEOUT 120)
# The spread's cues go through the sound cues, which find their files along the data path.
target_sources(q47_rules_sanitized PRIVATE ${PROJECT_SOURCE_DIR}/game/sound_cues.cpp
  ${PROJECT_SOURCE_DIR}/game/data_path.cpp)
