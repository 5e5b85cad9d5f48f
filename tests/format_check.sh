#!/usr/bin/env bash
# format_check.sh SOURCE_DIR: every C++ file of the tree is as clang-format leaves it under our
# .clang-format, so a diff shows what changed and never a reflowed neighbour. The tracked files
# in a git checkout (a stray scratch file is nobody's business), every *.cpp and *.h otherwise.
# Fix a failure with:  git ls-files '*.cpp' '*.h' | xargs clang-format -i
set -euo pipefail
fail() { echo "format_check: $*" >&2; exit 1; }
cd -P "$1"
[ -f .clang-format ] || fail "no .clang-format in $PWD"
# Another clang-format version formats some constructs differently; Debian 12's is 14.
clang_format=${CLANG_FORMAT:-$(command -v clang-format-14 || command -v clang-format || true)}
[ -n "$clang_format" ] || fail "clang-format is missing (Debian package clang-format)"

files=()
if [ "$(git rev-parse --show-toplevel 2>/dev/null)" = "$PWD" ]; then
  while IFS= read -r -d '' f; do
    # A file deleted but not yet committed is still listed.
    if [ -f "$f" ]; then files+=("$f"); fi
  done < <(git ls-files -z -- '*.cpp' '*.h')
else
  while IFS= read -r -d '' f; do files+=("$f"); done < <(
    find . \( -name .git -o -name 'build' -o -name 'build-*' -o -name node_modules \) -prune \
      -o -type f \( -name '*.cpp' -o -name '*.h' \) -printf '%P\0' | sort -z)
fi
[ ${#files[@]} -gt 0 ] || fail "no *.cpp or *.h files found in $PWD"

# A clang-format that ignored --Werror, or found no style, would pass every file: first make sure
# it rejects a line no style of ours allows.
canary=$(mktemp -d)
trap 'rm -rf "$canary"' EXIT
cp .clang-format "$canary/"
printf 'int  main( ){return 0;}\n' >"$canary/canary.cpp"
if (cd "$canary" && "$clang_format" --dry-run --Werror canary.cpp) 2>/dev/null; then
  fail "$clang_format --dry-run --Werror accepts a misformatted file; it cannot check anything"
fi

# One run over all files; its complaints name file:line:column.
if out=$("$clang_format" --dry-run --Werror "${files[@]}" 2>&1); then
  echo "format_check: ${#files[@]} files as $("$clang_format" --version) formats them"
  exit 0
fi
mapfile -t differ < <(printf '%s\n' "$out" \
  | sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' | sort -u)
if [ ${#differ[@]} -eq 0 ]; then
  # Not a formatting verdict: an unreadable file or a broken .clang-format.
  printf '%s\n' "$out" >&2
  fail "$clang_format failed"
fi
{
  echo "format_check: ${#differ[@]} of ${#files[@]} files differ from what $clang_format makes of them:"
  printf '  %s\n' "${differ[@]}"
  echo "Fix them with:  clang-format -i ${differ[*]}"
  echo "(the whole tree:  git ls-files '*.cpp' '*.h' | xargs clang-format -i)"
  echo "The first differences:"
  printf '%s\n' "$out" | head -n 30
} >&2
exit 1
