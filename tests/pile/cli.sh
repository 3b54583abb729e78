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
