# Usage errors, help and version, and text that standard output cannot take.
usage="usage: stencilcrop [--box] [--memory SIZE] COLOUR STENCIL PREFIX"
scrub="usage: scrubhidden [--check] [-z] [-r] [-j N] [--memory SIZE] FILE..."
count="scrubhidden: the job count must be a whole number from 1"
full="standard output: No space left on device"

# Nothing is read or written, not even the line of --box: a mistyped
# option is refused before anything is read, and so are operands that a
# wildcard matching several files would have shifted. "--" ends the
# options, so that a name may start with "-".
row UsageErrors
exits 2 stencilcrop --box c.png s.png
errors "$usage"
exits 2 scrubhidden --jobs 1x dirty.png
errors "$count: 1x" "$scrub"
exits 2 scrubhidden -j 0 dirty.png
errors "$count: 0" "$scrub"
exits 2 scrubhidden dirty.png -j
errors "$count: " "$scrub"
exits 2 scrubhidden -check dirty.png
errors "scrubhidden: unknown option: -check" "$scrub"
exits 2 scrubhidden --CHECK dirty.png
errors "scrubhidden: unknown option: --CHECK" "$scrub"
exits 2 scrubhidden - dirty.png
errors "scrubhidden: unknown option: -" "$scrub"
exits 2 stencilcrop c.png s.png new/ --bx
errors "stencilcrop: unknown option: --bx" "$usage"
exits 2 stencilcrop --box c.png s*.png new/
errors "stencilcrop: more than three operands: a wildcard may have matched several files" "$usage"
exits 0 stencilcrop -- c.png s.png -a
exits 0 scrubhidden -- --check dirty.png
output
# A word that ends in .png is a file; a count past any number is the most.
cp c.png ./-x.png
exits 0 scrubhidden -x.png -j 18446744073709551616
changed -as.png dirty.png -x.png

# scrubhidden takes --help anywhere, and then handles no file. Text that
# cannot be written fails the run.
row HelpVersionAndFullOutput
exits 0 stencilcrop --version
exits 0 stencilcrop -h
exits 0 scrubhidden c.png --help
holds grep -qx 'stencilcrop [0-9.]*' out
exits 1 scrubhidden --version >/dev/full
errors "scrubhidden: $full"
