#!/bin/bash
# A series spread over processes with GNU parallel, each part with its own
# --first-run and --csv folder, then merged: the merged report is the report
# of one invocation with all the runs, byte for byte. The same form as the
# README's one-liner, at a tiny size.
set -euo pipefail
tool=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
series=(--size 4 --size 8 --grains 2000 --seed 7)

parallel "$tool" "${series[@]}" --runs 2 --first-run {} --csv part{} '>' /dev/null ::: 0 2 4
"$tool" --merge part* > merged.txt
"$tool" "${series[@]}" --runs 6 > whole.txt
diff whole.txt merged.txt
