# Trees walked with -r and names listed with --files0-from: the same files,
# messages and status as the names given one by one, found safely.
nobody="setpriv --reuid=65534 --regid=65534 --clear-groups"
nl=$'\n' ff=$'\377'
odd="t/n${nl}l/$ff.png" scrub="usage: scrubhidden [--check] [-z] [-r] [-j N] [--memory SIZE] FILE..."
# The tree's files as find lists them, sorted as bytes: the order -r keeps.
found() { mapfile -d '' files < <(find "$@" -name '*.png' \( -type f -o -type l \) -print0 |
    LC_ALL=C sort -z); }
# A tree whose names sort differently name by name than path by path, with a
# newline and a byte of no UTF-8 in names; other files and a link to a
# folder, which is not followed, are passed over.
tree() {
    mkdir -p t/a t/a-b "t/n${nl}l" t/d.png/e && cp c.png t/a.png && cp c.png t/a/x.png &&
        cp c.png t/a-b/y.png && cp c.png t/a0.png && cp c.png "$odd" &&
        cp c.png t/d.png/e/z.png && cp clean.png t/clean.png && cp c.png t/x.PNG &&
        touch t/README && ln -s a t/link && ln -s a0.png t/l.png
}

row TreeOrder
tree; found t ! -name clean.png; mkdir 'b\'; cp c.png 'b\/x.png'
exits 1 scrubhidden --check -z -r t
output -z "${files[@]}"
exits 1 scrubhidden --check -z -j 8 --recursive t/
output -z "${files[@]}"
# A backslash ends no folder name here.
exits 1 scrubhidden --check -r 'b\'
output '"b\\/x.png"'
exits 0 scrubhidden -r -j 8 t
changed t/a.png t/a/x.png t/a-b/y.png t/a0.png "t/n?l/$ff.png" t/d.png/e/z.png

# Broken files, a missing operand and an unreadable folder among them: the
# same lines in the same order at one job and at eight as for the names given
# one by one, which the tree's order decides.
row TreeAsOperands needs other-user
tree; mkdir t/bad t/shut; cp cut.png bad.png crc.png empty.png t/bad; cp c.png t/shut
chmod -R a+rwX t; chmod 0 t/shut; found t
exits 2 $nobody scrubhidden --check "${files[@]}" >../names.out 2>../names.err
exits 2 $nobody scrubhidden --check -r -j 1 t >../j1.out 2>../j1.err
exits 2 $nobody scrubhidden --check -r -j 8 t >../j8.out 2>../j8.err
holds cmp ../names.out ../j1.out
holds cmp ../names.out ../j8.out
holds diff <(sed 's|t/shut/c.png|t/shut|' ../names.err) ../j1.err
holds cmp ../j1.err ../j8.err
exits 1 $nobody scrubhidden -r -j 8 nothing t
mapfile -t lines <../j1.err
errors "scrubhidden: nothing: No such file or directory" "${lines[@]}"
changed t/a.png t/a/x.png t/a-b/y.png t/a0.png "t/n?l/$ff.png" t/d.png/e/z.png

# Lists of names: standard input, a pipe, one with an empty name and one not
# ended by NUL, whose last name may be cut short; a list that is a folder or
# is missing.
row FilesFrom
printf '%s\0' c.png README a.b.png >../list; printf 'dirty.png\0\0clean.png\0d.png' >../cut
exits 1 scrubhidden --check --files0-from=- <../list
output c.png a.b.png
exits 2 scrubhidden --check -r --files0-from ../cut
output dirty.png
errors "scrubhidden: empty name at entry 2 of ../cut" \
    "scrubhidden: ../cut: entry 4 is not ended by NUL, and is left alone"
exits 2 scrubhidden --check --files0-from dir.png
errors "scrubhidden: dir.png: is a folder"
exits 2 scrubhidden --files0-from=<(cat ../list) --files0-from=-
errors "scrubhidden: --files0-from given twice" "$scrub"
exits 2 scrubhidden --files0-from=- c.png
errors "scrubhidden: file operands cannot be combined with --files0-from: c.png" "$scrub"
exits 0 scrubhidden -j 8 --files0-from=<(cat ../list)
changed c.png a.b.png

# In a sticky, world-writable folder another user's link is refused and
# their file rewritten; a folder operand that is a link is followed, one in
# the tree is not.
row TreeInStickyFolder needs root
mkdir -m 1777 sh; mkdir priv; cp c.png priv/secret.png; cp c.png sh/x.png
ln -s ../dirty.png sh/s.png; ln -s ../priv sh/in; chown -h 1 sh/s.png sh/x.png sh/in
ln -s sh here
exits 1 scrubhidden -r here
errors "scrubhidden: here/s.png: Permission denied"
changed sh/x.png

# A bind mount of a folder above is a loop, named; the rest is handled.
row TreeLoop needs mounts
mkdir -p t/a/up; cp c.png t/a/x.png; cp c.png t/z.png
exits 1 unshare -m sh -c 'mount --bind t t/a/up && scrubhidden -r t'
errors "scrubhidden: t/a/up: folder loop"
changed t/a/x.png t/z.png

# A tree deeper than PATH_MAX walks; one deeper than the open files allow
# stops there with a message, the files above it handled.
row TreeDeep
top=$PWD; long=$(printf 'd%.0s' $(seq 200))
(mkdir deep && cd deep && for i in $(seq 30); do mkdir $long && cd $long; done && cp "$top/c.png" .)
mkdir -p narrow/1/2/3/4/5/6/7/8/9/10/11/12; cp c.png narrow/1/x.png; cp c.png narrow/1/2/3/4/5/6/7/8/9/10/11/12/x.png
exits 0 scrubhidden -r deep
exits 1 sh -c 'ulimit -n 40 && exec scrubhidden -r narrow' 2>../e
said="folders nested more than [7-9] deep, as many as the limit of open files allows"
holds grep -Eqx "scrubhidden: narrow(/[0-9]+){7,9}: $said" ../e
changed "deep$(printf "/$long%.0s" $(seq 30))/c.png" narrow/1/x.png

# A folder swapped for a link, or removed, after its parent was listed and
# before it is opened is reported, never followed; the rest is handled.
row TreeSwappedMidWalk needs strace
mkdir -p t/b s; cp c.png t/a.png; cp c.png t/b/x.png; cp c.png t/c.png; cp c.png s/y.png
strace -qq -o ../trace -e trace=openat scrubhidden --check -j 1 -r t >/dev/null || true
open=$(($(sed -n '/"b", .*O_DIRECTORY/q;p' ../trace | wc -l) + 1))
(sleep 1.5 && mv t/b ../gone && ln -s ../s t/b) &
exits 2 inject openat:delay_enter=4000000:when=$open scrubhidden --check -j 1 -r t
output t/a.png t/c.png
errors "scrubhidden: t/b: Not a directory"
rm t/b; mkdir t/b; (sleep 1.5 && rmdir t/b) &
exits 2 inject openat:delay_enter=4000000:when=$open scrubhidden --check -j 1 -r t
output t/a.png t/c.png
errors "scrubhidden: t/b: No such file or directory"
changed t/b t/b/x.png
