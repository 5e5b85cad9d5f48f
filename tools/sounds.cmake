# Our own sounds: make_sounds synthesises the nine effects (16-bit PCM WAV) and the looping music
# (Ogg Vorbis) into build/assets, where the game is started from.
pkg_check_modules(VORBIS REQUIRED IMPORTED_TARGET vorbis ogg)

# The Ogg Vorbis encoder, shared with the sound tests that need tracks of their own.
add_library(q47_ogg_encode STATIC ${CMAKE_CURRENT_LIST_DIR}/ogg_encode.cpp)
target_include_directories(q47_ogg_encode PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(q47_ogg_encode PRIVATE ${Q47_WARNINGS})
target_link_libraries(q47_ogg_encode PUBLIC PkgConfig::VORBISENC PkgConfig::VORBIS)

add_executable(make_sounds ${CMAKE_CURRENT_LIST_DIR}/make_sounds.cpp)
target_compile_options(make_sounds PRIVATE ${Q47_WARNINGS})
target_link_libraries(make_sounds PRIVATE q47_ogg_encode)

set(Q47_SOUND_FILES warn.wav clean.wav click.wav win.wav lose.wav bump.wav take.wav nitr.wav
  cant.wav q47.ogg)
list(TRANSFORM Q47_SOUND_FILES PREPEND ${PROJECT_BINARY_DIR}/assets/)
add_custom_command(OUTPUT ${Q47_SOUND_FILES}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/assets
  COMMAND make_sounds ${PROJECT_BINARY_DIR}/assets
  DEPENDS make_sounds
  COMMENT "Synthesising the sounds and the music")
add_custom_target(q47_sounds ALL DEPENDS ${Q47_SOUND_FILES})
