#!/usr/bin/python3
"""A FUSE file system over a folder that fails on demand, as network and FUSE mounts do.

    faultfs.py FOLDER MOUNTPOINT [-o fail=OP:ERRNO[,fail=...]][,noblocks][,rate=BYTES]

OP is flush (the close), fsync, write or create; ERRNO a name such as EIO or ENOSPC. noblocks
reports every file as taking no space (st_blocks 0), a figure that lies. rate limits writes to
BYTES a second, as a slow stick or share does. Like most FUSE file systems it has no anonymous
files. Faults change while mounted: write lines such as "flush=EIO" (or "flush=" to heal) to
the control file .faultfs at the mount's root; "hold=1" makes every read and write wait until
"hold=", as a file system that stops answering does; "holdcreate=1" every create.
"""

import errno
import os
import sys
import threading
import time

import fuse

fuse.fuse_python_api = (0, 2)

CONTROL = "/.faultfs"


class Faults:
    def __init__(self):
        self.fail = {}
        self.hold = False
        self.holdcreate = False
        self.noblocks = False
        self.rate = 0
        self.lock = threading.Lock()
        self.due = 0.0

    def set(self, line):
        op, _, name = line.strip().partition("=")
        if op in ("hold", "holdcreate"):
            setattr(self, op, bool(name))
        elif name:
            self.fail[op] = getattr(errno, name)
        else:
            self.fail.pop(op, None)

    def check(self, op):
        code = self.fail.get(op)
        if code:
            raise OSError(code, os.strerror(code))

    def pace(self, size):
        if not self.rate:
            return
        # Time idle is no credit: a device writes no faster after a pause.
        with self.lock:
            self.due = max(self.due, time.monotonic()) + size / self.rate
            due = self.due
        delay = due - time.monotonic()
        if delay > 0:
            time.sleep(delay)


class FaultFs(fuse.Fuse):
    def __init__(self, *args, **kw):
        super().__init__(*args, **kw)
        self.faults = Faults()
        self.root = None
        fs = self

        class File:
            def __init__(self, path, flags, *mode):
                if path == CONTROL:
                    self.fd = None
                    return
                if flags & os.O_CREAT:
                    fs.faults.check("create")
                    while fs.faults.holdcreate:
                        time.sleep(0.01)
                self.fd = os.open(fs.real(path), flags, *mode)

            def read(self, size, offset):
                while fs.faults.hold:
                    time.sleep(0.01)
                return os.pread(self.fd, size, offset)

            def write(self, data, offset):
                if self.fd is None:
                    for line in data.decode().splitlines():
                        fs.faults.set(line)
                    return len(data)
                fs.faults.check("write")
                while fs.faults.hold:
                    time.sleep(0.01)
                fs.faults.pace(len(data))
                return os.pwrite(self.fd, data, offset)

            def ftruncate(self, size):
                if self.fd is not None:
                    os.ftruncate(self.fd, size)

            def fgetattr(self):
                return fs.stat(os.fstat(self.fd)) if self.fd is not None else fs.getattr(CONTROL)

            def flush(self):
                if self.fd is not None:
                    fs.faults.check("flush")

            def fsync(self, datasync):
                fs.faults.check("fsync")
                os.fdatasync(self.fd) if datasync else os.fsync(self.fd)

            def release(self, flags):
                if self.fd is not None:
                    os.close(self.fd)

        self.file_class = File

    def real(self, path):
        return self.root + path

    def stat(self, info):
        out = fuse.Stat()
        for key in ("st_mode", "st_ino", "st_nlink", "st_uid", "st_gid", "st_size",
                    "st_atime", "st_mtime", "st_ctime"):
            setattr(out, key, getattr(info, key))
        out.st_blocks = 0 if self.faults.noblocks else info.st_blocks
        return out

    def getattr(self, path):
        if path == CONTROL:
            out = fuse.Stat()
            out.st_mode, out.st_nlink = 0o100600, 1
            return out
        return self.stat(os.lstat(self.real(path)))

    def readdir(self, path, offset):
        for name in [".", ".."] + os.listdir(self.real(path)):
            yield fuse.Direntry(name)

    def readlink(self, path):
        return os.readlink(self.real(path))

    def mkdir(self, path, mode):
        os.mkdir(self.real(path), mode)

    def rmdir(self, path):
        os.rmdir(self.real(path))

    def unlink(self, path):
        os.unlink(self.real(path))

    def symlink(self, target, path):
        os.symlink(target, self.real(path))

    def link(self, target, path):
        os.link(self.real(target), self.real(path))

    def rename(self, old, new):
        os.rename(self.real(old), self.real(new))

    def chmod(self, path, mode):
        os.chmod(self.real(path), mode)

    def chown(self, path, uid, gid):
        os.chown(self.real(path), uid, gid)

    def truncate(self, path, size):
        if path != CONTROL:
            os.truncate(self.real(path), size)

    def utimens(self, path, atime, mtime):
        os.utime(self.real(path), ns=(atime.tv_sec * 10**9 + atime.tv_nsec,
                                      mtime.tv_sec * 10**9 + mtime.tv_nsec))

    def access(self, path, mode):
        if path != CONTROL and not os.access(self.real(path), mode):
            return -errno.EACCES

    def statfs(self):
        return os.statvfs(self.root)

    def main(self, *args, **kw):
        self.root = os.path.abspath(self.cmdline[1][0])
        for item in (getattr(self, "fail", None) or "").split("+"):
            if item:
                self.faults.set(item.replace(":", "="))
        self.faults.noblocks = bool(getattr(self, "noblocks", None))
        self.faults.rate = int(getattr(self, "rate", None) or 0)
        return super().main(*args, **kw)


def run():
    server = FaultFs(version="%prog 1", usage=__doc__, dash_s_do="setsingle")
    server.parser.add_option(mountopt="fail", metavar="OP:ERRNO[+OP:ERRNO]")
    server.parser.add_option(mountopt="noblocks", action="store_true")
    server.parser.add_option(mountopt="rate", metavar="BYTES")
    server.parse(values=server, errex=1)
    if len(server.cmdline[1]) != 1:
        sys.exit(__doc__)
    server.main()


if __name__ == "__main__":
    run()
