# The rules, level stream, random and string tests once more, with their code built under
# AddressSanitizer and UBSan: a cell read outside the grid or a signed overflow in a doubling then
# fails the run instead of passing unnoticed. The sound calls come from the plain media library.
file(GLOB Q47_RULES_DATA CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/game/data/*.cpp)
add_executable(q47_rules_sanitized
  ${CMAKE_CURRENT_SOURCE_DIR}/test_spread.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/test_level_stream.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/test_random_str.cpp
  ${PROJECT_SOURCE_DIR}/game/spread.cpp
  ${PROJECT_SOURCE_DIR}/game/level_stream.cpp
  ${PROJECT_SOURCE_DIR}/game/game_globals.cpp
  ${Q47_RULES_DATA}
  ${PROJECT_SOURCE_DIR}/media/random.cpp
  ${PROJECT_SOURCE_DIR}/media/str.cpp
  ${PROJECT_SOURCE_DIR}/media/timing.cpp)
target_include_directories(q47_rules_sanitized PRIVATE ${PROJECT_SOURCE_DIR})
target_compile_options(q47_rules_sanitized PRIVATE ${Q47_WARNINGS}
  -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
target_link_options(q47_rules_sanitized PRIVATE -fsanitize=address,undefined)
target_link_libraries(q47_rules_sanitized PRIVATE q47_media GTest::gtest GTest::gtest_main)
add_test(NAME rules_sanitized COMMAND q47_rules_sanitized)
set_tests_properties(rules_sanitized PROPERTIES TIMEOUT 300)
