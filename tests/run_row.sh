# Runs the row ROW_NAME of the group file ROW_GROUP (tests/rows/*.sh) in the
# current folder, which it fills with sample files; TOOLS, CORPUS and
# CRAFTED name the folders of the tools and of the test files. row_folder
# makes that folder, in one of its own under /tmp that the row may use too
# (../bin, ../sh), and removes both after.
#
# A row is plain bash: its lines, from `row NAME` to the next `row`, run after
# the lines above the group's first row. It sets up, runs commands with
# `exits` and checks what they did, one check a line. A failed check writes
# to descriptor 3 its line and what it saw, and the row goes on; a failed
# setup line ends the row. At its end, a row has also checked that nothing
# is left on standard error that no `errors` line took, and, unless a
# `changed` or `unchanged` line said otherwise, that no file was made,
# changed or removed. Exit status: 0 passed, 1 failed, 77 skipped.
PATH=$TOOLS:$PATH
declare -A taken=([out]=0 [err]=0)

report() { # LINE TEXT...
    printf '%s:%s: %s\n' "$ROW_GROUP" "$1" "$(sed -n "$1p" "$ROW_GROUP")" >&3
    printf '%s\n' "${@:2}" | sed 's/^/    /' >&3
    failed=1
}
fail() { report "${BASH_LINENO[1]}" "$@"; }
skip() { echo "$1" >&3 && exit 77; }

# row NAME [needs WHAT...]: skips the row, saying why, unless it may run here.
row() {
    line=${BASH_LINENO[0]}
    for need in "${@:3}"; do
        case $need in
            root) ((EUID == 0)) || skip "needs root, to set what only root may" ;;
            other-user) ((EUID == 0)) || skip "needs root, to act as another user"
                mkdir ../bin && cp "$TOOLS"/{stencilcrop,scrubhidden} ../bin
                PATH=$PWD/../bin:$PATH ;;
            strace) strace -o /dev/null true 2>/dev/null || skip "needs strace, allowed to trace"
                export ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0 ;; # no leak check under a tracer
            acls) setfacl -m u:4321:r . 2>/dev/null && setfacl -b . || skip "needs ACLs here" ;;
            mounts) unshare -m true 2>/dev/null || skip "needs a mount namespace of its own" ;;
            cgroups) [[ -w /sys/fs/cgroup/memory/cgroup.procs ]] &&
                [[ -w /sys/fs/cgroup/cpu/cgroup.procs ]] ||
                skip "needs root and control groups of version 1 to make groups in" ;;
            plain-memory) [[ ! $SANITIZED ]] || skip "the sanitizer needs room beyond the limit" ;;
        esac
    done
}
# inject CALL:WHAT COMMAND...: runs COMMAND with a fault injected by strace.
inject() { strace -f -qq -o /dev/null -e inject="$1" "${@:2}"; }

# Each file's kind, size, time and mode, and each folder's mode, since a
# temporary file made and removed changes its folder's time; the path last,
# a newline in it shown as ?.
look() {
    find . -mindepth 1 \( -path ./out -o -path ./err \) -prune -o -type d \
        -printf 'd - - %m %P\0' -o -printf '%y %s %T@ %m %P\0' | tr '\n\0' '?\n' | sort
}
# The paths made, changed or removed from before the first command to after the last so far.
changes() { diff <(echo "$before") <(echo "$after") | sed -n 's/^[<>] \(\S* \)\{4\}//p' | sort -u; }
# What out or err took since the last check of it.
news() { tail -c +$((taken[$1] + 1)) "$1"; }

# exits STATUS COMMAND...: runs COMMAND, adding its output and errors to the
# files out and err unless the line redirects them, and checks its status.
exits() {
    local status=0
    [[ -v before ]] || { before=$(look) && : >out && : >err; }
    "${@:2}" 3>&- || status=$?
    after=$(look)
    ((status == $1)) || fail "status $status, err:" "$(news err)" "out:" "$(news out)"
}
# errors LINE..., output [-z] LINE...: what err, or out, took since the last
# such line, each line ended by a newline (by a NUL after -z).
errors() { took err '%s\n' "$@"; }
output() { if [[ $1 == -z ]]; then took out '%s\0' "${@:2}"; else took out '%s\n' "$@"; fi; }
took() {
    cmp -s <(news "$1") <( (($# < 3)) || printf "$2" "${@:3}") ||
        report "${BASH_LINENO[1]}" "$1:" "$(news "$1")" # the line of errors or output
    taken[$1]=$(stat -c %s "$1")
}
# changed PATH...: exactly these paths were made, changed or removed.
changed() {
    checked=1 && [[ $(changes) == "$(printf '%s\n' "$@" | sort -u)" ]] ||
        fail "changed:" "$(changes)"
}
unchanged() { changed; }
# holds [!] COMMAND...: COMMAND succeeds (fails, after !).
holds() {
    local said want=0
    [[ $1 == ! ]] && shift && want=1
    said=$("$@" 2>&1)
    (($? != 0 == want)) || fail "ran: $(printf '%q ' "$@")" "$said"
}

# The samples: the corpus; c.png and its copies dirty.png, a.b.png and the
# like hold colour behind transparent pixels, clean.png has transparent
# pixels, all black, s.png is a stencil; empty, cut, bad and crc.png are
# broken, dir.png is a folder, new/ is empty; and the crafted clear.png (no
# pixel visible) and small.png (32x2).
exec 3>&1 >>out 2>>err
cp "$CORPUS"/*.png "$CRAFTED"/{clear,small}.png . && mkdir new dir.png && touch empty.png &&
    cp basn4a08.png s.png && cp basn6a08.png c.png && cp ftbbn0g01.png clean.png &&
    touch -d @0 clean.png && head -c 40 c.png >cut.png && head -c 40 /dev/zero >bad.png &&
    cp c.png crc.png && printf '\377' | dd of=crc.png bs=1 seek=60 conv=notrunc 2>/dev/null &&
    for f in dirty.png a.b.png d.PNG d.png.bak 'rev.2\d' d; do cp c.png "$f"; done ||
    { echo "the sample files could not be made" >&3 && exit 1; }
trap 'report $LINENO "failed with status $?, err:" "$(news err)" && exit 1' ERR
source <(awk -v row="$ROW_NAME" '/^row / { on = $2 == row; seen = 1 }
    { print on || !seen ? $0 : "" }' "$ROW_GROUP")
[[ -v before ]] || report "$line" "runs no command"
[[ -z $(news err) ]] || report "$line" "err, which no line took:" "$(news err)"
[[ $checked || -z $(changes) ]] || report "$line" "changed, which no line said:" "$(changes)"
exit ${failed:-0}
