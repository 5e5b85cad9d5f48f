# Our own sounds: make_sounds synthesises the nine effects (16-bit PCM WAV) and the looping music
# (Ogg Vorbis) into build/assets, where the game is started from.
pkg_check_modules(VORBIS REQUIRED IMPORTED_TARGET vorbis ogg)

# The Ogg Vorbis encoder, shared with the sound tests that need tracks of their own.
add_library(q47_ogg_encode STATIC ${CMAKE_CURRENT_LIST_DIR}/ogg_encode.cpp)
target_include_directories(q47_ogg_encode PUBLIC ${PROJECT_SOURCE_DIR})
target_compile_options(q47_ogg_encode PRIVATE ${Q47_WARNINGS})
target_link_libraries(q47_ogg_encode PUBLIC PkgConfig::VORBISENC PkgConfig::VORBIS)
