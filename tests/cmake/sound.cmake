# The sound tests encode their own short Ogg Vorbis tracks with the asset tools' encoder.
target_link_libraries(q47_tests PRIVATE q47_ogg_encode)
