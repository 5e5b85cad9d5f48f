#!/usr/bin/env bash
# Links the smoke program against a deps prefix. Called by
# `web/build-deps --smoke`; the flags here are the ones the game's own
# browser link will need.
#   build.sh PREFIX OUTDIR FONT
# -sMINIFY_HTML=0: 3.1.6 crashes minifying the page at -O2 and up (it hands
# htmlmin a nested argument list).
set -euo pipefail
prefix=$1 out=$2 font=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
mkdir -p "$out"

# Libraries are named by path: a find_package(SDL2) or -lSDL2 could resolve to
# emscripten's SDL port, which downloads. -sUSE_SDL=0 keeps the port out.
# dynCall and autoResumeAudioContext are used by SDL's JS glue but not pulled
# in by 3.1.6 on its own: without them SDL's audio fails at run time with
# "ReferenceError: dynCall".
emcc -O2 -sUSE_SDL=0 \
  -I"$prefix/include/SDL2" -I"$prefix/include" \
  "$here/smoke.c" -o "$out/smoke.html" \
  "$prefix/lib/libSDL2_ttf.a" "$prefix/lib/libharfbuzz.a" "$prefix/lib/libfreetype.a" \
  "$prefix/lib/libSDL2.a" \
  "$prefix/lib/libvorbisfile.a" "$prefix/lib/libvorbisenc.a" "$prefix/lib/libvorbis.a" \
  "$prefix/lib/libogg.a" \
  -sALLOW_MEMORY_GROWTH=1 \
  "-sDEFAULT_LIBRARY_FUNCS_TO_INCLUDE=['\$autoResumeAudioContext','\$dynCall']" \
  --shell-file "$here/shell.html" -sMINIFY_HTML=0 \
  --embed-file "$font@/font.ttf"
