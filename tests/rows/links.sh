# Links and sticky folders: which are followed, and for whom.
denied="Permission denied"

# Forty links are as many as the kernel follows; a folder on the way may be
# a link, in a path from here or from the root, and a link's text may be
# long; a file's name ends no folder.
row Links
ln -s dirty.png l0.png; for i in $(seq 40); do ln -s l$((i - 1)).png l$i.png; done
mkdir -p a/b; cp c.png a/b/x.png; cp c.png a/b/y.png; ln -s b a/l; ln -s d.PNG/ slash.png
ln -s "$(printf './%.0s' $(seq 150))c.png" long.png
exits 1 timeout 20 scrubhidden l39.png l40.png a//l//x.png "$PWD/a/l/y.png" long.png slash.png
errors "scrubhidden: l40.png: Too many levels of symbolic links" \
    "scrubhidden: slash.png: Not a directory"
changed dirty.png a/b/x.png a/b/y.png c.png

# In a sticky, world-writable folder, a link is followed only for its owner
# or the folder's, be it the last name or a folder on the way. A new output
# is made there.
row OwnLinkInStickyFolder
mkdir -m 1777 sh; ln -s ../dirty.png sh/s.png; cp s.png t.png
exits 0 stencilcrop c.png s.png sh/
exits 0 stencilcrop c.png t.png sh/
holds test -L sh/s.png
changed dirty.png sh/t.png

# Another user's link there is refused. Their file named to be rewritten is
# rewritten and stays theirs, but one where root's output is to go may be a
# trap.
row OthersInStickyFolder needs root
mkdir -m 1777 sh; mkdir -m 700 priv; cp c.png priv/secret.png; cp c.png sh/x.png; cp s.png t.png
ln -s ../dirty.png sh/s.png; ln -s ../priv sh/out; ln -s ../c.png sh/in.png; touch sh/t.png
chmod 666 sh/t.png; chown -h 1 sh/s.png sh/out sh/in.png sh/t.png sh/x.png
exits 1 stencilcrop c.png s.png sh/
errors "stencilcrop: sh/s.png: $denied"
exits 1 stencilcrop c.png s.png sh/out/
errors "stencilcrop: sh/out/s.png: $denied"
exits 1 stencilcrop sh/in.png s.png new/
errors "stencilcrop: sh/in.png: $denied"
exits 1 stencilcrop c.png t.png sh/
errors "stencilcrop: sh/t.png: $denied"
exits 1 scrubhidden sh/out/secret.png sh/x.png
errors "scrubhidden: sh/out/secret.png: $denied"
holds test "$(stat -c %u sh/x.png)" = 1
changed sh/x.png
