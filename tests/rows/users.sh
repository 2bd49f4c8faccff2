# Other users, and mounts of a row's own.
nobody="setpriv --reuid=65534 --regid=65534"

# Another user is refused what the folder or the file does not allow them; a
# file they rewrite becomes theirs, as a copy would, but keeps a group of
# theirs. Jobs go on with the threads the system grants.
row OtherUser needs other-user
mkdir ro rw t; cp c.png ro/x.png; cp c.png rw/x.png; cp c.png rw/y.png; cp c.png dirty.png t/
chmod 666 ro/x.png rw/x.png t/*; chmod 444 rw/y.png; chgrp 100 rw/x.png; chmod 555 ro
chmod 777 rw t; cp clean.png t/
exits 1 $nobody --clear-groups scrubhidden ro/x.png rw/y.png
errors "scrubhidden: ro/x.png: Permission denied" "scrubhidden: rw/y.png: Permission denied"
exits 0 $nobody --groups=100 scrubhidden rw/x.png
holds test "$(stat -c '%u %g %a' rw/x.png)" = '65534 100 666'
exits 0 $nobody --clear-groups prlimit --nproc=3 scrubhidden -j 8 t/*.png
changed rw/x.png t/c.png t/dirty.png

# A read-only mount is reported. A link of /proc is followed where the kernel
# follows it: into another mount namespace.
row Mounts needs mounts
mkdir ro box other; cp c.png ro/x.png; cp c.png box/x.png; cp c.png other/x.png
exits 1 unshare -m sh -c 'mount --bind -o ro ro ro && scrubhidden ro/x.png'
errors "scrubhidden: ro/x.png: Read-only file system"
unshare -m sh -c 'mount --bind other box && cd box && exec sleep 20' &
until test /proc/$!/cwd -ef other; do sleep 0.01; done
exits 0 scrubhidden "/proc/$!/root$PWD/box/x.png"
exits 0 stencilcrop c.png s.png "/proc/$!/cwd/"
kill $!
changed other/s.png other/x.png
