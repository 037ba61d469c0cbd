#!/usr/bin/env python3
"""Zip archives for the updater tests, including ones no honest archiver would make.

  zip_tool.py pack SRC_DIR OUT.zip [SRC_DIR OUT.zip]...   every file and folder under SRC_DIR, modes kept
  zip_tool.py unpack ZIP DIR
  zip_tool.py evil KIND OUT.zip [KIND OUT.zip]...         KIND: dotdot, absolute, symlink, duplicate
(several archives in one run: a Python start is most of the time an archive takes)
"""
import os
import stat
import sys
import zipfile


def pack(src, out):
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as z:
        for root, dirs, files in os.walk(src):
            dirs.sort()
            for name in sorted(dirs) + sorted(files):
                full = os.path.join(root, name)
                rel = os.path.relpath(full, src)
                if os.path.isdir(full):
                    info = zipfile.ZipInfo(rel + "/")
                    info.external_attr = (stat.S_IFDIR | 0o755) << 16
                    z.writestr(info, b"")
                else:
                    z.write(full, rel)


def unpack(archive, dest):
    with zipfile.ZipFile(archive) as z:
        for info in z.infolist():
            target = os.path.join(dest, info.filename)
            if info.filename.endswith("/"):
                os.makedirs(target, exist_ok=True)
                continue
            os.makedirs(os.path.dirname(target), exist_ok=True)
            with open(target, "wb") as f:
                f.write(z.read(info))
            os.chmod(target, (info.external_attr >> 16) & 0o777 or 0o644)


def evil(kind, out):
    with zipfile.ZipFile(out, "w") as z:
        z.writestr("Norvo.app/norvo", "#!/bin/sh\n")
        if kind == "dotdot":
            z.writestr("Norvo.app/../../escaped", "x")
        elif kind == "absolute":
            z.writestr("/tmp/norvo-absolute-escape", "x")
        elif kind == "symlink":
            info = zipfile.ZipInfo("Norvo.app/link")
            info.external_attr = (stat.S_IFLNK | 0o777) << 16
            z.writestr(info, "/etc")
        elif kind == "duplicate":
            z.writestr("Norvo.app/norvo", "#!/bin/sh\necho second\n")
        else:
            raise SystemExit("unknown kind " + kind)


if __name__ == "__main__":
    cmd, args = sys.argv[1], sys.argv[2:]
    if cmd == "unpack":
        unpack(*args)
    elif cmd in ("pack", "evil"):
        for first, out in zip(args[::2], args[1::2]):
            (pack if cmd == "pack" else evil)(first, out)
    else:
        raise SystemExit("unknown command " + cmd)
