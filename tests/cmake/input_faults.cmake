# Faults a player meets at the edges of input and shutdown, each through the real executable:
# the click that brings the window back, signals and the close request in full screen, and the
# reason beside a fatal message. The display tests run on a private Xvfb with xdotool.
if(NOT TARGET PkgConfig::X11)
  pkg_check_modules(X11 REQUIRED IMPORTED_TARGET x11)
endif()
add_executable(q47_input_faults_tool ${CMAKE_CURRENT_SOURCE_DIR}/input_faults_tool.cpp)
target_compile_options(q47_input_faults_tool PRIVATE ${Q47_WARNINGS})
target_link_libraries(q47_input_faults_tool PRIVATE PkgConfig::X11)
foreach(case refocus_click shutdown_requests)
  add_test(NAME input_${case}
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/support/with-xvfb bash
            ${CMAKE_CURRENT_SOURCE_DIR}/input_faults.sh ${case} $<TARGET_FILE:q47>
            $<TARGET_FILE:q47_game_e2e_tool> $<TARGET_FILE:q47_input_faults_tool>)
  set_tests_properties(input_${case} PROPERTIES TIMEOUT 120 ENVIRONMENT "SDL_AUDIODRIVER=dummy")
endforeach()
add_test(NAME input_fatal_reasons
  COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/input_faults.sh fatal_reasons $<TARGET_FILE:q47>)
set_tests_properties(input_fatal_reasons PROPERTIES TIMEOUT 60 ENVIRONMENT "SDL_AUDIODRIVER=dummy")
