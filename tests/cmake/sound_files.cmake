# The spread's cues go through the sound cues, which find their files along the data path.
target_sources(q47_rules_sanitized PRIVATE ${PROJECT_SOURCE_DIR}/game/sound_cues.cpp
  ${PROJECT_SOURCE_DIR}/game/data_path.cpp)
