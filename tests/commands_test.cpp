// The tools as a user runs them. Each row is a shell command run in a fresh
// copy of a folder of sample files, after a setup of its own: the exit status
// and standard error it must give, and a shell test that the files must pass
// afterwards, which finds in the file $changed the paths that the command
// itself made, changed or removed, out and err aside.
#include <gtest/gtest.h>
#include <lodepng.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
const std::string badPng = "not a PNG file\n", usage = "usage: stencilcrop [--box] COLOUR STENCIL PREFIX\n", scrubUsage = "usage: scrubhidden [--check] [-z] [-j N] FILE...\n";
const std::string nothingWritten = "test ! -s $changed";
// A sparse file that starts as a PNG file and is too large to read whole
// under the limit below, and a small one whose data inflate past it.
const std::string large = "head -c 33 c.png >large.png && truncate -s 1G large.png && cp " CRAFTED_DIR "/inflates-to-300-mb.png huge.png";
const std::string limited = "ulimit -v 200000; ";

// What a row needs beyond the tools: root for files of other users and
// attributes only root may set, the programs that set them up, the room
// to limit the address space, and mounts of a row's own.
enum Needs { anyone, root, tracer, acls, plainMemory, mounts };

struct Row { const char* name; Needs needs; std::string setup, command; int status; std::string errors, after; };

const Row rows[] = {
    {"NoArguments", anyone, "", "stencilcrop", 2, usage, nothingWritten},
    {"TooFewArguments", anyone, "", "stencilcrop c.png", 2, usage, nothingWritten},
    {"TwoArguments", anyone, "", "stencilcrop --box c.png s.png", 2, usage, nothingWritten + " && ! test -s out"},
    {"Version", anyone, "", "stencilcrop --version", 0, "", nothingWritten + " && grep -qx 'stencilcrop [0-9.]*' out"},
    {"Help", anyone, "", "stencilcrop -h", 0, "", nothingWritten + " && grep -qx 'usage: stencilcrop \\[--box\\] COLOUR STENCIL PREFIX' out"},
    // With standard input closed, the first file opened is descriptor 0; --box counts after the operands too.
    {"NewOutputMode", anyone, "", "umask 022; stencilcrop c.png s.png new/ --box <&-", 0, "", "stat -c %a new/s.png | grep -qx 644 && echo '1 0 31 32 32 32 new/s.png' | cmp - out"},
    // A path that would break the line or read back wrong is quoted; letters beyond ASCII are not.
    {"BoxQuotedPath", anyone, R"x(mkdir "$(printf 'a\nb"c\\é')")x", R"x(stencilcrop --box c.png s.png "$(printf 'a\nb"c\\é/')")x", 0, "", R"x(printf '%s\n' '1 0 31 32 32 32 "a\nb\"c\\é/s.png"' | cmp - out)x"},
    {"BoxSameFile", anyone, "mkdir a b", "stencilcrop --box c.png s.png a/ && stencilcrop c.png s.png b/", 0, "", "cmp a/s.png b/s.png && echo '1 0 31 32 32 32 a/s.png' | cmp - out"},
    {"BoxFullOutput", anyone, "", "stencilcrop --box c.png s.png new/ >/dev/full", 1, "stencilcrop: standard output: No space left on device\n", "test -f new/s.png"},
    // Both separators end a folder name; an input may be a pipe, read in pieces.
    {"PipeInputAndSeparators", anyone, "cp s.png 'new/a\\b.png'", "(head -c 99 c.png; sleep 0.1; tail -c +100 c.png) | stencilcrop /dev/stdin 'new/a\\b.png' 'p\\'", 0, "", "test -f 'p\\b.png'"},
    {"MissingColour", anyone, "", "stencilcrop missing.png s.png new/", 1, "stencilcrop: missing.png: No such file or directory\n", nothingWritten},
    {"BothInputsBad", anyone, "", "stencilcrop bad.png bad.png new/", 1, "stencilcrop: bad.png: " + badPng + "stencilcrop: bad.png: " + badPng, nothingWritten},
    {"SizesDiffer", anyone, "", "stencilcrop --box c.png small.png new/", 1, "stencilcrop: small.png: stencil is 32x2 but the colour image is 32x32\n", nothingWritten + " && ! test -s out"},
    {"NothingVisible", anyone, "", "stencilcrop --box c.png clear.png new/", 1, "stencilcrop: clear.png: stencil has no visible pixel\n", nothingWritten + " && ! test -s out"},
    // Past the file-size limit, a write fails like any other.
    {"FileSizeLimit", anyone, "cp c.png new/ibasn6a16.png", "ulimit -f 1; stencilcrop ibasn6a16.png ibasn6a16.png new/", 1, "stencilcrop: new/ibasn6a16.png: File too large\n", nothingWritten},
    // Devices and pipes are never written into, however they are named.
    {"OutputIsDevice", root, "mknod new/null c 1 3 && ln -s null new/s.png", "stencilcrop c.png s.png new/", 1, "stencilcrop: new/s.png: not a regular file\n", nothingWritten},
    {"OutputIsPipe", anyone, "mkfifo new/s.png", "timeout 5 stencilcrop c.png s.png new/", 1, "stencilcrop: new/s.png: not a regular file\n", nothingWritten},
    {"ScrubHelp", anyone, "", "scrubhidden c.png --help", 0, "", nothingWritten + " && grep -qx 'usage: scrubhidden \\[--check\\] \\[-z\\] \\[-j N\\] FILE...' out"},
    {"ScrubSkipsAndRewrites", anyone, "", "scrubhidden dirty.png clean.png bad.png a.b.png d.PNG d.png.bak 'rev.2\\d' d", 1, "scrubhidden: bad.png: " + badPng, "printf '%s\\n' ./a.b.png ./dirty.png | cmp - $changed && cmp dirty.png a.b.png && cp dirty.png again.png && scrubhidden again.png && cmp dirty.png again.png"},
    {"ScrubBrokenFiles", anyone, "head -c 5 c.png >sig.png && head -c -12 c.png >noend.png && echo hello >text.png", "scrubhidden empty.png cut.png sig.png noend.png text.png crc.png dir.png missing.png", 1, "scrubhidden: empty.png: empty file\nscrubhidden: cut.png: truncated PNG file\nscrubhidden: sig.png: truncated PNG file\nscrubhidden: noend.png: truncated PNG file\nscrubhidden: text.png: not a PNG file\nscrubhidden: crc.png: invalid CRC encountered (checking CRC can be disabled)\nscrubhidden: dir.png: is a folder\nscrubhidden: missing.png: No such file or directory\n", nothingWritten},
    // A check writes nothing and lists, in order, the files that hide colour.
    {"CheckWithFailure", anyone, "", "scrubhidden --check dirty.png clean.png basn2c08.png bad.png c.png", 2, "scrubhidden: bad.png: " + badPng, nothingWritten + " && printf 'dirty.png\\nc.png\\n' | cmp - out"},
    {"CheckHidden", anyone, "", "scrubhidden clean.png basn0g08.png dirty.png basn3p08.png --check", 1, "", nothingWritten + " && echo dirty.png | cmp - out"},
    {"CheckClean", anyone, "", "scrubhidden --check clean.png basn0g08.png ibasn3p08.png", 0, "", nothingWritten + " && ! test -s out"},
    {"CheckFullOutput", anyone, "", "scrubhidden --check dirty.png >/dev/full", 2, "scrubhidden: standard output: No space left on device\n", nothingWritten},
    // A replaced file keeps its mode and group, and a link stays a link.
    {"ModeGroupAndLink", anyone, "chmod 640 dirty.png; chgrp 1 dirty.png 2>/dev/null; stat -c %g dirty.png >group; ln -s dirty.png link.png", "scrubhidden link.png", 0, "", "test -L link.png && ! cmp -s dirty.png c.png && stat -c %a dirty.png | grep -qx 640 && stat -c %g dirty.png | cmp - group"},
    // And its ACL, with nobody's access widened by the folder's default one.
    {"AclKept", acls, "setfacl -m u:4321:rw,g::- dirty.png && getfacl -n dirty.png >acl", "scrubhidden dirty.png", 0, "", "getfacl -n dirty.png | cmp - acl && ! cmp -s dirty.png c.png"},
    {"DefaultAclNotTaken", acls, "mkdir da && cp c.png da/x.png && setfacl -d -m u:4321:rw da", "scrubhidden da/x.png", 0, "", "! getfacl -n da/x.png | grep -q 4321 && stat -c %a da/x.png | grep -qx 644 && ! cmp -s da/x.png c.png"},
    {"AttributesKept", root, "setfattr -n user.origin -v sprites dirty.png && setfattr -n security.capability -v 0x0100000200200000000000000000000000000000 dirty.png", "scrubhidden dirty.png", 0, "", "getfattr -n user.origin --only-values dirty.png | grep -qx sprites && getfattr -e hex -n security.capability dirty.png | grep -q =0x0100000200200000 && ! cmp -s dirty.png c.png"},
    {"FileSizeLimitThenNext", anyone, "", "ulimit -f 1; scrubhidden ./ibasn6a16.png c.png", 1, "scrubhidden: ./ibasn6a16.png: File too large\n", "echo ./c.png | cmp - $changed"},
    // A stream that does not start as a PNG file is read no further.
    {"EndlessStream", plainMemory, "", limited + "stencilcrop /dev/zero s.png new/", 1, "stencilcrop: /dev/zero: " + badPng, nothingWritten},
    {"ScrubPipe", anyone, "mkfifo f.png", "scrubhidden f.png c.png", 1, "scrubhidden: f.png: not a regular file\n", "echo ./c.png | cmp - $changed"},
    {"HelpFullOutput", anyone, "", "stencilcrop --help >/dev/full", 1, "stencilcrop: standard output: No space left on device\n", nothingWritten},
    // Out of memory for one file, the next is still handled.
    {"OutOfMemory", plainMemory, large, limited + "scrubhidden -j 1 large.png huge.png c.png", 1, "scrubhidden: large.png: out of memory\nscrubhidden: huge.png: out of memory\n", "echo ./c.png | cmp - $changed"},
    {"OutOfMemoryReading", plainMemory, large, limited + "stencilcrop large.png s.png new/", 1, "stencilcrop: large.png: out of memory\n", nothingWritten},
    {"OutOfMemoryDecoding", plainMemory, large, limited + "stencilcrop huge.png s.png new/", 1, "stencilcrop: huge.png: out of memory\n", nothingWritten},
    // A path through a folder that is not there names nothing, and forty links are as many as the kernel follows.
    {"OutputFolderMissing", anyone, "", "stencilcrop c.png s.png nowhere/", 1, "stencilcrop: nowhere/s.png: No such file or directory\n", nothingWritten},
    {"LinkChains", anyone, "ln -s dirty.png l0.png && for i in $(seq 40); do ln -s l$((i - 1)).png l$i.png; done", "scrubhidden l39.png l40.png", 1, "scrubhidden: l40.png: Too many levels of symbolic links\n", "echo ./dirty.png | cmp - $changed"},
    {"LinkedFolderOnTheWay", anyone, "mkdir -p a/b && cp c.png a/b/x.png && ln -s b a/l", "scrubhidden a//l//x.png", 0, "", "echo ./a/b/x.png | cmp - $changed"},
    {"LongLinkTarget", anyone, "ln -s $(printf './%.0s' $(seq 150))dirty.png long.png", "timeout 20 scrubhidden long.png", 0, "", "echo ./dirty.png | cmp - $changed"},
    // A link in a sticky, world-writable folder is followed only for its
    // owner or the folder's, be it the last name or a folder on the way.
    {"OwnLinkInStickyFolder", anyone, "mkdir -m 1777 sh && ln -s ../dirty.png sh/s.png", "stencilcrop c.png s.png sh/", 0, "", "echo ./dirty.png | cmp - $changed && test -L sh/s.png"},
    {"ForeignLinkInStickyFolder", root, "mkdir -m 1777 sh && ln -s ../dirty.png sh/s.png && chown -h 1 sh/s.png", "stencilcrop c.png s.png sh/", 1, "stencilcrop: sh/s.png: Permission denied\n", nothingWritten},
    {"ForeignFolderLinkWrite", root, "mkdir -m 1777 sh && mkdir -m 700 priv && ln -s ../priv sh/out && chown -h 1 sh/out", "stencilcrop c.png s.png sh/out/", 1, "stencilcrop: sh/out/s.png: Permission denied\n", nothingWritten},
    {"ForeignFolderLinkRewrite", root, "mkdir -m 1777 sh && mkdir -m 700 priv && cp c.png priv/secret.png && ln -s ../priv sh/out && chown -h 1 sh/out", "scrubhidden sh/out/secret.png", 1, "scrubhidden: sh/out/secret.png: Permission denied\n", nothingWritten},
    // A new output in a sticky folder is made; another user's file there, named to be rewritten, is rewritten and stays theirs.
    {"NewOutputInStickyFolder", anyone, "mkdir -m 1777 sh", "stencilcrop c.png s.png sh/", 0, "", "echo ./sh/s.png | cmp - $changed"},
    {"ForeignFileRewritten", root, "mkdir -m 1777 sh && cp c.png sh/x.png && chown 1 sh/x.png", "scrubhidden sh/x.png", 0, "", "echo ./sh/x.png | cmp - $changed && stat -c %u sh/x.png | grep -qx 1"},
    {"ForeignLinkAsInput", root, "mkdir -m 1777 sh && ln -s ../c.png sh/in.png && chown -h 1 sh/in.png", "stencilcrop sh/in.png s.png new/", 1, "stencilcrop: sh/in.png: Permission denied\n", nothingWritten},
    {"LinkToFileWithSlash", anyone, "ln -s dirty.png/ l.png", "scrubhidden l.png", 1, "scrubhidden: l.png: Not a directory\n", nothingWritten},
    // Another user's file where root's output is to go may be a trap.
    {"PlantedOutput", root, "mkdir -m 1777 sh && touch sh/s.png && chmod 666 sh/s.png && chown 1 sh/s.png", "stencilcrop c.png s.png sh/", 1, "stencilcrop: sh/s.png: Permission denied\n", nothingWritten},
    // A folder that would keep the temporary file is refused before one is made.
    {"AppendOnlyFolder", root, "mkdir ao && cp c.png ao/x.png && chattr +a ao", "scrubhidden ao/x.png; s=$?; chattr -a ao; exit $s", 1, "scrubhidden: ao/x.png: the file or its folder is append-only or immutable\n", nothingWritten},
    {"ImmutableFile", root, "chattr +i dirty.png", "scrubhidden dirty.png; s=$?; chattr -i dirty.png; exit $s", 1, "scrubhidden: dirty.png: the file or its folder is append-only or immutable\n", nothingWritten},
    // Jobs go on with the threads the system grants.
    {"FewThreads", root, "mkdir t && cp c.png dirty.png clean.png t/ && chmod 777 t && chmod 666 t/*", "setpriv --reuid=65534 --regid=65534 --clear-groups prlimit --nproc=3 scrubhidden -j 8 t/*.png", 0, "", "printf '%s\\n' ./t/c.png ./t/dirty.png | cmp - $changed"},
    // A signal during the flush, or while the temporary file is being
    // created, removes it and ends the tool as the signal ends it.
    {"SignalDuringFlush", tracer, "", "ulimit -c 0; for s in HUP INT QUIT USR1 USR2 ALRM TERM PIPE; do strace -f -qq -o /dev/null -e inject=fsync:signal=$s scrubhidden dirty.png; echo $?; done 2>/dev/null", 0, "", "printf '%s\\n' 129 130 131 138 140 142 143 141 | cmp - out && " + nothingWritten},
    // (After four files, the worker's count of openat passes any other thread's.)
    // A signal that ends nothing by default, or that the caller ignores, leaves the rewrite to finish.
    {"HarmlessSignals", tracer, "", "for s in WINCH CHLD; do strace -f -qq -o /dev/null -e inject=fsync:signal=$s scrubhidden dirty.png; done; trap '' HUP; cp c.png dirty2.png; strace -f -qq -o /dev/null -e inject=fsync:signal=HUP scrubhidden dirty2.png", 0, "", "printf '%s\\n' ./dirty.png ./dirty2.png | cmp - $changed"},
    {"SignalWhileNaming", tracer, "", "{ timeout -s KILL 20 strace -f -qq -o /dev/null -e trace=linkat -e inject=linkat:signal=USR1 scrubhidden -j 1 clean.png dirty.png; echo $?; } 2>/dev/null", 0, "", "grep -qx 138 out && " + nothingWritten},
    // A kill that cannot be caught, with the new file written but not yet flushed, leaves nothing.
    {"KilledDuringFlush", tracer, "for i in 1 2 3 4 5 6 7 8; do cp c.png h$i.png; done", "{ strace -f -qq -o /dev/null -e inject=fsync:signal=KILL scrubhidden -j 3 h*.png; echo $?; } 2>/dev/null", 0, "", "grep -qx 137 out && " + nothingWritten},
    // Where a file cannot be made without a name, it gets one at once, and a signal still removes it.
    {"NamedTemporary", tracer, "cp dirty.png probe.png && strace -f -e trace=openat -o /dev/stdout scrubhidden -j 1 clean.png probe.png | awk '{ n[$1]++ } /O_TMPFILE/ { print n[$1]; exit }' >when && rm probe.png", "{ strace -f -qq -o /dev/null -e inject=openat:error=EOPNOTSUPP:when=$(cat when) -e inject=fsync:signal=TERM scrubhidden -j 1 clean.png dirty.png; echo $?; strace -f -qq -e trace=openat -e inject=openat:error=EOPNOTSUPP:when=$(cat when) -o /dev/stdout scrubhidden -j 1 clean.png a.b.png | grep O_EXCL; } 2>/dev/null", 0, "", "grep -qx 143 out && grep -q '\"[.]a[.]b[.]png[.][0-9a-z]\\{6\\}\", .*O_EXCL.* = [0-9]' out && echo ./a.b.png | cmp - $changed"},
    // Jobs at once print, write and end exactly as one job does.
    {"JobsAsOne", anyone, "for j in 1 10; do mkdir w$j && cp -r *.png w$j/; done", "for j in 1 10; do (cd w$j && scrubhidden --check -j$j $(ls) missing.png >../co$j 2>../ce$j; echo $? >../cs$j; scrubhidden --jobs=$j $(ls | sed p) missing.png >../o$j 2>../e$j; echo $? >../s$j); done", 0, "", "for f in co ce cs o e s; do cmp ${f}1 ${f}10 || exit 1; done && diff -r w1 w10 && grep -qx 2 cs1 && grep -qx 1 s1 && test -s co1 && grep -q missing.png e1"},
    {"JobCount", anyone, "", "scrubhidden --jobs 1x dirty.png; scrubhidden -j 0 dirty.png", 2, "scrubhidden: the job count must be a whole number from 1: 1x\nscrubhidden: the job count must be a whole number from 1: 0\n", nothingWritten},
    // Names that would forge lines are quoted, or written raw with -z.
    {"QuotedNames", anyone, "for f in 'a\nb.png' 'q\"x.png' 'b\\s.png' 'é.png'; do cp c.png \"$f\"; done", "scrubhidden --check 'a\nb.png' 'q\"x.png' 'b\\s.png' 'é.png' 'mi\nss.png'", 2, "scrubhidden: \"mi\\nss.png\": No such file or directory\n", nothingWritten + " && printf '\"a\\\\nb.png\"\\n\"q\\\\\"x.png\"\\n\"b\\\\\\\\s.png\"\\n\\303\\251.png\\n' | cmp - out"},
    {"NullList", anyone, "for f in 'a\nb.png' 'q\"x.png' 'b\\s.png' 'é.png'; do cp c.png \"$f\"; done", "scrubhidden -z --check 'a\nb.png' 'q\"x.png' clean.png 'b\\s.png' 'é.png'", 1, "", nothingWritten + " && printf 'a\\nb.png\\0q\"x.png\\0b\\\\s.png\\0\\303\\251.png\\0' | cmp - out"},
    {"SignalDuringJobs", tracer, "for i in 1 2 3 4 5 6 7 8; do cp c.png h$i.png; done", "{ strace -f -qq -o /dev/null -e inject=fsync:signal=TERM:when=1 scrubhidden -j 3 h*.png; echo $?; } 2>/dev/null", 0, "", "grep -qx 143 out && { scrubhidden --check h*.png >/dev/null; test $? -lt 2; } && ! grep -q '/[.]' $changed"},
    // A name as long as names go still gets a temporary name beside it.
    // A longer name is cut for it on a whole character, and no shorter; a name
    // that starts inside a character keeps none of it.
    {"TemporaryNameCut", tracer, "cp c.png $(printf '%063dé.png' 0) && cp c.png $(printf '%064dé.png' 0) && cp c.png $(printf '\\200%.0s' $(seq 70)).png", "strace -f -qq -s 99 -e trace=linkat -o /dev/stdout scrubhidden [!a-z]*.png", 0, "", "grep -q '\"[.]0\\{63\\}[.][0-9a-z]\\{6\\}\"' out && grep -q '\"[.]0\\{64\\}[.][0-9a-z]\\{6\\}\"' out && grep -q '\"[.][.][0-9a-z]\\{6\\}\"' out"},
    {"LongName", anyone, "cp c.png $(printf '%0251d.png' 0)", "scrubhidden 0*.png -j 2", 0, "", "printf './%0251d.png\\n' 0 | cmp - $changed"},
    // Another user is refused what the folder does not allow them.
    {"OtherUserReadOnlyFolder", root, "mkdir ro && cp c.png ro/x.png && chmod 666 ro/x.png && chmod 555 ro", "setpriv --reuid=65534 --regid=65534 --clear-groups scrubhidden ro/x.png", 1, "scrubhidden: ro/x.png: Permission denied\n", nothingWritten},
    {"ReadOnlyMount", mounts, "mkdir ro && cp c.png ro/x.png", "unshare -m sh -c 'mount --bind -o ro ro ro && scrubhidden ro/x.png'", 1, "scrubhidden: ro/x.png: Read-only file system\n", nothingWritten},
    // The file becomes theirs, as a copy would, but keeps a group of theirs.
    {"OtherUserKeepsGroup", root, "mkdir rw && cp c.png rw/x.png && chgrp 100 rw/x.png && chmod 666 rw/x.png && chmod 777 rw", "setpriv --reuid=65534 --regid=65534 --groups=100 scrubhidden rw/x.png", 0, "", "test \"$(stat -c '%u %g %a' rw/x.png)\" = '65534 100 666'"},
    {"OtherUserReadOnlyFile", root, "mkdir rw && cp c.png rw/x.png && chmod 444 rw/x.png && chmod 777 rw", "setpriv --reuid=65534 --regid=65534 --clear-groups scrubhidden rw/x.png", 1, "scrubhidden: rw/x.png: Permission denied\n", nothingWritten},
    // A flush that fails is reported, and the file is left as it was.
    {"FlushFails", tracer, "", "strace -f -qq -o /dev/null -e inject=fsync:error=EIO scrubhidden dirty.png", 1, "scrubhidden: dirty.png: Input/output error\n", nothingWritten},
    // A descriptor left open for each file would run out here.
    {"ManyFilesFewDescriptors", anyone, "", "ulimit -n 12; scrubhidden $(yes clean.png | head -n 20)", 0, "", nothingWritten},
    // A mistyped option is refused before anything is read; "--" ends the options, so that a name may start with "-".
    {"UnknownOptions", anyone, "", "for a in -check --CHECK -; do scrubhidden $a dirty.png; echo $?; done; stencilcrop c.png s.png new/ --bx", 2, "scrubhidden: unknown option: -check\n" + scrubUsage + "scrubhidden: unknown option: --CHECK\n" + scrubUsage + "scrubhidden: unknown option: -\n" + scrubUsage + "stencilcrop: unknown option: --bx\n" + usage, nothingWritten + " && printf '2\\n2\\n2\\n' | cmp - out"},
    {"OptionsEnd", anyone, "", "stencilcrop -- c.png s.png -a && scrubhidden -- --check dirty.png", 0, "", "printf '%s\\n' ./-as.png ./dirty.png | cmp - $changed"},
    // Wildcards that matched several files would shift the operands.
    {"MoreThanThreeOperands", anyone, "", "stencilcrop --box c.png s*.png new/", 2, "stencilcrop: more than three operands: a wildcard may have matched several files\n" + usage, nothingWritten + " && ! test -s out"},
    // Each line is out as it is written, so both streams keep their order in one file.
    {"LinesInOrder", anyone, "", "scrubhidden --check -j 2 dirty.png bad.png c.png 2>&1", 2, "", "printf 'dirty.png\\nscrubhidden: bad.png: not a PNG file\\nc.png\\n' | cmp - out"},
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.command; }

class Commands : public ::testing::TestWithParam<Row> {};
const bool sanitized = TOOLS_SANITIZED;

// Fills dir with the corpus and a few files made from it: c.png and its
// copies hold colour behind transparent pixels; clean.png has transparent
// pixels, all black; ibasn6a16.png writes more than 512 bytes.
void makeSamples(const std::string& dir)
{
    ASSERT_EQ(std::system(("rm -rf " + dir + " && mkdir -p " + dir + " && cp " + CORPUS_DIR + "/*.png " + dir).c_str()), 0);
    lodepng::encode(dir + "small.png", std::vector<unsigned char>(32 * 2 * 4, 255), 32, 2);
    lodepng::encode(dir + "clear.png", std::vector<unsigned char>(32 * 32 * 4, 0), 32, 32);
    ASSERT_EQ(std::system(("set -e; cd " + dir + R"(; mkdir new dir.png && touch empty.png && cp basn4a08.png s.png
        cp basn6a08.png c.png && cp ftbbn0g01.png clean.png && touch -d @0 clean.png
        head -c 40 c.png >cut.png && head -c 40 /dev/zero >bad.png && cp c.png crc.png
        printf '\377' | dd of=crc.png bs=1 seek=60 conv=notrunc 2>/dev/null
        for f in dirty.png a.b.png d.PNG d.png.bak 'rev.2\d' d; do cp c.png "$f"; done)").c_str()), 0);
}
} // namespace

TEST_P(Commands, StatusMessagesAndFiles)
{
    const Row& r = GetParam();
    const std::string dir = ::testing::TempDir() + "row-" + r.name + "/", cd = "cd " + dir + " && PATH=" + BIN_DIR + ":$PATH && ";
    if (r.needs == root && geteuid() != 0)
        GTEST_SKIP() << "needs root, to act as another user or set attributes only root may";
    if (r.needs == tracer && std::system("strace -o /dev/null true 2>/dev/null") != 0)
        GTEST_SKIP() << "needs strace, allowed to trace, to send a signal at a chosen system call";
    if (r.needs == mounts && std::system("unshare -m true 2>/dev/null") != 0)
        GTEST_SKIP() << "needs root and a mount namespace of its own, to make a read-only folder";
    if (r.needs == plainMemory && sanitized)
        GTEST_SKIP() << "an address-space limit leaves no room for the sanitizer's shadow memory";
    // A leak check cannot run under a tracer.
    const std::string traced = r.needs == tracer ? "ASAN_OPTIONS=$ASAN_OPTIONS:detect_leaks=0 && export ASAN_OPTIONS && " : "";
    // What is in the folder: each file's kind, size, time and mode, and each
    // folder's mode, since a temporary file made and removed changes its time.
    const std::string look = "find . -mindepth 1 -path ./out -prune -o -path ./err -prune -o -type d -printf '%p %m\\n' "
                             "-o -printf '%p %y %s %T@ %m\\n' | sort >";
    makeSamples(dir);
    if (r.needs == acls && std::system(("setfacl -m u:4321:r " + dir + " 2>/dev/null && setfacl -b " + dir).c_str()) != 0)
        GTEST_SKIP() << "needs setfacl and a file system with ACLs";
    ASSERT_EQ(std::system((cd + "{ true\n" + r.setup + "\n} && " + look + "../" + r.name + ".before").c_str()), 0) << r.setup;
    const int status = std::system((cd + traced + "(" + r.command + ") >out 2>err").c_str());
    ASSERT_EQ(std::system((cd + look + "../" + r.name + ".after && diff ../" + r.name + ".before ../" + r.name +
                           ".after | sed -n 's/^[<>] \\([^ ]*\\) .*/\\1/p' | sort -u >../" + r.name + ".changed").c_str()), 0);
    std::vector<unsigned char> errors;
    lodepng::load_file(errors, dir + "err");
    EXPECT_EQ(WEXITSTATUS(status), r.status) << r.command;
    EXPECT_EQ(std::string(errors.begin(), errors.end()), r.errors) << r.command;
    EXPECT_EQ(std::system((cd + "changed=../" + r.name + ".changed && (" + r.after + ")").c_str()), 0) << r.command << "\n" << r.after;
}

INSTANTIATE_TEST_SUITE_P(Rows, Commands, ::testing::ValuesIn(rows), [](const auto& info) { return info.param.name; });
