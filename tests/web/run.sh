#!/usr/bin/env bash
# run.sh Q47 SOURCE_DIR: the browser tests as ctest runs them. Builds the site (its WebAssembly
# deps are cached, so a second build is quick), installs the pinned puppeteer-core from the
# npm registry when tests/web/node_modules is missing or older than the lock file, then runs
# web_tests.mjs in Debian's chromium against the native Q47.
set -euo pipefail
fail() { echo "web_browser: $*" >&2; exit 1; }
[ -x "$1" ] || fail "no native game at $1"
q47=$(realpath "$1")
source_dir=$(realpath "$2")

# ./run test installs these; said here by their Debian names, so a bare ctest run says why.
command -v node >/dev/null || fail "node is missing (Debian packages nodejs and npm)"
command -v npm >/dev/null || fail "npm is missing (Debian package npm)"
chromium=${CHROMIUM:-/usr/bin/chromium}
[ -x "$chromium" ] || fail "$chromium is missing (Debian package chromium)"
command -v emcc >/dev/null || fail "emcc is missing (Debian package emscripten builds the site)"

"$source_dir/web/build" || fail "the browser build failed (web/build)"

cd "$source_dir/tests/web"
installed=node_modules/.package-lock.json
if [ ! -f "$installed" ] || [ package-lock.json -nt "$installed" ]; then
  npm ci --no-audit --no-fund || fail "npm ci in tests/web failed"
fi
exec node web_tests.mjs "$q47" "$source_dir/build-web/site"
