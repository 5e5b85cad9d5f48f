#!/usr/bin/env bash
# run.sh Q47 SOURCE_DIR: the browser tests as ctest runs them: web_tests.mjs in Debian's chromium
# against the native Q47. The site (web/build) and the pinned puppeteer-core (npm ci here) are
# made beforehand, by ./run test or by hand: a build of minutes inside the test's timeout would
# time it out on a busy machine.
set -euo pipefail
fail() { echo "web_browser: $*" >&2; exit 1; }
[ -x "$1" ] || fail "no native game at $1"
q47=$(realpath "$1")
source_dir=$(realpath "$2")

# ./run test installs these; said here by their Debian names, so a bare ctest run says why.
command -v node >/dev/null || fail "node is missing (Debian package nodejs)"
chromium=${CHROMIUM:-/usr/bin/chromium}
[ -x "$chromium" ] || fail "$chromium is missing (Debian package chromium)"

site="$source_dir/build-web/site"
for f in index.html q47.js q47.wasm q47.data; do
  [ -f "$site/$f" ] || fail "no browser build: $site/$f is missing; ./run test builds it first," \
    "or build it with web/build"
done

cd "$source_dir/tests/web"
installed=node_modules/.package-lock.json
if [ ! -f "$installed" ]; then
  fail "tests/web/node_modules is missing; ./run test installs it first, or run npm ci in tests/web"
fi
if [ package-lock.json -nt "$installed" ]; then
  fail "tests/web/node_modules is older than package-lock.json; ./run test installs it anew," \
    "or run npm ci in tests/web"
fi
exec node web_tests.mjs "$q47" "$site"
