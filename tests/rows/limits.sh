# Limits of file size, open files and memory.
needs="to handle, more than the"
may="this run may use"
scrub="usage: scrubhidden [--check] [-z] [-j N] [--memory SIZE] FILE..."
size="the memory size must be a number of bytes, with K, M, G or T after it for powers of 1024"

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
# PNG file and is too large to read whole, and a small one whose data
# inflate past the limit. A stream that does not start as a PNG file is
# read no further. Three quarters of what the address-space limit leaves
# is the budget.
row OutOfMemory needs plain-memory
head -c 33 c.png >large.png; truncate -s 1G large.png; cp "$CRAFTED/inflates-to-300-mb.png" huge.png
exits 1 prlimit --as=204800000 scrubhidden -j 1 --memory 8G large.png huge.png c.png
errors "scrubhidden: large.png: out of memory" "scrubhidden: huge.png: out of memory"
exits 1 prlimit --as=204800000 stencilcrop --memory=8G large.png s.png new/
errors "stencilcrop: large.png: out of memory"
exits 1 prlimit --as=204800000 stencilcrop --memory 8G huge.png s.png new/
errors "stencilcrop: huge.png: out of memory"
exits 1 prlimit --as=204800000 stencilcrop /dev/zero s.png new/
errors "stencilcrop: /dev/zero: not a PNG file"
cp "$CRAFTED/16384-square-hides-colour.png" big.png
exits 1 prlimit --as=$((600 << 20)) scrubhidden big.png 2>as.txt
holds grep -Eqx "scrubhidden: big.png: needs 2.0 GiB $needs 4[34][0-9] MiB $may" as.txt
changed c.png big.png as.txt

# What a file needs is known before it is decoded, without walking all of a
# sparse file: one that needs more than the budget is refused with both
# figures, before it is read where its size tells, and the rest are handled;
# a stream longer than the budget is read no further. The size may follow
# the files; one that is none is a usage error.
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
exits 2 scrubhidden --memory 12X dirty.png
exits 2 scrubhidden --memory=0 dirty.png
exits 2 stencilcrop --memory 1.5.G c.png s.png new/
exits 2 scrubhidden dirty.png --memory
errors "scrubhidden: $size: 12X" "$scrub" "scrubhidden: $size: 0" "$scrub" \
    "stencilcrop: $size: 1.5.G" "usage: stencilcrop [--box] [--memory SIZE] COLOUR STENCIL PREFIX" \
    "scrubhidden: $size: " "$scrub"
changed c.png

# In a memory control group of 1 GiB, three quarters of it is the budget:
# files too large for it are refused by name, the rest rewritten, and the
# batch is never killed.
row MemoryGroup needs cgroups
for i in $(seq 30); do cp c.png m$i.png; done
for i in 1 2 3 4; do cp "$CRAFTED/16384-square-hides-colour.png" big$i.png; done
group=/sys/fs/cgroup/memory/pngtools-row-$$; mkdir "$group"; echo 1G >"$group/memory.limit_in_bytes"
exits 1 sh -c 'echo $$ >"$1/cgroup.procs" && exec scrubhidden m*.png big*.png' sh "$group"
rmdir "$group"
errors "scrubhidden: big1.png: needs 2.0 GiB $needs 768 MiB $may" \
    "scrubhidden: big2.png: needs 2.0 GiB $needs 768 MiB $may" \
    "scrubhidden: big3.png: needs 2.0 GiB $needs 768 MiB $may" \
    "scrubhidden: big4.png: needs 2.0 GiB $needs 768 MiB $may"
changed m*.png
