# Other users, and mounts of a row's own.
nobody="setpriv --reuid=65534 --regid=65534"
denied="Permission denied" changed="file changed while it was being handled"

# Another user is refused what the folder or the file does not allow them; a
# file they rewrite becomes theirs, as a copy would, but keeps a group of
# theirs. Jobs go on with the threads the system grants, none beside the
# flushers or only some.
row OtherUser needs other-user
mkdir ro rw t; cp c.png ro/x.png; cp c.png rw/x.png; cp c.png rw/y.png; cp c.png dirty.png t/
chmod 666 ro/x.png rw/x.png t/*; chmod 444 rw/y.png; chgrp 100 rw/x.png; chmod 555 ro
chmod 777 rw t; cp clean.png t/
exits 1 $nobody --clear-groups scrubhidden ro/x.png rw/y.png
errors "scrubhidden: ro/x.png: Permission denied" "scrubhidden: rw/y.png: Permission denied"
exits 0 $nobody --groups=100 scrubhidden rw/x.png
holds test "$(stat -c '%u %g %a' rw/x.png)" = '65534 100 666'
exits 0 $nobody --clear-groups prlimit --nproc=3 scrubhidden -j 8 t/*.png
cp c.png t/again.png && chmod 666 t/again.png
exits 0 $nobody --clear-groups prlimit --nproc=15 scrubhidden -j 8 t/*.png
changed rw/x.png t/c.png t/dirty.png t/again.png

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

# Another user who keeps swapping their file in a sticky folder for a link
# to root's private file never gets root to read that file, with
# fs.protected_symlinks off too: each run reads their file or refuses it.
row SwappedForLink needs other-user
cp basn2c08.png secret.png; chmod 600 secret.png; mkdir -m 1777 ../sh ../out; cp c.png ../sh/r.png
chown 65534 ../sh/r.png; stencilcrop c.png s.png ../own-
kept=$(cat /proc/sys/fs/protected_symlinks)
echo 0 >/proc/sys/fs/protected_symlinks || skip "needs fs.protected_symlinks off for a while"
$nobody --clear-groups perl -e 'chdir "../sh"; while (1) { symlink($ARGV[0], "l");
    rename("l", "c.png"); link("r.png", "h"); rename("h", "c.png") }' "$PWD/secret.png" &
trap "kill $!; echo $kept >/proc/sys/fs/protected_symlinks" EXIT
exits 0 sh -c 'for i in $(seq 300); do stencilcrop ../sh/c.png s.png ../out/$i- 2>>e; done; true'
holds sh -c 'for f in ../out/*; do cmp -s "$f" ../own-s.png || exit 1; done'
holds ! grep -Evqx "stencilcrop: ../sh/c.png: ($denied|No such file or directory|$changed)" e
changed e
