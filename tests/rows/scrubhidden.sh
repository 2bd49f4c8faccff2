# scrubhidden: the files it takes and rewrites, and the lists of --check, at
# any number of jobs.

# Only .png names are taken; a clean file keeps its bytes and its time, and
# a broken one is reported, however it is broken, even where its colour type
# could hide no colour.
row Files
head -c 5 c.png >sig.png; head -c -12 c.png >noend.png; head -c -1 c.png >end.png
echo hello >text.png
cp basn0g08.png grey.png && printf '\377' | dd of=grey.png bs=1 seek=60 conv=notrunc 2>/dev/null
cp basn0g08.png head.png && printf '\377' | dd of=head.png bs=1 seek=30 conv=notrunc 2>/dev/null
cp "$CRAFTED/grey-key-too-short.png" key.png
exits 1 scrubhidden dirty.png clean.png bad.png a.b.png d.PNG d.png.bak 'rev.2\d' d
errors "scrubhidden: bad.png: not a PNG file"
exits 1 scrubhidden empty.png cut.png sig.png noend.png end.png text.png crc.png grey.png \
    head.png key.png dir.png missing.png none/c.png
errors "scrubhidden: empty.png: empty file" "scrubhidden: cut.png: truncated PNG file" \
    "scrubhidden: sig.png: truncated PNG file" "scrubhidden: noend.png: truncated PNG file" \
    "scrubhidden: end.png: truncated PNG file" \
    "scrubhidden: text.png: not a PNG file" \
    "scrubhidden: crc.png: invalid CRC encountered (checking CRC can be disabled)" \
    "scrubhidden: grey.png: invalid CRC encountered (checking CRC can be disabled)" \
    "scrubhidden: head.png: invalid CRC encountered (checking CRC can be disabled)" \
    "scrubhidden: key.png: chunk length too large, chunk broken off at end of file" \
    "scrubhidden: dir.png: is a folder" "scrubhidden: missing.png: No such file or directory" \
    "scrubhidden: none/c.png: No such file or directory"
changed a.b.png dirty.png

# A check writes nothing and lists, in order, the files that hide colour,
# each line out as it is written, so that both streams keep their order in
# one file; names that would forge lines are quoted (a byte that is no part
# of UTF-8 in octal), or written raw with -z.
row CheckLists
for f in $'a\nb.png' 'q"x.png' 'b\s.png' 'é.png' $'\310x.png'; do cp c.png "$f"; done
exits 2 scrubhidden --check -j 2 dirty.png clean.png basn2c08.png bad.png c.png 2>&1
output dirty.png "scrubhidden: bad.png: not a PNG file" c.png
exits 1 scrubhidden clean.png basn0g08.png dirty.png basn3p08.png --check
output dirty.png
exits 0 scrubhidden --check clean.png basn0g08.png ibasn3p08.png
output
exits 2 scrubhidden --check $'a\nb.png' 'q"x.png' 'b\s.png' 'é.png' $'\310x.png' $'mi\nss.png'
errors 'scrubhidden: "mi\nss.png": No such file or directory'
output '"a\nb.png"' '"q\"x.png"' '"b\\s.png"' 'é.png' '"\310x.png"'
exits 1 scrubhidden -z --check $'a\nb.png' 'q"x.png' clean.png 'b\s.png' 'é.png'
output -z $'a\nb.png' 'q"x.png' 'b\s.png' 'é.png'

# A name as long as names go is rewritten. Hard links are one file: each
# name is rewritten in turn, at any number of jobs (-j9 as -j 9).
row LongNameAndHardLinks
cp c.png $(printf '%0251d.png' 0); mkdir a b; cp c.png a/x.png; cp c.png b/x.png
for i in $(seq 20); do ln a/x.png a/l$i.png; ln b/x.png b/l$i.png; done
exits 0 scrubhidden -j 1 0*.png a/*.png
exits 0 scrubhidden -j9 b/*.png
holds scrubhidden --check a/*.png b/*.png
holds test "$(stat -c %h a/* b/* | sort -u)" = 1
changed 0*.png a/* b/*

# Jobs at once print, write and end exactly as one job does (outputs o and
# e in each folder), and rewrite what a check lists.
row JobsAsOne
for j in 1 10; do mkdir w$j; cp -r *.png w$j/; done
for j in 1 10; do export j
    exits 2 sh -c 'cd w$j && scrubhidden --check -j$j $(ls) missing.png >o 2>e'
    exits 1 sh -c 'cd w$j && scrubhidden --jobs=$j $(ls | sed p) missing.png >>o 2>>e'
done
holds diff -r w1 w10
holds grep -q missing.png w1/e
changed w1/o w1/e w10/o w10/e $(sed 's|^|w1/|' w1/o) $(sed 's|^|w10/|' w1/o)

# Jobs follow the processors granted: ten jobs asked for start ten threads,
# for names or a walk, where one file, an affinity of one processor, or a
# CPU quota of one, starts none.
row ProcessorsGranted needs strace cgroups
cpu=/sys/fs/cgroup/cpu/pngtools-row-$$; mkdir "$cpu" k; echo 50000 >"$cpu/cpu.cfs_quota_us"
for i in $(seq 12); do cp clean.png k/$i.png; done
threads() { strace -f -qq -e trace=clone,clone3 -o /dev/stdout "$@" | grep -c clone; }
exits 0 threads scrubhidden -j 10 --check k/*.png
output 10
exits 0 threads scrubhidden -j 10 --check -r k
output 10
exits 1 threads scrubhidden -j 10 --check k/1.png
output 0
exits 1 threads taskset -c 0 scrubhidden --check k/1.png k/2.png
output 0
exits 1 threads sh -c 'echo $$ >"$0/cgroup.procs" && exec scrubhidden --check k/*.png' "$cpu"
output 0
rmdir "$cpu"

# Among the files ahead, the largest starts first: one worker reads it
# before any other, and the rest in turn.
row BiggestFirst needs strace
for i in 1 2 3; do cp c.png s$i.png; done; cp ibasn6a16.png z.png
exits 0 strace -f -y -qq -e trace=read -o trace scrubhidden -j 1 s?.png z.png
exits 0 sed -n 's|.*/\(.*\)>, "\\211PNG.*|\1|p' trace
output z.png s1.png s2.png s3.png
changed s?.png z.png trace

# On a terminal, a long batch shows how far it is, and each message and
# each name of a check's list clears that line first; names ended by NUL,
# which keep to one line there, it never shows beside. Elsewhere nothing of
# it is written.
row Progress needs strace
for i in 1 2 3 4 5 6; do cp c.png h$i.png; done
for i in $(seq -w 12); do cp c.png q$i.png; done; mkdir tree && cp q*.png tree
slow="strace -f -qq -o /dev/null -e inject=fsync:delay_enter=1000000"
exits 1 script -qec "$slow scrubhidden -j 1 h1.png h2.png h3.png h4.png bad.png h5.png h6.png" \
    /dev/null
holds grep -aq 'scrubhidden: [0-9] of 7 files, [0-9]* files/s' out
holds grep -axq ' *scrubhidden: bad.png: not a PNG file' <(tr '\r' '\n' <out)
slow="strace -f -qq -o /dev/null -e inject=openat:delay_enter=100000"
exits 1 script -qec "$slow scrubhidden --check -j 1 q*.png" /dev/null >list
exits 1 script -qec "$slow scrubhidden --check -z -j 1 q*.png" /dev/null >nulls
exits 1 script -qec "$slow scrubhidden --check -j 1 -r tree" /dev/null >walked
holds grep -aq 'of 12 files' list
holds grep -aq 'scrubhidden: [0-9]* files, [0-9]* files/s' walked
holds test "$(tr '\r' '\n' <list | grep -acx "q[0-9]*.png")" = 12
holds ! grep -aq files/s nulls
exits 1 inject fsync:delay_enter=1200000 scrubhidden -j 1 c.png bad.png
errors "scrubhidden: bad.png: not a PNG file"
changed h*.png c.png list nulls walked
