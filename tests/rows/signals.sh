# Signals and failures while a file is written, sent by strace at a chosen call.

# A signal during the flush, or while the temporary file is being named,
# removes it and ends the tool as the signal ends it; a kill that cannot be
# caught leaves nothing either, and a flush that fails is reported.
row Signals needs strace
ulimit -c 0; for i in 1 2 3 4 5 6 7 8; do cp c.png h$i.png; done
for s in HUP INT QUIT USR1 USR2 ALRM TERM PIPE; do
    exits $((128 + $(kill -l $s))) inject fsync:signal=$s scrubhidden dirty.png 2>/dev/null
done
exits 138 timeout -s KILL 20 strace -f -qq -o /dev/null -e inject=linkat:signal=USR1 \
    scrubhidden -j 1 clean.png dirty.png 2>/dev/null
exits 137 inject fsync:signal=KILL scrubhidden -j 3 h*.png 2>/dev/null
exits 1 inject fsync:error=EIO scrubhidden dirty.png
errors "scrubhidden: dirty.png: Input/output error"
unchanged
# A signal that ends nothing by default, or that the caller ignores, leaves
# the rewrite to finish; one among jobs leaves each file whole, and no
# temporary file.
for s in WINCH CHLD; do exits 0 inject fsync:signal=$s scrubhidden dirty.png; done
trap '' HUP
exits 0 inject fsync:signal=HUP scrubhidden a.b.png
exits 143 inject fsync:signal=TERM:when=1 scrubhidden -j 3 h*.png 2>/dev/null
holds test "$(scrubhidden --check h*.png >/dev/null; echo $?)" -lt 2
changed dirty.png a.b.png $(comm -23 <(ls h*.png) <(scrubhidden --check h*.png))

# Where a file cannot be made without a name, it gets one at once, and a
# signal or a failed flush still removes it. A name as long as names go gets a temporary name
# beside it: a longer name is cut for it on a whole character, and no
# shorter; a name that starts inside a character keeps none of it.
row TemporaryNames needs strace
cp dirty.png probe.png; cp c.png $(printf '%063dé.png' 0); cp c.png $(printf '%064dé.png' 0)
cp c.png $(printf '\200%.0s' $(seq 70)).png
when=$(strace -f -o /dev/stdout -e trace=openat scrubhidden -j 1 clean.png probe.png |
    awk '{ n[$1]++ } /O_TMPFILE/ { print n[$1]; exit }'); rm probe.png
exits 143 inject openat:error=EOPNOTSUPP:when=$when -e inject=fsync:signal=TERM \
    scrubhidden -j 1 clean.png dirty.png 2>/dev/null
exits 1 inject openat:error=EOPNOTSUPP:when=$when -e inject=fsync:error=EIO \
    scrubhidden -j 1 clean.png dirty.png
errors "scrubhidden: dirty.png: Input/output error"
exits 0 strace -f -qq -A -o /dev/stdout -e trace=openat \
    -e inject=openat:error=EOPNOTSUPP:when=$when scrubhidden -j 1 clean.png a.b.png
holds grep -q '"[.]a[.]b[.]png[.][0-9a-z]\{6\}", .*O_EXCL.* = [0-9]' out
exits 0 strace -f -qq -s 99 -A -o /dev/stdout -e trace=linkat scrubhidden [!a-z]*.png
holds grep -q '"[.]0\{63\}[.][0-9a-z]\{6\}"' out
holds grep -q '"[.]0\{64\}[.][0-9a-z]\{6\}"' out
holds grep -q '"[.][.][0-9a-z]\{6\}"' out
changed a.b.png [!a-z]*.png

# A closed standard stream is never taken by a file; output meant for it still fails.
row ClosedStandardStreams needs strace
for i in 1 2 3; do cp c.png h$i.png; cp bad.png x$i.png; done
exits 1 strace -f -qq -A -o /dev/stdout -e trace=openat,openat2 \
    scrubhidden h1.png x1.png h2.png x2.png h3.png x3.png 2>&- <&-
holds ! grep ' = [0-2]$' <(grep -v -e /dev/null -e '[.]so' out)
exits 2 scrubhidden --check c.png >&-
exits 1 stencilcrop --box c.png s.png new/ >&-
errors "scrubhidden: standard output: Bad file descriptor" \
    "stencilcrop: standard output: Bad file descriptor"
holds scrubhidden --check h*.png
changed h1.png h2.png h3.png new/s.png
