#!/usr/bin/env bash
# scripts/run without a display runs the headless demo; its screenshots are
# generated output and leave the checkout as it was. Runs the script in a
# copy of the checkout, with the set-up, the build and the demo itself
# stubbed out.
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
clips=/usr/share/pocketsphinx/test/data/librivox
[ -f "$clips/transcription" ] || { echo "SKIP: no read-speech clips (pocketsphinx-testdata)"; exit 77; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
copy="$work/checkout"
mkdir -p "$copy"
# the files as they stand, committed or not
git -C "$source_dir" ls-files -z --cached --others --exclude-standard \
  | (cd "$source_dir" && xargs -0 cp --parents -t "$copy" 2>/dev/null || true)
cd "$copy"
printf '#!/bin/sh\nexit 0\n' > scripts/bootstrap
mkdir -p "$work/bin" build-release/tests/e2e
printf '#!/bin/sh\nexit 0\n' > "$work/bin/cmake"
# the demo writes one screenshot where it is told to
printf '#!/bin/sh\nmkdir -p "$4" && date +%%s%%N > "$4/overlay.png"\n' > build-release/tests/e2e/tavrune_demo
chmod +x scripts/bootstrap "$work/bin/cmake" build-release/tests/e2e/tavrune_demo
git init -q . && git add -A && git -c user.name=t -c user.email=t@t commit -qm checkout

env -u DISPLAY -u TAVRUNE_DEMO_SCREENSHOTS -u TAVRUNE_RELEASE_BUILD_DIR PATH="$work/bin:$PATH" scripts/run >/dev/null
find . -name overlay.png -newer .git/index | grep -q . || { echo "FAIL: the demo wrote no screenshot"; exit 1; }
changed=$(git status --porcelain)
[ -z "$changed" ] || { echo "FAIL: the demo changed the checkout:"; echo "$changed"; exit 1; }
echo "PASS"
