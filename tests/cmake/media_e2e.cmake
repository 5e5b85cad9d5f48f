# The media layer end to end on a private Xvfb, driven by xdotool and checked with xwininfo
# and screenshots. The program sends the close request itself through Xlib, as a window
# manager would.
pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11)
add_executable(q47_media_e2e ${CMAKE_CURRENT_SOURCE_DIR}/media_e2e/e2e_main.cpp)
target_compile_options(q47_media_e2e PRIVATE ${Q47_WARNINGS})
target_link_libraries(q47_media_e2e PRIVATE q47_media PkgConfig::X11)
add_test(NAME media_e2e
  COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-xvfb $<TARGET_FILE:q47_media_e2e>)
# The real X11 driver, whatever the environment asks for.
set_tests_properties(media_e2e PROPERTIES TIMEOUT 180 ENVIRONMENT "SDL_VIDEODRIVER=x11")
