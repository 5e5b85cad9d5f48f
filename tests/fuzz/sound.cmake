# libFuzzer targets for the sound input paths: the WAV loader (through the sound slots and the
# mixer) and the Ogg Vorbis memory decoder. Each is built from the media sources it needs, with
# AddressSanitizer and UndefinedBehaviorSanitizer, and gets a short run as a test; a long run is
#   build-fuzz/tests/fuzz/fuzz_sound_wav -max_total_time=600 CORPUS_DIR tests/data/fuzz/wav
set(Q47_FUZZ_FLAGS -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -g -O1)
set(Q47_SOUND_FUZZ_SOURCES
  ${PROJECT_SOURCE_DIR}/media/sound.cpp ${PROJECT_SOURCE_DIR}/media/mixer.cpp
  ${PROJECT_SOURCE_DIR}/media/wav.cpp ${PROJECT_SOURCE_DIR}/media/decoder.cpp
  ${PROJECT_SOURCE_DIR}/media/music.cpp ${PROJECT_SOURCE_DIR}/media/timing.cpp)

foreach(target wav ogg)
  set(name fuzz_sound_${target})
  add_executable(${name} ${CMAKE_CURRENT_LIST_DIR}/${name}.cpp ${Q47_SOUND_FUZZ_SOURCES})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${Q47_WARNINGS} ${Q47_FUZZ_FLAGS})
  target_link_options(${name} PRIVATE ${Q47_FUZZ_FLAGS})
  target_link_libraries(${name} PRIVATE PkgConfig::SDL2 PkgConfig::VORBISFILE Threads::Threads)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests/fuzz)
  # New inputs go into the first directory, in the build tree; the seeds stay as they are.
  set(corpus ${PROJECT_BINARY_DIR}/tests/fuzz/corpus_${target})
  file(MAKE_DIRECTORY ${corpus})
  add_test(NAME ${name}_short COMMAND ${name} -max_total_time=20 -timeout=10 -rss_limit_mb=2048
    ${corpus} ${PROJECT_SOURCE_DIR}/tests/data/fuzz/${target})
  set_tests_properties(${name}_short PROPERTIES TIMEOUT 120)
endforeach()
