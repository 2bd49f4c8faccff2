# stencilcrop: the line of --box, pipes, and inputs and outputs refused.

# A path that would break the line or read back wrong is quoted, letters
# beyond ASCII are not; --box counts after the operands too, and leaves the
# file as it is without. With standard input closed, the first file opened
# is descriptor 0.
row BoxLine
mkdir a "$(printf 'a\nb"c\\é')"; umask 022
exits 0 stencilcrop --box c.png s.png a/
output '1 0 31 32 32 32 a/s.png'
exits 0 stencilcrop --box c.png s.png "$(printf 'a\nb"c\\é/')"
output '1 0 31 32 32 32 "a\nb\"c\\é/s.png"'
exits 0 stencilcrop c.png s.png new/ --box <&-
output '1 0 31 32 32 32 new/s.png'
holds cmp a/s.png new/s.png
holds test "$(stat -c %a new/s.png)" = 644
changed a/s.png 'a?b"c\é/s.png' new/s.png

# Both separators end a folder name. An input may be a pipe, read in pieces,
# and its writer may come late; an output never is one.
row Pipes
cp s.png 'new/a\b.png'; mkfifo p.png f.png new/s.png
exits 0 stencilcrop /dev/stdin 'new/a\b.png' 'p\' < <(head -c99 c.png; sleep .1; tail -c+100 c.png)
{ sleep 0.3; timeout 5 sh -c 'cat c.png >p.png'; } &
exits 0 timeout 10 stencilcrop p.png s.png late-
wait
exits 1 timeout 5 stencilcrop c.png s.png new/
errors "stencilcrop: new/s.png: not a regular file"
exits 1 scrubhidden f.png c.png
errors "scrubhidden: f.png: not a regular file"
changed 'p\b.png' late-s.png c.png p.png

# A path through a folder that is not there names nothing.
row BadInputs
exits 1 stencilcrop missing.png s.png new/
errors "stencilcrop: missing.png: No such file or directory"
exits 1 stencilcrop bad.png bad.png new/
errors "stencilcrop: bad.png: not a PNG file" "stencilcrop: bad.png: not a PNG file"
exits 1 stencilcrop --box c.png small.png new/
errors "stencilcrop: small.png: stencil is 32x2 but the colour image is 32x32"
exits 1 stencilcrop --box c.png clear.png new/
errors "stencilcrop: clear.png: stencil has no visible pixel"
exits 1 stencilcrop c.png s.png nowhere/
errors "stencilcrop: nowhere/s.png: No such file or directory"
output
