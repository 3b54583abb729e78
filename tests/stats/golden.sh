#!/bin/bash
# The report and the CSV folder of a fixed small series, byte for byte: the
# report against the copy kept beside this script, every CSV file against
# its SHA-256 there (the exact tallies run to thousands of lines). Three
# sides, the fewest that get the moments' scaling. After a change meant to
# alter them, regenerate both with: golden.sh TOOL --update
set -euo pipefail
tool=$1
golden=$(dirname "$0")/golden
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$tool" --size 8 --size 16 --size 32 --grains 20000 --runs 2 --seed 5 --threads 2 --csv "$work/csv" > "$work/report.txt"
(cd "$work/csv" && LC_ALL=C sha256sum $(LC_ALL=C ls)) > "$work/csv.sha256"
if [ "${2:-}" = --update ]; then
    mkdir -p "$golden"
    cp "$work/report.txt" "$work/csv.sha256" "$golden/"
    exit 0
fi
diff "$golden/report.txt" "$work/report.txt"
diff "$golden/csv.sha256" "$work/csv.sha256"
