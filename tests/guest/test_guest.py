# SPDX-License-Identifier: MIT
"""The station on real Linux serial drivers: the 8250 on a 16550 and ftdi_sio on an FTDI.

Run as root after a build: python3 tests/guest/test_guest.py --build build
Boots a QEMU guest once (software emulation), plays the boards from this machine with
boardsim, and checks what the drivers did from outside the station: QEMU's trace of the
UART's modem-control register and the FTDI's control requests, the guest's stty, strace
and sysfs.
"""
import argparse
import os
import re
import shutil
import signal
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # keep the source folder clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import guestlib as g  # noqa: E402

BY_ID = "/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_%s-if00-port0" % g.FTDI_SERIAL
PORTS = {"uart": "/dev/ttyS1", "ftdi": BY_ID}
OK_TEXT = "ok!"
CHECKSUM_OK = "check sum OK"
# One example per family, the first of each played through both drivers.
FAMILIES = ["atmel", "intel-loader-ram", "sharc-split", "91360-loader", "motorola"]
INI = "[INIT]\r\nVersion=3\r\nSelectedFile=1\r\n\r\n[PROJECTS]\r\nProject1=1~001~UPGRADE~upgrade.cfg~\r\n"
LINE_CASES = [("DTR1", "RTS1"), ("DTR0", "RTS0"), ("RTS1", "DTR1"), ("RTS0", "DTR0")]
RATES = [115200, 9600, 7200]

G = None        # the guest
BOARDS = {}     # port -> boardsim
OPTS = None


def step_file(lines):
    return "".join(l + "\r\n" for l in lines).encode()


def line_step(boot, reset):
    """A step without a model or image: boot line, reset pulse, automatic reset."""
    return step_file(["/BaudRate=115200", "/BOOTSIGNAL=" + boot, "/RESETSIGNAL=" + reset,
                      "/BOOT", "/RESET", "/AUTORESET", "/AUTOCONTINUE"])


def expected_levels(boot, reset):
    """(DTR, RTS) after each change, from the open to after the close, for a step with
    /BOOT, /RESET and /AUTORESET: the driver asserts both lines at the open, the boot line
    and the reset pulse follow their tables, and the close keeps the last levels."""
    lv = {"DTR": 1, "RTS": 1}
    seq = [(1, 1)]

    def put(line, level):
        lv[line] = level
        seq.append((lv["DTR"], lv["RTS"]))

    b, bl = boot[:3], int(boot[3])
    r, rl = reset[:3], int(reset[3])
    put(b, bl)              # /BOOT: boot level
    put(r, rl)              # /RESET: first phase
    put(r, 1 - rl)          # second phase
    put(b, 1 - bl)          # /AUTORESET: run level
    put(r, rl)
    put(r, 1 - rl)
    put(b, 1 - bl)          # end of run: the boot line released
    return collapse(seq)


def collapse(seq):
    out = []
    for s in seq:
        if not out or out[-1] != s:
            out.append(s)
    return out


def segment(lines, mark):
    """The trace lines between the guest's marks mark (begin) and mark+1 (end)."""
    begin = "write addr 0x07 val 0x%02x" % mark
    end = "write addr 0x07 val 0x%02x" % (mark + 1)
    start = max(i for i, l in enumerate(lines) if l.endswith(begin))
    stop = next(i for i in range(start, len(lines)) if lines[i].endswith(end))
    return lines[start + 1:stop]


def levels(seg, port):
    """The (DTR, RTS) sequence the device was given, from its register writes or requests;
    it starts from whatever the lines were before the segment, shown as (0, 0)."""
    d, r = 0, 0
    seq = [(d, r)]
    for l in seg:
        if port == "uart":
            m = re.search(r"serial_write write addr 0x04 val 0x([0-9a-f]+)", l)
            if m:
                v = int(m.group(1), 16)
                d, r = v & 1, (v >> 1) & 1
                seq.append((d, r))
        else:
            m = re.search(r"got control 0x4001, value 0x([0-9a-f]+)", l)
            if m:
                v = int(m.group(1), 16)
                mask, val = v >> 8, v & 0xFF
                if mask & 1:
                    d = val & 1
                if mask & 2:
                    r = (val >> 1) & 1
                seq.append((d, r))
    return collapse(seq)


def rates(seg, port):
    if port == "uart":
        return [int(x) for x in re.findall(r"serial_update_parameters baudrate=(\d+)", "\n".join(seg))]
    return [int(x) for x in re.findall(r"usb_serial_set_baud .*baud rate (\d+)", "\n".join(seg))]


class Run:
    def __init__(self, rc, out, seg):
        self.rc, self.out, self.seg = rc, out, seg


def station(project, port, env="", limit=90):
    """One run of progstation-cli in the guest between two trace marks."""
    m = G.mark()
    cmd = ("cd /p/%s && mark %d && %s PROGSTATION_COM1=%s progstation-cli --ini PROGRAMMER.INI "
           "AUTO; rc=$?; mark %d; exit $rc") % (project, m, env, PORTS[port], m + 1)
    rc, out = G.sh(cmd, limit)
    return Run(rc, out, segment(G.trace_lines(), m))


def fail_text(run, what):
    return "%s\n--- station ---\n%s\n--- console tail ---\n%s" % (what, run.out[-3000:], G.tail(1500))


CHARDEV_NO = [0]
SILENT = "file,path=/dev/null"


def plug_ftdi(backend):
    """Plugs a fresh FTDI adapter whose far side is backend ("serial,path=..." or SILENT)."""
    CHARDEV_NO[0] += 1
    cid = "ftdi%d" % CHARDEV_NO[0]
    out = G.monitor("chardev-add %s,id=%s" % (backend, cid))
    out += G.monitor("device_add usb-serial,bus=xhci.0,chardev=%s,id=ftdi,serial=%s"
                     % (cid, g.FTDI_SERIAL))
    if "rror" in out:
        raise g.GuestError("plugging the adapter: " + out)
    G.check("for i in $(seq 100); do [ -e %s ] && break; sleep 0.1; done; [ -e %s ]" % (BY_ID, BY_ID))
    return cid


def unplug_ftdi():
    G.monitor("device_del ftdi")
    G.check("for i in $(seq 100); do [ -e /dev/ttyUSB0 ] || break; sleep 0.1; done; [ ! -e /dev/ttyUSB0 ]")
    G.monitor("chardev-remove ftdi%d" % CHARDEV_NO[0])


def switch_board(port, spec):
    """Plays another board on port (spec None: nothing answers): the UART's chardev is
    changed in place, the FTDI adapter is pulled and a fresh one plugged in."""
    old = BOARDS.pop(port, None)
    b = None
    if spec:
        b = g.Board(OPTS.boardsim, spec, os.path.join(OPTS.work, "board-%s-%s.log"
                                                      % (port, spec.split(",")[0])))
    # A silent far side: a file backend counts as connected, where "null" would leave the
    # FTDI model detached from the bus.
    backend = "serial,path=" + b.tty if b else SILENT
    try:
        if port == "uart":
            out = G.monitor("chardev-change uart " + backend)
            if "rror" in out:
                raise g.GuestError("chardev-change: " + out)
        else:
            unplug_ftdi()
            plug_ftdi(backend)
    except BaseException:
        if b:
            b.stop()
        raise
    if b:
        BOARDS[port] = b
    if old:
        old.stop()


def checks_sum(example):
    with open(os.path.join(g.REPO, "examples", example, "upgrade.cfg"), "rb") as f:
        return b"/CHECKSUM" in f.read().upper()


def board_spec(example):
    with open(os.path.join(g.REPO, "examples", example, "PROGRAMMER.INI")) as f:
        for line in f:
            if line.startswith("COM1=sim:"):
                return line.strip()[len("COM1=sim:"):]
    raise g.GuestError("no board for " + example)


class Families(unittest.TestCase):
    """A full example project of each family programs its board through each driver."""

    def test_examples(self):
        for example in FAMILIES:
            spec = board_spec(example)
            for port in ("uart", "ftdi"):
                with self.subTest(example=example, port=port):
                    switch_board(port, spec)
                    env = "PROGSTATION_DATA_DIR=/p/%s" % example
                    run = station(example, port, env=env, limit=120)
                    self.assertEqual(run.rc, 0, fail_text(run, "exit status"))
                    self.assertIn(OK_TEXT, run.out.lower(), fail_text(run, "no success text"))
                    if checks_sum(example):  # the board's checksum of what it holds
                        self.assertIn(CHECKSUM_OK, run.out, fail_text(run, "no checksum verdict"))


class Lines(unittest.TestCase):
    """Boot line, reset pulse, automatic reset and end of run, seen at the device."""

    def test_levels_of_both_polarities(self):
        for boot, reset in LINE_CASES:
            for port in ("uart", "ftdi"):
                with self.subTest(boot=boot, reset=reset, port=port):
                    run = station("lines-%s-%s" % (boot, reset), port)
                    self.assertEqual(run.rc, 0, fail_text(run, "exit status"))
                    got = levels(run.seg, port)
                    got = got[got.index((1, 1)):] if (1, 1) in got else got
                    self.assertEqual(got, expected_levels(boot, reset),
                                     fail_text(run, "(DTR, RTS) sequence at the device"))


class Settings(unittest.TestCase):
    def test_rates_reach_the_device(self):
        for baud in RATES:
            for port in ("uart", "ftdi"):
                with self.subTest(baud=baud, port=port):
                    run = station("rate-%d" % baud, port)
                    self.assertEqual(run.rc, 0, fail_text(run, "exit status"))
                    got = rates(run.seg, port)
                    self.assertTrue(got, fail_text(run, "no rate set"))
                    self.assertLess(abs(got[-1] - baud), baud * 0.03,
                                    fail_text(run, "rate %s for %d" % (got, baud)))

    def test_settings_before_the_first_byte(self):
        """strace in the guest: the settings the port gets before the station's first
        write have no flow control; the FTDI takes the low-latency request, and its timer
        goes from 16 ms to 1 ms at the open."""
        for port in ("uart", "ftdi"):
            with self.subTest(port=port):
                switch_board(port, "avr,proc=6")  # a fresh adapter: its timer is its own
                sysfs = "/sys/bus/usb-serial/devices/ttyUSB0/latency_timer"
                m = G.mark()
                rc, out = G.sh(
                    "mark %d; [ %s = ftdi ] && echo 16 > %s && echo @@LAT=$(cat %s); "
                    "cd /p/atmel && PROGSTATION_COM1=%s strace -f -v -e trace=openat,ioctl,write "
                    "-o /tmp/strace.log progstation-cli --ini PROGRAMMER.INI AUTO; echo @@RC=$?; "
                    "[ %s = ftdi ] && echo @@LAT=$(cat %s); mark %d; cat /tmp/strace.log"
                    % (m, port, sysfs, sysfs, PORTS[port], port, sysfs, m + 1), 120)
                self.assertIn("@@RC=0", out, out[-3000:])
                lines = out.split("@@RC=", 1)[1].splitlines()
                fd = next(re.search(r"= (\d+)$", l).group(1) for l in lines
                          if "openat(" in l and os.path.basename(PORTS[port]) in l
                          and re.search(r"= \d+$", l))
                first = next(i for i, l in enumerate(lines) if re.search(r"write\(%s," % fd, l))
                sets = [l for l in lines[:first] if re.search(r"ioctl\(%s, [^,]*TCSETS" % fd, l)]
                self.assertTrue(sets, "\n".join(lines[:first]))
                for flag in ("CRTSCTS", "IXON", "IXOFF"):
                    self.assertNotRegex(sets[-1], r"\b%s\b" % flag, sets[-1])
                if port == "ftdi":
                    self.assertRegex(out, r"ioctl\(%s, TIOCGSERIAL.*= 0\n" % fd)
                    self.assertRegex(out, r"ioctl\(%s, TIOCSSERIAL.*= 0\n" % fd)
                    self.assertEqual(re.findall(r"@@LAT=(\d+)", out), ["16", "1"], out[-3000:])
                    seg = "\n".join(segment(G.trace_lines(), m))
                    lat = re.findall(r"got control 0x4009, value 0x([0-9a-f]+)", seg)
                    self.assertEqual([int(v, 16) for v in lat][:1] + [int(v, 16) for v in lat][-1:],
                                     [16, 1], seg[-3000:])
                    flows = re.findall(r"flow control (\d+)", seg)
                    self.assertEqual(flows[-1:], ["0"], seg[-3000:])

    def test_stty_during_a_run_and_a_second_station_refused(self):
        for port in ("uart", "ftdi"):
            with self.subTest(port=port):
                switch_board(port, None)  # nothing answers: the run waits in its handshake
                dev = PORTS[port]
                cmd = ("cd /p/atmel; (PROGSTATION_COM1=%s progstation-cli --ini PROGRAMMER.INI AUTO "
                       ">/tmp/first.out 2>&1; echo $? >/tmp/first.rc) & "
                       "for i in $(seq 100); do grep -q connecting /tmp/first.out 2>/dev/null && break; sleep 0.1; done; "
                       "stty -a -F %s; echo @@SECOND; PROGSTATION_COM1=%s progstation-cli --ini PROGRAMMER.INI AUTO; "
                       "echo @@RC2=$?; kill -INT $(pidof progstation-cli); wait; echo @@RC1=$(cat /tmp/first.rc)"
                       ) % (dev, dev, dev)
                rc, out = G.sh(cmd, 60)
                stty, second = out.split("@@SECOND", 1)
                for flag in ("-crtscts", "-ixon", "-ixoff", "-icanon", "-echo", "cs8", "-parenb", "-cstopb",
                             "-hupcl"):
                    self.assertRegex(stty, r"(^|\s)%s(\s|;|$)" % re.escape(flag), stty)
                self.assertRegex(stty, r"speed 115200 baud", stty)
                self.assertIn("@@RC2=11", second, second)
                self.assertIn("ERROR : opening COM port.", second, second)
                self.assertIn("@@RC1=1", second, out)


class Adapter(unittest.TestCase):
    def test_list_ports(self):
        rc, out = G.sh("cd /p/rate-115200 && PROGSTATION_COM1=%s PROGSTATION_COM2=/dev/ttyS1 "
                       "PROGSTATION_COM3=/dev/ttyS2 progstation-cli --ini PROGRAMMER.INI --list-ports" % BY_ID)
        self.assertEqual(rc, 0, out)
        block = out.split("/dev/ttyUSB0", 1)[1].split("\n/dev/", 1)[0]
        for want in ("COM1", "driver: ftdi_sio", "usb: 0403:6001", "serial: " + g.FTDI_SERIAL,
                     "link: " + BY_ID):
            self.assertIn(want, block, out)
        self.assertRegex(out, r"/dev/ttyS1  COM2\n    driver: serial", out)
        self.assertRegex(out, r"COM3 -> /dev/ttyS2 \(no UART", out)
        rc, out = G.sh("cd /p/rate-115200 && PROGSTATION_COM1=/dev/ttyS2 progstation-cli --ini PROGRAMMER.INI AUTO")
        self.assertEqual(rc, 11, out)
        self.assertRegex(out, r"hint: .*no UART", out)

    def test_wait_port_and_pull_out(self):
        # Pulled out while the station waits for the board: status 11, no success text.
        switch_board("ftdi", None)
        h = G.start("cd /p/atmel && PROGSTATION_COM1=%s progstation-cli --ini PROGRAMMER.INI AUTO"
                    % BY_ID, 30)
        G.read_until(b"connecting", 30, h[1])
        unplug_ftdi()
        rc, out = G.finish(h)
        self.assertEqual(rc, 11, out)
        self.assertNotIn(OK_TEXT, out.lower(), out)
        # Plugged in late: --wait-port waits, then the run goes through.
        h = G.start("cd /p/rate-115200 && PROGSTATION_COM1=%s progstation-cli --ini PROGRAMMER.INI "
                    "--wait-port 40 AUTO" % BY_ID, 60)
        G.read_until(b"waiting for the port", 30, h[1])
        plug_ftdi(SILENT)
        rc, out = G.finish(h)
        self.assertEqual(rc, 0, out)
        self.assertIn(OK_TEXT, out.lower(), out)


def guest_files(work):
    files = {}
    for example in FAMILIES:
        src = os.path.join(g.REPO, "examples", example)
        for n in os.listdir(src):
            files["p/%s/%s" % (example, n)] = os.path.join(src, n)
    made = os.path.join(work, "projects")
    shutil.rmtree(made, ignore_errors=True)

    def project(name, steps):
        d = os.path.join(made, name)
        os.makedirs(d)
        with open(os.path.join(d, "upgrade.cfg"), "wb") as f:
            f.write(steps)
        with open(os.path.join(d, "PROGRAMMER.INI"), "w") as f:
            f.write(INI)
        for n in os.listdir(d):
            files["p/%s/%s" % (name, n)] = os.path.join(d, n)

    for boot, reset in LINE_CASES:
        project("lines-%s-%s" % (boot, reset), line_step(boot, reset))
    for baud in RATES:
        project("rate-%d" % baud, step_file(["/BaudRate=%d" % baud, "/AUTOCONTINUE"]))
    return files


def main():
    global G, OPTS
    # A harness stopped from outside (a CI time-out) still ends QEMU and the boards.
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.path.join(g.REPO, "build"))
    ap.add_argument("--cache", default=None, help="downloads and the unpacked kernel")
    ap.add_argument("--work", default=None)
    ap.add_argument("--bzimage", action="store_true", help="boot the bzImage, not vmlinux")
    OPTS, rest = ap.parse_known_args()
    OPTS.build = os.path.abspath(OPTS.build)
    OPTS.cache = OPTS.cache or os.path.join(OPTS.build, "guest-cache")
    keep = OPTS.work is not None  # a folder named by the caller is kept; a fresh one only on failure
    OPTS.work = OPTS.work or tempfile.mkdtemp(prefix="guest-", dir=OPTS.build)
    OPTS.boardsim = os.path.join(OPTS.build, "boardsim")
    cli = os.path.join(OPTS.build, "progstation-cli")
    try:
        kroot, vmlinux, bz = g.prepare(OPTS.build, OPTS.cache)
    except g.Skip as e:
        print("guest test skipped: %s" % e)
        return 0
    stripped = os.path.join(OPTS.work, "progstation-cli")
    g.run(["objcopy", "--strip-debug", cli, stripped])
    initrd = os.path.join(OPTS.work, "initrd.cpio")
    g.make_initramfs(initrd, kroot, stripped, guest_files(OPTS.work))
    kernel = bz if OPTS.bzimage or not vmlinux else vmlinux
    t0 = time.monotonic()
    ok = False
    try:
        for port in ("uart", "ftdi"):
            BOARDS[port] = g.Board(OPTS.boardsim, "avr,proc=6",
                                   os.path.join(OPTS.work, "board-%s.log" % port))
        try:
            G = g.Guest(OPTS.work, kernel, initrd, BOARDS["uart"].tty, BOARDS["ftdi"].tty)
        except g.GuestError as e:
            if kernel == bz:
                raise
            print("the PVH boot of vmlinux failed, booting the bzImage:\n%s" % e)
            kernel = bz
            G = g.Guest(OPTS.work, kernel, initrd, BOARDS["uart"].tty, BOARDS["ftdi"].tty)
        print("guest up in %.1f s (%s)" % (time.monotonic() - t0, os.path.basename(kernel)))
        prog = unittest.main(argv=[sys.argv[0]] + rest, exit=False, verbosity=2)
        ok = prog.result.wasSuccessful()
    finally:
        if G:
            G.stop()
        g.Board.stop_all()
    if ok and not keep:
        shutil.rmtree(OPTS.work, ignore_errors=True)
    print("guest test: %s, %.1f s%s" % ("passed" if ok else "FAILED", time.monotonic() - t0,
                                        "" if ok and not keep else ", work folder " + OPTS.work))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
