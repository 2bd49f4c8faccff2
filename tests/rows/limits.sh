# Limits of file size, open files and memory.

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

# Out of memory for one file, the next is still handled: a sparse file that
# starts as a PNG file and is too large to read whole, and a small one whose
# data inflate past the limit. A stream that does not start as a PNG file is
# read no further.
row OutOfMemory needs plain-memory
head -c 33 c.png >large.png; truncate -s 1G large.png; cp "$CRAFTED/inflates-to-300-mb.png" huge.png
exits 1 prlimit --as=204800000 scrubhidden -j 1 large.png huge.png c.png
errors "scrubhidden: large.png: out of memory" "scrubhidden: huge.png: out of memory"
exits 1 prlimit --as=204800000 stencilcrop large.png s.png new/
errors "stencilcrop: large.png: out of memory"
exits 1 prlimit --as=204800000 stencilcrop huge.png s.png new/
errors "stencilcrop: huge.png: out of memory"
exits 1 prlimit --as=204800000 stencilcrop /dev/zero s.png new/
errors "stencilcrop: /dev/zero: not a PNG file"
changed c.png
