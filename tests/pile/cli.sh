#!/bin/bash
# sandpile-pile from the outside: exit statuses and one-line errors for bad
# input, the same bytes whatever the threads, files and zoom folders
# written whole.
set -u
PILE=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# expect STATUS ARGS...: the status, and on failure exactly one line on stderr.
expect() {
    local status=$1
    shift
    "$PILE" "$@" >"$work/out" 2>"$work/err"
    local got=$?
    [ "$got" -eq "$status" ] || fail "sandpile-pile $* exited $got, not $status: $(cat "$work/err")"
    if [ "$status" -ne 0 ]; then
        [ "$(wc -l <"$work/err")" -eq 1 ] || fail "sandpile-pile $* wrote $(wc -l <"$work/err") lines on stderr"
        [ ! -s "$work/out" ] || fail "sandpile-pile $* wrote a report though it failed"
    fi
}

printf 'not a pile' >"$work/junk.npy"
printf '\x93NUMPY\x01\x00\x46\x00{'"'"'descr'"'"': '"'"'<f8'"'"', '"'"'fortran_order'"'"': False, '"'"'shape'"'"': (1, 1), }                        \n12345678' >"$work/float.npy"
expect 2                                    # no command
expect 2 centre                             # no number
expect 2 centre -5
expect 2 centre 1e6
expect 2 centre 4294967297
expect 2 centre 2^33
expect 2 identity 0
expect 2 identity 32769
expect 2 identity 12x
expect 2 centre 100 --threads 0
expect 2 centre 100 --palette nothing
expect 2 centre 100 --png "$work/same" --heights "$work/same"
expect 2 stabilise "$work/junk.npy"
expect 2 stabilise "$work/float.npy"
expect 2 centre 100 --png ''
echo kept >"$work/kept.png"
expect 2 centre 100 --png "$work/kept.png" --heights "$work/./kept.png"   # one file, two spellings
[ "$(cat "$work/kept.png")" = kept ] || fail "a refused run changed a file"
expect 1 stabilise "$work/missing.npy"
expect 1 stabilise "$work"
mkfifo "$work/pipe"
expect 1 centre 100 --heights "$work/pipe"                  # a rename would replace the pipe
[ -p "$work/pipe" ] || fail "the pipe was replaced"
expect 1 centre 100 --png "$work/no/such/folder/p.png"
expect 0 --help
ls "$work" | grep -q same && fail "a refused run wrote a file"

# One pile, on one thread and on two: the same report (but for the time)
# and the same files; the heights read back through stabilise are stable.
expect 0 centre 2^14 --threads 1 --png "$work/one.png" --heights "$work/one.npy"
grep -v '^time:' "$work/out" >"$work/one.txt"
expect 0 centre 2^14 --threads 2 --png "$work/two.png" --heights "$work/two.npy"
grep -v '^time:' "$work/out" >"$work/two.txt"
cmp -s "$work/one.txt" "$work/two.txt" || fail "the report depends on the threads"
cmp -s "$work/one.png" "$work/two.png" || fail "the picture depends on the threads"
cmp -s "$work/one.npy" "$work/two.npy" || fail "the heights depend on the threads"
grep -qx 'grains: 16384' "$work/one.txt" || fail "the centre pile does not hold its grains"
grep -qx 'grains lost: 0' "$work/one.txt" || fail "the centre pile lost grains"
[ "$(head -c 8 "$work/one.png" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "--png is not a PNG"
expect 0 stabilise "$work/one.npy"
grep -qx 'topplings: 0' "$work/out" || fail "the stable pile read back toppled"
grep -qx "$(grep '^sites of height 3' "$work/one.txt")" "$work/out" || fail "the heights read back differ"

# The command line as strict as sandpile-stats'; the report in one
# convention, its numbers parsed, its file names quoted.
for threads in 0x10 +2 " 2" abc 257; do
    expect 2 centre 100 --threads "$threads"
    grep -q "needs a whole number from 1 to 256, not '$threads'" "$work/err" || fail "--threads '$threads': $(cat "$work/err")"
done
expect 0 centre 1000 --threads 256
grep -qx 'time: .* on 1 thread' "$work/out" || fail "a tiny pile reports threads it did not use: $(grep time "$work/out")"
expect 2 frobnicate 5
grep -q "unknown command 'frobnicate'" "$work/err" || fail "an unknown command: $(cat "$work/err")"
for power in 2^64 2^33 2^0033 99999999999999999999; do
    expect 2 centre "$power"
    grep -q "is above 2^32" "$work/err" || fail "centre $power: $(cat "$work/err")"
done
expect 2 identity 99999999999999999999
grep -q "is outside 1..32768" "$work/err" || fail "identity of a huge side: $(cat "$work/err")"
expect 0 --version
grep -qx "sandpile-pile [0-9.]*" "$work/out" || fail "--version: $(cat "$work/out")"
expect 0 centre 01
grep -qx 'pile: 1 grain dropped on the centre' "$work/out" || fail "the report echoes the argument: $(head -1 "$work/out")"
grep -qx 'check: stable, and the least odometer: no site toppled' "$work/out" || fail "one grain's check: $(grep check "$work/out")"
expect 0 identity 007
grep -qx 'pile: the identity of the 7 x 7 pile' "$work/out" || fail "the report echoes the side: $(head -1 "$work/out")"
# A (2, 3) pile: 2 rows of 3, wherever sides are told.
{ printf '\x93NUMPY\x01\x00\x76\x00'; printf '%-117s\n' '{"descr": "|u1", "fortran_order": False, "shape": (2, 3)}'
  printf '\x01\x02\x03\x00\x01\x02'; } >"$work/rows.npy"
name="$work/a name
with a newline.npy"
cp "$work/rows.npy" "$name"
expect 0 stabilise "$name"
grep -qx 'sides: 2 x 3' "$work/out" || fail "sides not as rows x columns: $(grep sides "$work/out")"
[ "$(head -1 "$work/out")" = "pile: '$work/a name'\$'\\n''with a newline.npy'" ] || fail "the name is not quoted: $(head -2 "$work/out")"
head -c 133 "$work/rows.npy" >"$work/short.npy"
expect 2 stabilise "$work/short.npy"
grep -q 'fewer bytes of data than 2 x 3 elements' "$work/err" || fail "the truncation's sides: $(cat "$work/err")"

# Crafted headers are refused in one line, never by a crash.
for header in "{'shape': (1,$(printf '%*s' 30000 '')1), 'descr': '|u1', 'fortran_order': False}" \
    "{'shape': ($(printf '%*s' 900000 '' | tr ' ' 1), 1), 'descr': '|u1', 'fortran_order': False}" \
    "{'shape': $(printf '%*s' 4000 '' | tr ' ' '(')1, 1$(printf '%*s' 4000 '' | tr ' ' ')'), 'descr': '|u1', 'fortran_order': False}"; do
    { printf '\x93NUMPY\x02\x00'; python3 -c "import struct, sys; sys.stdout.buffer.write(struct.pack('<I', $(( ${#header} + 1 ))))"
      printf '%s\n\x01' "$header"; } >"$work/crafted.npy"
    expect 2 stabilise "$work/crafted.npy"
done

# No output over the input, by any name; links and over-long names.
cp "$work/rows.npy" "$work/in.npy"
ln "$work/in.npy" "$work/hard.npy"
for output in "$work/in.npy" "$work/./in.npy" "$work/hard.npy"; do
    expect 2 stabilise "$work/in.npy" --png "$output"
    cmp -s "$work/in.npy" "$work/rows.npy" || fail "the input was overwritten through $output"
done
ln -s "$work/kept.png" "$work/link.npy"
expect 1 stabilise "$work/in.npy" --heights "$work/link.npy"
[ -L "$work/link.npy" ] || fail "a symbolic link was replaced by a plain file"
long=$(printf '%*s' 250 '' | tr ' ' n).npy
expect 0 stabilise "$work/in.npy" --heights "$work/$long"
[ -s "$work/$long" ] || fail "a 254-character name was not written"
expect 1 stabilise "$work/in.npy" --heights "$work/n$long$long"
ls -a "$work" | grep -q '\.tmp$' && fail "a temporary file was left"

# --zoom: a folder it did not write, or a file, is refused and left alone;
# its own folder is replaced; nothing is left beside it.
mkdir "$work/mine" && echo mine >"$work/mine/notes"
expect 2 centre 100 --zoom "$work/mine"
expect 2 centre 100 --zoom "$work/kept.png"
[ "$(cat "$work/mine/notes")" = mine ] && [ "$(cat "$work/kept.png")" = kept ] || fail "--zoom changed what it refused"
expect 1 centre 100 --zoom "$work/no/such/folder/zoom"
expect 2 centre 100 --zoom "$work/both" --heights "$work/./both"
expect 0 centre 2^14 --zoom "$work/zoom" --png "$work/zoom.png"
expect 0 identity 300 --zoom "$work/zoom"
grep -q '"width": 300' "$work/zoom/pile.js" || fail "--zoom did not replace its own folder"
[ -z "$(ls -A "$work" | grep '^\.')" ] || fail "--zoom left a temporary file: $(ls -A "$work")"

# Ctrl-C while the folder is written, whenever it comes, leaves either
# nothing (status 130) or the whole folder (status 0).
"$PILE" identity 2000 --zoom "$work/stopped" >/dev/null 2>&1 &
pid=$!
while kill -0 "$pid" 2>/dev/null && ! ls -A "$work" | grep -q '^\.stopped'; do sleep 0.05; done
kill -INT "$pid" 2>/dev/null
wait "$pid"
status=$?
case $status in
130) [ ! -e "$work/stopped" ] || fail "an interrupted --zoom left $work/stopped" ;;
0) [ -s "$work/stopped/index.html" ] || fail "--zoom finished without its page" ;;
*) fail "an interrupted --zoom exited $status" ;;
esac
[ -z "$(ls -A "$work" | grep '^\.')" ] || fail "an interrupted --zoom left a temporary folder"

[ "$failures" -eq 0 ] && echo "sandpile-pile: all checks passed"
exit $((failures != 0))
