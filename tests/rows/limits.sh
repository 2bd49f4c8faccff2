# Limits of file size, open files and memory.
needs="to handle, more than the"
may="this run may use"
scrub="usage: scrubhidden [--check] [-z] [-r] [-j N] [--memory SIZE] FILE..."
size="the memory size must be a number of bytes, with K, M, G or T after it for powers of 1024"

# ingroup LIMIT COMMAND...: runs COMMAND in a memory control group of its
# own that may hold LIMIT bytes.
ingroup() {
    local group=/sys/fs/cgroup/memory/pngtools-row-$BASHPID-$RANDOM status=0
    mkdir "$group" && echo "$1" >"$group/memory.limit_in_bytes" || return 99
    sh -c 'echo $$ >"$0/cgroup.procs" && exec "$@"' "$group" "${@:2}" || status=$?
    for wait in {1..100}; do rmdir "$group" 2>/dev/null && break || sleep 0.1; done
    return $status
}

# A write past the file-size limit fails like any other, and the next file
# is still handled; a descriptor left open for each file would run out here.
row FileSizeAndDescriptors
cp c.png new/ibasn6a16.png
exits 1 prlimit --fsize=512 stencilcrop ibasn6a16.png ibasn6a16.png new/
errors "stencilcrop: new/ibasn6a16.png: File too large"
exits 1 prlimit --fsize=512 scrubhidden ./ibasn6a16.png c.png
errors "scrubhidden: ./ibasn6a16.png: File too large"
exits 0 prlimit --nofile=12 scrubhidden $(yes clean.png | head -n 20)
changed c.png

# Files rewritten wait, open, until those before them are done: behind a
# large file, no more wait than the open-file limit leaves room for.
row FewDescriptors
cp "$CRAFTED/4096-square-hides-colour.png" m00.png
for i in $(seq -w 40); do cp c.png m$i.png; done
exits 0 prlimit --nofile=24 scrubhidden -j 2 m*.png
changed m*.png

# Out of memory for one file, where a budget above the address-space limit
# let it start, the next is still handled: a sparse file that starts as a
# PNG file and is too large to read whole. A stream that does not start as
# a PNG file is read no further. Three quarters of what the address-space
# limit leaves, beside what the threads will reserve, is the budget, and a
# file started within it has the room it was promised, at any number of jobs.
row OutOfMemory needs plain-memory
head -c 33 c.png >large.png; truncate -s 1G large.png
exits 1 prlimit --as=204800000 scrubhidden -j 1 --memory 8G large.png c.png
errors "scrubhidden: large.png: out of memory"
exits 1 prlimit --as=204800000 stencilcrop --memory=8G large.png s.png new/
errors "stencilcrop: large.png: out of memory"
exits 1 prlimit --as=204800000 stencilcrop /dev/zero s.png new/
errors "stencilcrop: /dev/zero: not a PNG file"
cp "$CRAFTED/16384-square-hides-colour.png" big.png
exits 1 prlimit --as=$((600 << 20)) scrubhidden --memory 8G big.png
errors "scrubhidden: big.png: out of memory"
exits 1 prlimit --as=$((600 << 20)) scrubhidden big.png 2>as.txt
holds grep -Eqx "scrubhidden: big.png: needs 2.0 GiB $needs 4[0-4][0-9] MiB $may" as.txt
for i in 1 2 3 4 5 6 7 8; do cp "$CRAFTED/4096-square-hides-colour.png" q$i.png; done
exits 0 prlimit --as=$((700000 << 10)) scrubhidden -j 8 q?.png
changed c.png big.png as.txt q?.png

# What a file needs is known before it is decoded, without walking all of a
# sparse file: one that needs more than the budget is refused with both
# figures, before it is read where its size tells, and the rest are handled;
# a stream longer than the budget is read no further. The size may follow
# the files, and may be as small as one byte; one that is none, however many
# digits it has, is a usage error.
row MemoryBudget
head -c 33 c.png >large.png; truncate -s 1G large.png
cp "$CRAFTED/16384-square-hides-colour.png" big.png
exits 1 timeout 10 scrubhidden --memory 100M large.png big.png c.png
errors "scrubhidden: large.png: needs 3.0 GiB $needs 100 MiB $may" \
    "scrubhidden: big.png: needs 2.0 GiB $needs 100 MiB $may"
exits 1 sh -c '(head -c 33 c.png; head -c 3000000 /dev/zero) |
    stencilcrop --memory 2M /dev/stdin s.png new/'
errors "stencilcrop: /dev/stdin: needs more than the 2.0 MiB $may"
exits 1 stencilcrop --memory=0.5G big.png s.png new/
errors "stencilcrop: big.png: needs 2.0 GiB $needs 512 MiB $may"
exits 0 scrubhidden clean.png --memory 2M
exits 1 scrubhidden --memory 1 clean.png 2>/dev/null
crop="usage: stencilcrop [--box] [--memory SIZE] COLOUR STENCIL PREFIX"
exits 2 scrubhidden --memory 12X dirty.png
errors "scrubhidden: $size: 12X" "$scrub"
exits 2 stencilcrop --memory 1.5.G c.png s.png new/
errors "stencilcrop: $size: 1.5.G" "$crop"
exits 2 stencilcrop --memory +2M c.png s.png new/
errors "stencilcrop: $size: +2M" "$crop"
exits 2 scrubhidden dirty.png --memory
errors "scrubhidden: $size: " "$scrub"
huge=1$(printf '0%.0s' $(seq 320)) tiny=0.$(printf '0%.0s' $(seq 330))1
exits 2 scrubhidden --memory "$huge" dirty.png
errors "scrubhidden: $size: $huge" "$scrub"
exits 2 stencilcrop --memory="$tiny" c.png s.png new/
errors "stencilcrop: $size: $tiny" "$crop"
changed c.png

# In a memory control group, files too large for it are refused by name and
# the rest handled, and the batch is never killed: files whose need passes
# three quarters of the group's limit, with what the codec may take
# counted whole (image data that would inflate without bound, one row that
# the encoder filters five ways, many small text chunks), a stream longer
# than that, and a file that needs more than the group has left once
# another process of the group holds files on tmpfs.
row MemoryGroup needs cgroups mounts plain-memory
for i in 2 3 4 5; do cp c.png m$i.png; done; mkdir t; left="left in this run's memory group"
cp "$CRAFTED/1x1-inflates-to-300-mb.png" bomb.png; cp "$CRAFTED/4096-square-hides-colour.png" sq.png
cp "$CRAFTED/6291456x1-hides-colour.png" wide.png
printf '\0\0\0\2tEXtk\0\x6a\x2a\x6c\xe0' >t/x
for i in {1..19}; do cat t/x t/x >t/y; mv t/y t/x; done
{ head -c 33 c.png; cat t/x; tail -c +34 c.png; } >texts.png; rm t/x
exits 1 ingroup 256M scrubhidden -j 1 bomb.png m2.png
errors "scrubhidden: bomb.png: image data larger than the header says"
exits 1 ingroup 128M scrubhidden -j 1 wide.png m3.png
errors "scrubhidden: wide.png: needs 169 MiB $needs 96 MiB $may"
exits 1 ingroup 64M scrubhidden -j 1 texts.png m4.png
errors "scrubhidden: texts.png: needs 152 MiB $needs 48 MiB $may"
exits 1 ingroup 256M bash -c 'stencilcrop <(cat s.png; head -c 400M /dev/zero) s.png new/' 2>e1
exits 1 ingroup 256M unshare -m sh -c 'mount -t tmpfs t t && head -c 150M /dev/zero >t/fill &&
    exec scrubhidden sq.png m5.png' 2>e2
holds grep -Eqx "stencilcrop: /dev/fd/[0-9]+: needs more than the 19[0-2] MiB ($may|$left)" e1
holds grep -Eqx "scrubhidden: sq.png: needs 129 MiB, more than the [4-7][0-9] MiB $left" e2
changed m?.png e1 e2
