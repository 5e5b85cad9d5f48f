#!/usr/bin/env bash
# run.sh Q47 SOURCE_DIR [chromium|firefox|hub Q47_HUB]: the browser tests as ctest runs them
# against the native Q47: web_tests.mjs in Debian's chromium, firefox_tests.mjs (the golden runs
# and the pictures) in Debian's firefox-esr, or hub_tests.mjs (publishing and submitting through
# a q47-hub of its own) in chromium. The site (web/build) and the pinned puppeteer-core (npm ci
# here) are made beforehand, by ./run test or by hand: a build of minutes inside the test's
# timeout would time it out on a busy machine.
set -euo pipefail
engine=${3:-chromium}
fail() { echo "web_$engine: $*" >&2; exit 1; }
[ -x "$1" ] || fail "no native game at $1"
q47=$(realpath "$1")
source_dir=$(realpath "$2")

# ./run test installs these; said here by their Debian names, so a bare ctest run says why.
command -v node >/dev/null || fail "node is missing (Debian package nodejs)"
case "$engine" in
  hub)
    hub=${4:-}
    [ -n "$hub" ] && [ -x "$hub" ] || fail "no q47-hub at '$hub'; ./run hub builds it"
    hub=$(realpath "$hub")
    chromium=${CHROMIUM:-/usr/bin/chromium}
    [ -x "$chromium" ] || fail "$chromium is missing (Debian package chromium)"
    tests=hub_tests.mjs
    ;;
  chromium)
    chromium=${CHROMIUM:-/usr/bin/chromium}
    [ -x "$chromium" ] || fail "$chromium is missing (Debian package chromium)"
    tests=web_tests.mjs
    ;;
  firefox)
    firefox=${FIREFOX:-/usr/bin/firefox-esr}
    [ -x "$firefox" ] || fail "$firefox is missing (Debian package firefox-esr)"
    tests=firefox_tests.mjs
    ;;
  *) fail "no such browser: $engine (chromium or firefox)" ;;
esac

site="$source_dir/build-web/site"
for f in index.html q47.js q47.wasm.gzip q47.data; do
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
if [ "$engine" = hub ]; then exec node "$tests" "$q47" "$hub" "$site"; fi
exec node "$tests" "$q47" "$site"
