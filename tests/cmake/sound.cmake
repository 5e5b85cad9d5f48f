# The sound tests encode their own short Ogg Vorbis tracks with the asset tools' encoder.
target_link_libraries(q47_tests PRIVATE q47_ogg_encode)
# The asset tests read what make_sounds writes into build/assets.
add_dependencies(q47_tests q47_sounds)
