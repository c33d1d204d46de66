#!/usr/bin/env python3
"""Builds the small fixed tree that compare_replies.sh runs the request
scripts on: every kind of object the scan meets, with fixed contents and
modification times, so two engine builds can be compared reply by reply.

Usage: make_reply_tree.py DIR   (DIR must not exist)
"""
import os
import sys

OLD = 1_600_000_000  # a fixed modification time, old enough for the hash cache


def write(root, relative, data):
    path = os.path.join(root, relative)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    return path


def block(seed, size):
    pattern = bytes((seed * 31 + i * 7) % 251 for i in range(4096))
    return (pattern * (size // len(pattern) + 1))[:size]


def main():
    root = os.fsencode(sys.argv[1])
    os.makedirs(root)
    # Duplicates: three groups, one with a copy whose samples match but whose
    # middle differs, a pair of empty files and copies below the minimum.
    for i, size in enumerate([300_000, 70_000, 5_000]):
        content = block(i, size)
        for copy in range(3 - (i == 2)):
            write(root, b"dups/group%d/copy%d.bin" % (i, copy), content)
    near = bytearray(block(0, 300_000))
    near[100_000] ^= 0xFF
    write(root, b"dups/group0/near-copy.bin", bytes(near))
    write(root, b"dups/empty-a", b"")
    write(root, b"dups/empty-b", b"")
    write(root, b"dups/small-a", b"tiny")
    write(root, b"dups/small-b", b"tiny")
    write(root, b"dups/.DS_Store", block(9, 6_000))
    write(root, b"dups/sub/.DS_Store", block(9, 6_000))
    # Hard links: a linked copy of duplicate content, and a link across directories.
    linked = write(root, b"links/original.bin", block(1, 70_000))
    os.link(linked, os.path.join(root, b"links/second-name.bin"))
    os.makedirs(os.path.join(root, b"links/elsewhere"))
    os.link(linked, os.path.join(root, b"links/elsewhere/third-name.bin"))
    # Symbolic links: to a file, to a directory, dangling, to the root.
    os.symlink(b"../dups/group1/copy0.bin", os.path.join(root, b"links/to-file"))
    os.symlink(b"../dups", os.path.join(root, b"links/to-dir"))
    os.symlink(b"no/such/target", os.path.join(root, b"links/dangling"))
    os.symlink(b"..", os.path.join(root, b"links/up"))
    # Hidden files stay; hidden directories only with includeHidden.
    write(root, b".hidden-file", b"hidden bytes")
    write(root, b".hidden-dir/inside.txt", b"inside a hidden directory")
    write(root, b"visible/.dotfile", b"dot")
    # Names that are not UTF-8, for a file and a directory with a subtree.
    write(root, b"names/bad\xff-file.txt", b"bad name")
    write(root, b"names/dir\xfe/inner\xc3/file.c", block(2, 2_000))
    write(root, b"names/caf\xc3\xa9 report.jpg", block(3, 30_000))
    write(root, b"names/UPPER REPORT.MP4", block(4, 40_000))
    # Many children (several pages) and sizes that tie.
    for i in range(450):
        write(root, b"flat-directory/file-%03d.txt" % i, block(5, 100 + (i % 7) * 10))
    # Large sparse files for the "large" listing and mode.
    for name, size in [(b"big/sparse-120m.img", 120 * 1024 * 1024), (b"big/sparse-12m.mov", 12 * 1024 * 1024)]:
        path = write(root, name, b"start")
        os.truncate(path, size)
    write(root, b"big/real-11m.zip", block(6, 11 * 1024 * 1024))
    # A fifo is neither file nor directory: skipped.
    os.mkfifo(os.path.join(root, b"visible/fifo"))
    write(root, b"empty-dir/.keep-nothing", b"")
    os.remove(os.path.join(root, b"empty-dir/.keep-nothing"))
    # Fixed times, deepest first so a directory's time is not touched afterwards.
    for directory, dirs, files in os.walk(root, topdown=False):
        for name in files + dirs:
            os.utime(os.path.join(directory, name), (OLD, OLD), follow_symlinks=False)
    os.utime(root, (OLD, OLD))


if __name__ == "__main__":
    main()
