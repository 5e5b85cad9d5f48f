# The screen on a private Xvfb: which renderer it chooses there and what that loads.
add_executable(q47_screen_x11 ${CMAKE_CURRENT_SOURCE_DIR}/screen_x11/renderer_choice.cpp)
target_compile_options(q47_screen_x11 PRIVATE ${Q47_WARNINGS})
target_link_libraries(q47_screen_x11 PRIVATE q47_media GTest::gtest GTest::gtest_main)
add_test(NAME screen_x11
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-xvfb $<TARGET_FILE:q47_screen_x11>)
# The real X11 driver, whatever the environment asks for.
set_tests_properties(screen_x11 PROPERTIES TIMEOUT 60 ENVIRONMENT "SDL_VIDEODRIVER=x11")
