# SPDX-License-Identifier: MIT
"""A QEMU guest with real Linux serial drivers, built from Debian's own packages.

The guest runs Debian's kernel with the 8250 driver on an emulated 16550 (/dev/ttyS1) and
ftdi_sio on an emulated FTDI adapter behind xHCI (/dev/ttyUSB0). Its console, the monitor
and both ports are chardevs of the host, so a test drives the guest's shell, plugs and pulls
the adapter, and plays the boards from outside the guest, while QEMU's trace shows what the
drivers did to the lines.

Standard library only. Every wait has a time limit; a failure carries the console's tail.
"""
import lzma
import os
import re
import shutil
import socket
import subprocess
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(os.path.dirname(HERE))

PACKAGES = ["qemu-system-x86", "busybox-static"]
KERNEL_META = "linux-image-amd64"
# Loaded in this order: each needs only those before it (checked against the modules' own
# dependency lists when the initramfs is made).
MODULES = ["usb-common", "usbcore", "xhci-hcd", "xhci-pci", "usbserial", "ftdi_sio"]
TRACE_EVENTS = ["serial_write", "serial_update_parameters", "usb_serial_handle_control",
                "usb_serial_set_baud", "usb_serial_set_flow_control", "usb_serial_set_data"]
# The 16550 under test is the guest's second UART; its scratch register is written by the
# guest to mark the trace (the 8250 driver never touches it after the probe).
UART_BASE = 0x2F8
SCRATCH = 7
FTDI_SERIAL = "PSGUEST01"
GraceS = 15  # how much longer than a guest command's own limit the host waits for its end


class GuestError(Exception):
    pass


class Skip(Exception):
    """The guest cannot be made here (no root to install what it needs, no network)."""


def run(cmd, **kw):
    kw.setdefault("check", True)
    kw.setdefault("stdout", subprocess.PIPE)
    kw.setdefault("stderr", subprocess.STDOUT)
    kw.setdefault("timeout", 600)
    return subprocess.run(cmd, **kw)


def installed(pkg):
    r = subprocess.run(["dpkg-query", "-W", "-f=${Status}", pkg], stdout=subprocess.PIPE,
                       stderr=subprocess.DEVNULL, text=True)
    return "install ok installed" in r.stdout


def ensure_packages():
    missing = [p for p in PACKAGES + ["strace"] if not installed(p)]
    if not missing:
        return
    if os.geteuid() != 0:
        raise Skip("needs root to install " + " ".join(missing))
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    run(["apt-get", "update", "-qq"], env=env)
    run(["apt-get", "install", "-y", "-qq", "--no-install-recommends"] + missing, env=env)


def download(cache, names):
    """apt-get download into cache (nothing is installed, no hooks run)."""
    os.makedirs(cache, exist_ok=True)
    have = os.listdir(cache)
    want = [n for n in names if not any(f.startswith(n + "_") and f.endswith(".deb") for f in have)]
    if want:
        r = run(["apt-get", "download"] + want, cwd=cache, check=False)
        if r.returncode != 0:
            env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
            run(["apt-get", "update", "-qq"], env=env)
            run(["apt-get", "download"] + want, cwd=cache)
    debs = {}
    for n in names:
        found = sorted(f for f in os.listdir(cache) if f.startswith(n + "_") and f.endswith(".deb"))
        debs[n] = os.path.join(cache, found[-1])
    return debs


def kernel_package():
    out = run(["apt-cache", "depends", KERNEL_META], text=True).stdout
    m = re.search(r"Depends: (linux-image-[0-9][^\s]*)", out)
    if not m:
        raise GuestError("no kernel image behind " + KERNEL_META + ":\n" + out)
    return m.group(1)


def extract_vmlinux(bzimage, out):
    """The uncompressed kernel inside a bzImage (an xz stream), for the PVH entry."""
    data = open(bzimage, "rb").read()
    start = data.find(b"\xfd7zXZ\x00")
    while start >= 0:
        try:
            d = lzma.LZMADecompressor(format=lzma.FORMAT_XZ)
            elf = d.decompress(data[start:])
            if elf[:4] == b"\x7fELF":
                with open(out, "wb") as f:
                    f.write(elf)
                return True
        except lzma.LZMAError:
            pass
        start = data.find(b"\xfd7zXZ\x00", start + 1)
    return False


def module_depends(ko):
    data = open(ko, "rb").read()
    m = re.search(rb"depends=([^\x00]*)\x00", data)
    return [d.replace("_", "-") for d in m.group(1).decode().split(",") if d] if m else []


def shared_libraries(binary):
    r = run(["ldd", binary], text=True, check=False)
    libs = []
    for line in r.stdout.splitlines():
        m = re.search(r"(/\S+) \(0x", line)
        if m:
            libs.append(m.group(1))
    return libs


class Cpio:
    """A newc archive, written without root: owners and modes are set in the headers."""

    def __init__(self):
        self.parts = []
        self.ino = 1
        self.seen = set()

    def _entry(self, name, mode, data=b"", nlink=1):
        self.ino += 1
        hdr = "070701" + "".join("%08X" % v for v in (
            self.ino, mode, 0, 0, nlink, 0, len(data), 0, 0, 0, 0, len(name) + 1, 0))
        blob = hdr.encode() + name.encode() + b"\x00"
        blob += b"\x00" * (-len(blob) % 4)
        blob += data + b"\x00" * (-len(data) % 4)
        self.parts.append(blob)

    def dir(self, path):
        path = path.strip("/")
        if not path or path in self.seen:
            return
        self.dir(os.path.dirname(path))
        self.seen.add(path)
        self._entry(path, 0o040755, nlink=2)

    def file(self, path, data, mode=0o644):
        path = path.strip("/")
        self.dir(os.path.dirname(path))
        if path in self.seen:
            return
        self.seen.add(path)
        self._entry(path, 0o100000 | mode, data)

    def copy(self, src, dest=None, mode=None):
        st = os.stat(src)
        self.file(dest or src, open(src, "rb").read(), mode if mode is not None else st.st_mode & 0o777)

    def symlink(self, path, target):
        path = path.strip("/")
        self.dir(os.path.dirname(path))
        if path in self.seen:
            return
        self.seen.add(path)
        self._entry(path, 0o120777, target.encode())

    def binary(self, src, dest=None):
        """A program with the shared libraries it loads, at their own paths."""
        self.copy(src, dest)
        for lib in shared_libraries(src):
            self.copy(os.path.realpath(lib), lib, 0o755)

    def write(self, out):
        self._entry("TRAILER!!!", 0)
        with open(out, "wb") as f:
            f.write(b"".join(self.parts))


INIT = r"""#!/bin/busybox sh
/bin/busybox --install -s /bin
export PATH=/usr/bin:/bin:/usr/sbin:/sbin
mkdir -p /proc /sys /dev /run /tmp
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev
mkdir -p /dev/pts && mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /run
for m in @MODULES@; do insmod /modules/$m.ko || echo "@@MODULE-FAILED $m"; done
if [ -x /lib/systemd/systemd-udevd ]; then
  /lib/systemd/systemd-udevd --daemon --resolve-names=never
  udevadm trigger --action=add
  udevadm settle --timeout=20
fi
exec sh /cmdloop
"""

# One command a line: "<id> <seconds> <shell text>"; the answer is the output between @@B
# and @@E. A command still running after its seconds: its stations get SIGINT (STOP), and
# 5 s later everything it started is killed, so the next command always finds the shell.
CMDLOOP = r"""stty -echo
echo @@READY
while IFS= read -r line; do
  id=${line%% *}; rest=${line#* }; limit=${rest%% *}; cmd=${rest#* }
  echo "@@B $id"
  sh -c "$cmd" </dev/null 2>&1 &
  pid=$!
  ( sleep $limit; echo "@@LIMIT $id"; for p in $(pidof progstation-cli); do kill -INT $p; done
    sleep 5; for p in $(pidof progstation-cli strace) $pid; do kill -KILL $p; done ) 2>/dev/null &
  watchdog=$!
  wait $pid
  rc=$?
  kill $watchdog 2>/dev/null
  echo "@@E $id $rc"
done
"""

# Writes one byte to the scratch register of the 16550 under test: a mark in QEMU's trace.
MARK = r"""#!/bin/sh
printf "\\$(printf %o "$1")" | dd of=/dev/port bs=1 seek=@PORT@ count=1 2>/dev/null
"""


def make_initramfs(out, kernel_root, cli, files):
    """files: {guest path: host path} copied as they are (projects, images)."""
    modroot = os.path.join(kernel_root, "lib/modules")
    release = os.listdir(modroot)[0]
    kos = {}
    for dirpath, _, names in os.walk(os.path.join(modroot, release, "kernel")):
        for n in names:
            if n.endswith(".ko") and n[:-3] in MODULES:
                kos[n[:-3]] = os.path.join(dirpath, n)
    loaded = []
    for m in MODULES:
        if m not in kos:
            raise GuestError("kernel module missing: " + m)
        need = [d for d in module_depends(kos[m]) if d not in loaded]
        if need:
            raise GuestError("module %s needs %s first" % (m, ", ".join(need)))
        loaded.append(m)
    c = Cpio()
    for d in ("proc", "sys", "dev", "run", "tmp", "usr/bin", "sbin", "etc"):
        c.dir(d)
    c.copy("/bin/busybox", "bin/busybox", 0o755)
    c.symlink("bin/sh", "busybox")
    c.file("init", INIT.replace("@MODULES@", " ".join(MODULES)).encode(), 0o755)
    c.file("cmdloop", CMDLOOP.encode(), 0o755)
    c.file("usr/bin/mark", MARK.replace("@PORT@", str(UART_BASE + SCRATCH)).encode(), 0o755)
    c.file("etc/passwd", b"root:x:0:0:root:/:/bin/sh\n")
    c.file("etc/group", b"root:x:0:\ndialout:x:20:\n")
    for m in MODULES:
        c.copy(kos[m], "modules/%s.ko" % m, 0o644)
    c.binary(cli, "usr/bin/progstation-cli")
    c.binary(shutil.which("strace"), "usr/bin/strace")
    udev = os.path.join(os.path.dirname(kernel_root), "udev")
    if os.path.isdir(udev):
        c.binary(os.path.join(udev, "bin/udevadm"), "bin/udevadm")
        c.symlink("lib/systemd/systemd-udevd", "/bin/udevadm")
        c.copy(os.path.join(udev, "lib/udev/rules.d/60-serial.rules"),
               "lib/udev/rules.d/60-serial.rules")
    for dest, src in sorted(files.items()):
        c.copy(src, dest)
    c.write(out)


class Guest:
    """One booted guest: console shell, monitor, trace."""

    def __init__(self, work, kernel, initrd, uart_tty, ftdi_tty, pvh=True):
        self.work = work
        self.trace_path = os.path.join(work, "trace.log")
        self.console_sock = os.path.join(work, "console.sock")
        self.monitor_sock = os.path.join(work, "monitor.sock")
        for p in (self.trace_path, self.console_sock, self.monitor_sock):
            if os.path.exists(p):
                os.unlink(p)
        events = os.path.join(work, "trace-events")
        with open(events, "w") as f:
            f.write("\n".join(TRACE_EVENTS) + "\n")
        self.args = [
            "qemu-system-x86_64", "-M", "pc", "-accel", "tcg", "-m", "256", "-smp", "1",
            "-nodefaults", "-no-user-config", "-display", "none", "-no-reboot",
            "-kernel", kernel, "-initrd", initrd,
            "-append", "console=ttyS0 quiet loglevel=3 panic=-1 8250.nr_uarts=4 usbcore.autosuspend=-1",
            "-chardev", "socket,id=con,path=%s,server=on,wait=on" % self.console_sock,
            "-serial", "chardev:con",
            "-chardev", "serial,id=uart,path=" + uart_tty,
            "-serial", "chardev:uart",
            "-device", "qemu-xhci,id=xhci",
            "-chardev", "serial,id=ftdi0,path=" + ftdi_tty,
            "-device", "usb-serial,bus=xhci.0,chardev=ftdi0,id=ftdi,serial=" + FTDI_SERIAL,
            "-monitor", "unix:%s,server=on,wait=off" % self.monitor_sock,
            "-trace", "events=%s,file=%s" % (events, self.trace_path),
        ]
        self.console = b""
        self.seq = 0
        self.mark_no = 0
        self.trace_pos = 0
        self.chardevs = 1
        log = open(os.path.join(work, "qemu.log"), "wb")
        self.proc = subprocess.Popen(self.args, stdout=log, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL)
        self.con = None
        try:
            self.con = self._connect(self.console_sock)
            self.read_until(b"@@READY", 60)
        except BaseException:
            self.proc.kill()
            self.proc.wait(10)
            if self.con:
                self.con.close()
            raise

    def _connect(self, path, limit=20):
        deadline = time.monotonic() + limit
        while True:
            if self.proc.poll() is not None:
                raise GuestError("QEMU ended: " + self.qemu_log())
            try:
                s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
                s.connect(path)
                return s
            except OSError:
                s.close()
                if time.monotonic() > deadline:
                    raise GuestError("no socket " + path)
                time.sleep(0.05)

    def qemu_log(self):
        try:
            with open(os.path.join(self.work, "qemu.log"), errors="replace") as f:
                return f.read()[-2000:]
        except OSError:
            return ""

    def tail(self, n=3000):
        return self.console[-n:].decode(errors="replace")

    def read_until(self, pattern, limit, start=0):
        """Console bytes until the regex pattern matches after start; returns the match."""
        rx = re.compile(pattern) if isinstance(pattern, bytes) else pattern
        deadline = time.monotonic() + limit
        while True:
            m = rx.search(self.console, start)
            if m:
                return m
            left = deadline - time.monotonic()
            if left <= 0 or self.proc.poll() is not None:
                raise GuestError("console: no %r within %s s\n--- console tail ---\n%s\n%s"
                                 % (rx.pattern, limit, self.tail(), self.qemu_log()))
            self.con.settimeout(min(left, 0.5))
            try:
                data = self.con.recv(65536)
            except socket.timeout:
                continue
            if not data:
                raise GuestError("console closed\n" + self.tail())
            self.console += data.replace(b"\r", b"")

    def start(self, cmd, limit=60):
        """Sends a command that the guest ends after limit seconds; returns a handle for
        finish()."""
        if "\n" in cmd or len(cmd) > 3500:
            raise GuestError("command must be one short line")
        self.seq += 1
        self.con.sendall(("%d %d %s\n" % (self.seq, limit, cmd)).encode())
        return self.seq, len(self.console), limit

    def finish(self, handle):
        seq, pos, limit = handle
        m = self.read_until(b"@@E %d (\\d+)\n" % seq, limit + GraceS, pos)
        b = self.read_until(b"@@B %d\n" % seq, 1, pos)
        return int(m.group(1)), self.console[b.end():m.start()].decode(errors="replace")

    def sh(self, cmd, limit=60):
        return self.finish(self.start(cmd, limit))

    def check(self, cmd, limit=60):
        rc, out = self.sh(cmd, limit)
        if rc != 0:
            raise GuestError("guest command failed (%d): %s\n%s\n--- console tail ---\n%s"
                             % (rc, cmd, out, self.tail()))
        return out

    def monitor(self, cmd, limit=10):
        s = self._connect(self.monitor_sock, limit)

        def prompt():
            buf = b""
            while not buf.endswith(b"(qemu) "):
                chunk = s.recv(4096)
                if not chunk:
                    break
                buf += chunk
            return buf

        try:
            s.settimeout(limit)
            prompt()
            s.sendall(cmd.encode() + b"\n")
            buf = prompt()
            # The monitor echoes the command line first; its answer follows on new lines.
            text = buf.decode(errors="replace").replace("\r", "")
            return text.split("\n", 1)[1].rsplit("\n", 1)[0] if "\n" in text else ""
        finally:
            s.close()

    def mark(self):
        """A fresh value for the guest's `mark` before a run; the run's end is marked with
        the value + 1 (see segment() of the test)."""
        self.mark_no = self.mark_no % 200 + 2
        return self.mark_no - 1

    def trace_lines(self):
        with open(self.trace_path, errors="replace") as f:
            return f.read().splitlines()

    def stop(self):
        if self.proc.poll() is None:
            try:
                self.monitor("quit", 5)
            except Exception:
                pass
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(10)
        self.con.close()


class Board:
    """A boardsim of the build on a pseudo-terminal of the host."""

    started = []

    def __init__(self, boardsim, spec, log):
        self.spec = spec
        self.proc = subprocess.Popen([boardsim, "--log", log, spec], stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        Board.started.append(self)
        deadline = time.monotonic() + 20
        line = b""
        os.set_blocking(self.proc.stdout.fileno(), False)
        while b"\n" not in line:
            if time.monotonic() > deadline or self.proc.poll() is not None:
                self.stop()
                raise GuestError("boardsim %s gave no port: %r" % (spec, line))
            chunk = self.proc.stdout.read()
            if chunk:
                line += chunk
            else:
                time.sleep(0.02)
        m = re.search(rb"port: (\S+)", line)
        if not m:
            self.stop()
            raise GuestError("boardsim %s: %r" % (spec, line))
        self.tty = m.group(1).decode()

    @staticmethod
    def stop_all():
        for b in Board.started:
            b.stop()

    def stop(self):
        if self.proc.stdout.closed:
            return
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(10)
        self.proc.stdout.close()


def prepare(build, cache):
    """Kernel (vmlinux for PVH, else the bzImage) and udev unpacked under cache."""
    ensure_packages()
    kpkg = kernel_package()
    debs = download(cache, [kpkg, "udev"])
    root = os.path.join(cache, "root")
    stamp = os.path.join(root, "kernel", ".from")
    if not os.path.exists(stamp) or open(stamp).read() != debs[kpkg]:
        shutil.rmtree(root, ignore_errors=True)
        os.makedirs(root)
        run(["dpkg-deb", "-x", debs[kpkg], os.path.join(root, "kernel")])
        run(["dpkg-deb", "-x", debs["udev"], os.path.join(root, "udev")])
        with open(stamp, "w") as f:
            f.write(debs[kpkg])
    boot = os.path.join(root, "kernel", "boot")
    bz = os.path.join(boot, [n for n in os.listdir(boot) if n.startswith("vmlinuz-")][0])
    vmlinux = os.path.join(cache, "vmlinux")
    if not os.path.exists(vmlinux) and not extract_vmlinux(bz, vmlinux):
        vmlinux = None
    return os.path.join(root, "kernel"), vmlinux, bz
