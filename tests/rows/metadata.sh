# What a replaced file keeps of the old one, and what the tools refuse to replace.

# Its mode and group, and a link to it stays a link.
row ModeGroupAndLink
chmod 640 dirty.png; chgrp 1 dirty.png 2>/dev/null || true; ln -s dirty.png link.png
group=$(stat -c %g dirty.png)
exits 0 scrubhidden link.png
holds test -L link.png
holds test "$(stat -c '%a %g' dirty.png)" = "640 $group"
changed dirty.png

# Its ACL, with nobody's access widened by the folder's default one.
row Acls needs acls
setfacl -m u:4321:rw,g::- dirty.png; mkdir da; cp c.png da/x.png; setfacl -d -m u:4321:rw da
acl=$(getfacl -n dirty.png)
exits 0 scrubhidden dirty.png da/x.png
holds test "$(getfacl -n dirty.png)" = "$acl"
holds ! grep 4321 <(getfacl -n da/x.png)
holds test "$(stat -c %a da/x.png)" = 644
changed dirty.png da/x.png

# Its extended attributes, those only root may set too. A device is never
# written into, and a folder that would keep the temporary file is refused
# before one is made.
row RootOnly needs root
setfattr -n user.origin -v sprites dirty.png
setfattr -n security.capability -v 0x0100000200200000000000000000000000000000 dirty.png
mknod new/null c 1 3; ln -s null new/s.png; mkdir ao; cp c.png ao/x.png
chattr +a ao; chattr +i a.b.png
exits 1 stencilcrop c.png s.png new/
exits 1 scrubhidden dirty.png ao/x.png a.b.png
chattr -a ao; chattr -i a.b.png
errors "stencilcrop: new/s.png: not a regular file" \
    "scrubhidden: ao/x.png: the file or its folder is append-only or immutable" \
    "scrubhidden: a.b.png: the file or its folder is append-only or immutable"
holds grep -qx sprites <(getfattr -n user.origin --only-values dirty.png)
holds grep -q =0x0100000200200000 <(getfattr -e hex -n security.capability dirty.png)
changed dirty.png

# Whoever may give a file away keeps its owner or writes nothing; a file
# system that holds no ACL has none to clear.
row MetadataNotHeld needs root strace
exits 1 inject fchown:error=EDQUOT scrubhidden dirty.png
errors "scrubhidden: dirty.png: cannot give the new file the old one's owner: Disk quota exceeded"
exits 0 inject fremovexattr:error=EOPNOTSUPP scrubhidden a.b.png
changed a.b.png
