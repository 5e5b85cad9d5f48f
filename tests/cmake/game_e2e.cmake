# The real executable: played under a private X server with xdotool, and started with no display.
add_executable(q47_game_e2e_tool ${CMAKE_CURRENT_SOURCE_DIR}/game_e2e_tool.cpp)
target_compile_options(q47_game_e2e_tool PRIVATE ${Q47_WARNINGS})
target_link_libraries(q47_game_e2e_tool PRIVATE q47_game)
add_test(NAME game_e2e_xvfb
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-xvfb bash ${CMAKE_CURRENT_SOURCE_DIR}/game_e2e.sh
          $<TARGET_FILE:q47> $<TARGET_FILE:q47_game_e2e_tool>)
set_tests_properties(game_e2e_xvfb PROPERTIES TIMEOUT 120)
add_test(NAME game_no_display
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/game_no_display.sh $<TARGET_FILE:q47>)
set_tests_properties(game_no_display PROPERTIES TIMEOUT 60)
