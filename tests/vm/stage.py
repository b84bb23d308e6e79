#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-2.0-or-later
"""Runs raidctl through a real kernel: a Debian guest under QEMU whose USB disks are the
simulator's enclosures, served by raidsim-nbd, and a plain USB disk beside them.

The guest runs guest_checks.sh from a folder shared over 9p and asks the host, over a
virtio-serial port, to plug and unplug disks (QMP) and to start the scenario's timeline. What
the guest prints is compared with what the same scenario gives in-process, here.

Usage: stage.py NATIVE_BUILD_DIR WORK_DIR
Exit status 0 when every check passed; otherwise the reason, the guest's log, journal and
kernel log are printed.
"""

import hashlib
import json
import re
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
SCENARIO = HERE / "three_enclosures.json"
BOOT_LIMIT_S = 300  # from QEMU's start to the guest's first word, under TCG
RUN_LIMIT_S = 420  # the whole guest run
KVM_TRY_S = 30  # under KVM the guest speaks within seconds; one silent by then never will
FIRMWARE = HERE.parent.parent / "fuzz" / "firmware_image" / "corpus" / "valid_raid_bridge.bin"
# What the guest runs and compares with the in-process run, each as root and as a user without
# rights on the disks (the names of the latter start with "closed-"); guest_checks.sh runs the
# same list. The monitor only as that user, and only its lines about the drives it could not open.
RUNS = {"discover": ["discover"], "status": ["status"], "status-json": ["status", "--json"],
        "smart": ["smart"], "firmware": ["firmware", "check", "firmware.bin", "--device", "1"],
        "monitor": ["monitor", "--for", "3"]}
UNOPENED = re.compile(r"was skipped|could be opened|disk group")


class StageFailure(Exception):
    pass


def log(text):
    print(f"vm: {text}", flush=True)


def run(args, **kwargs):
    return subprocess.run(args, check=True, text=True, capture_output=True, **kwargs)


class Qmp:
    """QEMU's machine protocol: one command at a time, events kept for whoever waits."""

    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX)
        self.sock.connect(str(path))
        self.file = self.sock.makefile("rw")
        self.events = []
        self._read()  # the greeting
        self.command("qmp_capabilities")

    def _read(self):
        line = self.file.readline()
        if not line:
            raise StageFailure("QEMU closed its monitor")
        return json.loads(line)

    def command(self, name, **arguments):
        self.file.write(json.dumps({"execute": name, "arguments": arguments}) + "\n")
        self.file.flush()
        while True:
            message = self._read()
            if "event" in message:
                self.events.append(message)
            elif "error" in message:
                raise StageFailure(f"QMP {name} {arguments}: {message['error']['desc']}")
            else:
                return message.get("return")

    def wait_event(self, name, device, limit_s):
        deadline = time.monotonic() + limit_s
        while True:
            for event in self.events:
                if event["event"] == name and event.get("data", {}).get("device") == device:
                    self.events.remove(event)
                    return
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                raise StageFailure(f"no {name} for {device} within {limit_s} s")
            self.sock.settimeout(remaining)
            try:
                self.events.append(self._read())
            finally:
                self.sock.settimeout(None)


class Stage:
    def __init__(self, native, work):
        self.native = Path(native).resolve()
        self.work = Path(work).resolve()
        self.share = self.work / "share"
        # A unix socket's path holds at most 107 bytes: the sockets live in a short folder.
        self.sockets = Path(tempfile.mkdtemp(prefix="raidgui-vm-"))
        self.drives = []
        self.nbd = None
        self.qemu = None
        self.qmp = None
        self.times = {}

    # --- preparation ---
    def prepare(self):
        if self.work.exists():
            shutil.rmtree(self.work)
        self.share.mkdir(parents=True)
        package_dir = self.work / "package"
        run(["cpack", "--config", str(self.native / "CPackConfig.cmake"), "-B", str(package_dir)],
            cwd=self.work)
        deb = next(package_dir.glob("raidgui_*.deb"))
        shutil.copy(deb, self.share / "raidgui.deb")
        shutil.copy(HERE / "guest_checks.sh", self.share)
        (self.share / "runs.txt").write_text(
            "".join(f"{name} {' '.join(args)}\n" for name, args in RUNS.items()))
        warnings = sorted((HERE / "expected_warnings.txt").read_text().splitlines(keepends=True))
        (self.share / "warnings.txt").write_text("".join(warnings))

        started = time.monotonic()
        cache = Path(os.environ.get("XDG_CACHE_HOME", Path.home() / ".cache")) / "raidgui" / "vm"
        self.cache = cache
        built = subprocess.run([str(HERE / "image.sh"), str(deb), str(cache)], check=False,
                               text=True, stdout=subprocess.PIPE)
        if built.returncode != 0:
            raise StageFailure("the guest image could not be built (see above)")
        self.image = Path(built.stdout.strip().splitlines()[-1])
        self.times["image"] = time.monotonic() - started

        describe = run([str(self.raidsim_nbd()), "--describe", str(SCENARIO)]).stdout
        self.drives = [json.loads(line) for line in describe.splitlines() if line.strip()]
        self.expect_in_process()
        self.make_plain_disk()

    def raidsim_nbd(self):
        return self.native / "sim" / "raidsim-nbd"

    def raidctl(self):
        return self.native / "src" / "cli" / "raidctl"

    def expect_in_process(self):
        """What raidctl says of the scenario in-process, before its timeline starts, and of the
        same host when no drive may be opened."""
        story = json.loads(SCENARIO.read_text())
        story.pop("timeline", None)
        still = self.work / "still.json"
        still.write_text(json.dumps(story))
        for drive in story["drives"]:
            drive["openable"] = False
        closed = self.work / "closed.json"
        closed.write_text(json.dumps(story))
        expected = self.share / "expected"
        expected.mkdir()
        shutil.copy(FIRMWARE, self.share / "firmware.bin")
        for name, args in RUNS.items():
            for prefix, scenario in (("", still), ("closed-", closed)):
                if name == "monitor" and not prefix:
                    continue  # its log lines carry the time; the service's run is checked instead
                out = subprocess.run([str(self.raidctl()), "--simulate", str(scenario), *args],
                                     text=True, capture_output=True, check=False, cwd=self.share,
                                     env={**os.environ, "RAIDGUI_LOG_DIR": str(self.work / "log")})
                stdout, stderr = out.stdout, out.stderr
                if name == "monitor":
                    stdout, stderr = "", "".join(
                        line for line in stderr.splitlines(keepends=True) if UNOPENED.search(line))
                (expected / f"{prefix}{name}.out").write_text(stdout)
                (expected / f"{prefix}{name}.err").write_text(stderr)
                (expected / f"{prefix}{name}.rc").write_text(f"{out.returncode}\n")

    def make_plain_disk(self):
        plain = next(d for d in self.drives if d["type"] == "disk")
        content = self.work / "plain-content"
        content.mkdir()
        (content / "holiday.txt").write_text("a file that must stay as it is\n")
        self.plain = self.work / "plain.img"
        run(["mkfs.ext4", "-q", "-F", "-L", "plain", "-d", str(content), str(self.plain),
             f"{plain['bytes'] // 1024}K"])
        self.plain_sum = hashlib.sha256(self.plain.read_bytes()).hexdigest()

    # --- the run ---
    def start_nbd(self):
        socket_path = self.sockets / "nbd.sock"
        self.nbd = subprocess.Popen(
            [str(self.raidsim_nbd()), "--scenario", str(SCENARIO), "--socket", str(socket_path),
             "--timeline-on-signal"], stdout=subprocess.PIPE, text=True)
        line = self.nbd.stdout.readline()
        if "serving" not in line:
            raise StageFailure(f"raidsim-nbd did not start: {line.strip()}")
        self.nbd_socket = socket_path

    def qemu_args(self, accel):
        w = self.work
        args = [
            "qemu-system-x86_64", "-machine", f"q35,accel={accel}", "-m", "1024", "-smp", "2",
            "-display", "none", "-no-reboot", "-nic", "none",
            "-kernel", str(self.image / "vmlinuz"), "-initrd", str(self.image / "initrd.img"),
            "-append", "root=/dev/vda rw console=ttyS0 panic=-1 usb-storage.delay_use=0 "
                       "systemd.show_status=0 loglevel=4",
            "-drive", f"file={self.image / 'root.img'},format=raw,if=virtio,snapshot=on",
            "-serial", f"file:{w / 'console.txt'}",
            "-chardev", f"socket,id=qmp,path={self.sockets / 'qmp.sock'},server=on,wait=off",
            "-mon", "chardev=qmp,mode=control",
            "-device", "virtio-serial-pci",
            "-chardev", f"socket,id=ctl,path={self.sockets / 'ctl.sock'},server=on,wait=off",
            "-device", "virtserialport,chardev=ctl,name=raidgui.ctl",
            "-fsdev", f"local,id=stage,path={self.share},security_model=none",
            "-device", "virtio-9p-pci,fsdev=stage,mount_tag=stage",
            "-device", "qemu-xhci,id=xhci",
        ]
        for drive in self.drives:
            n = drive["drive"]
            if drive["type"] == "enclosure":
                args += ["-blockdev",
                         f"driver=nbd,node-name=disk{n},server.type=unix,"
                         f"server.path={self.nbd_socket},export={drive['export']},cache.direct=on"]
            else:
                args += ["-blockdev", f"driver=file,node-name=file{n},filename={self.plain}",
                         "-blockdev", f"driver=raw,node-name=disk{n},file=file{n}"]
        return args

    def kvm_failure_file(self):
        """Where a failed KVM start on this host is remembered: a host whose /dev/kvm starts no
        guest (a nested hypervisor that stalls it) is asked once, not in every run. Keyed by
        what decides it: the host's kernel, QEMU and the processor."""
        qemu = run(["qemu-system-x86_64", "--version"]).stdout.splitlines()[0]
        cpu = next((line for line in Path("/proc/cpuinfo").read_text().splitlines()
                    if line.startswith("model name")), "")
        key = hashlib.sha256(f"{os.uname().release}|{qemu}|{cpu}".encode()).hexdigest()[:16]
        return self.cache / f"kvm-starts-no-guest-{key}"

    def boot(self):
        """Starts the guest under KVM when one starts there in time, else under TCG."""
        accels = ["tcg"]
        remembered = self.kvm_failure_file()
        if os.access("/dev/kvm", os.R_OK | os.W_OK):
            if remembered.exists():
                log(f"KVM started no guest here before ({remembered}); under TCG")
            else:
                accels.insert(0, "kvm")
        for accel in accels:
            limit = KVM_TRY_S if accel == "kvm" and len(accels) > 1 else BOOT_LIMIT_S
            started = time.monotonic()
            # QEMU's own messages go to a file: a pipe nobody reads could fill and stop it.
            with open(self.work / "qemu.txt", "w") as messages:
                self.qemu = subprocess.Popen(self.qemu_args(accel), stderr=messages)
            try:
                self.connect(limit)
                self.expect_word("hello", limit - (time.monotonic() - started))
            except StageFailure as failure:
                self.stop_qemu()
                if accel != accels[-1]:
                    log(f"no guest under {accel} ({failure}); trying {accels[-1]}")
                    remembered.write_text(f"{failure}\n")
                    continue
                raise
            self.times["boot"] = time.monotonic() - started
            log(f"guest up under {accel.upper()} in {self.times['boot']:.0f} s")
            return
        raise StageFailure("no guest started")

    def connect(self, limit_s):
        deadline = time.monotonic() + limit_s
        while not (self.sockets / "ctl.sock").exists() or not (self.sockets / "qmp.sock").exists():
            if self.qemu.poll() is not None:
                said = (self.work / "qemu.txt").read_text(errors="replace").strip()
                raise StageFailure(f"QEMU ended: {said}")
            if time.monotonic() > deadline:
                raise StageFailure("QEMU opened no sockets")
            time.sleep(0.1)
        self.qmp = Qmp(self.sockets / "qmp.sock")
        self.ctl = socket.socket(socket.AF_UNIX)
        self.ctl.connect(str(self.sockets / "ctl.sock"))
        self.ctl_file = self.ctl.makefile("rw")

    def expect_word(self, word, limit_s):
        self.ctl.settimeout(max(limit_s, 1))
        try:
            line = self.ctl_file.readline().strip()
        except socket.timeout:
            raise StageFailure(f"the guest did not say '{word}' within {limit_s:.0f} s") from None
        if line != word:
            raise StageFailure(f"the guest said '{line}', not '{word}'")
        self.answer("ok")

    def answer(self, text):
        self.ctl_file.write(text + "\n")
        self.ctl_file.flush()

    def serve_guest(self):
        """Carries out what the guest asks until it powers off."""
        started = time.monotonic()
        while True:
            remaining = RUN_LIMIT_S - (time.monotonic() - started)
            if remaining <= 0:
                raise StageFailure(f"the guest was not done within {RUN_LIMIT_S} s")
            self.ctl.settimeout(remaining)
            try:
                line = self.ctl_file.readline()
            except socket.timeout:
                continue
            if not line:  # the port closes when the guest powers off
                break
            words = line.split()
            try:
                self.carry_out(words)
                self.answer("ok")
            except StageFailure as failure:
                self.answer(f"failed: {failure}")
        try:
            self.qemu.wait(timeout=60)
        except subprocess.TimeoutExpired:
            raise StageFailure("the guest did not power off") from None
        self.times["checks"] = time.monotonic() - started

    def carry_out(self, words):
        if words[0] == "timeline":
            self.nbd.send_signal(signal.SIGUSR1)
            return
        n = int(words[1])
        drive = next(d for d in self.drives if d["drive"] == n)
        if words[0] == "unplug":
            self.qmp.command("device_del", id=f"usb{n}")
            self.qmp.wait_event("DEVICE_DELETED", f"usb{n}", 30)
        elif words[0] == "plug" and drive["type"] == "disk":
            self.qmp.command("device_add", driver="usb-storage", id=f"usb{n}", bus="xhci.0",
                             drive=f"disk{n}")
        elif words[0] == "plug":
            # The bridge first, detached; its disk; then the cable.
            self.qmp.command("device_add", driver="usb-bot", id=f"usb{n}", bus="xhci.0",
                             attached=False)
            self.qmp.command("device_add", driver="scsi-hd", id=f"hd{n}", bus=f"usb{n}.0",
                             drive=f"disk{n}", vendor=drive["vendor"], product=drive["product"],
                             ver=drive["revision"], serial=f"SIM{n}")
            self.qmp.command("qom-set", path=f"/machine/peripheral/usb{n}", property="attached",
                             value=True)
        else:
            raise StageFailure(f"unknown request {' '.join(words)}")

    def stop_qemu(self):
        if self.qemu and self.qemu.poll() is None:
            self.qemu.kill()
            self.qemu.wait()
        for name in ("qmp.sock", "ctl.sock"):
            (self.sockets / name).unlink(missing_ok=True)

    def stop_nbd(self):
        self.nbd.send_signal(signal.SIGTERM)
        counts = self.nbd.stdout.read()
        rc = self.nbd.wait(timeout=30)
        print(counts, end="", flush=True)
        return rc

    # --- verdict ---
    def verdict(self):
        problems = []
        rc_file = self.share / "guest.rc"
        if not rc_file.exists():
            problems.append("the guest's checks did not finish")
        elif rc_file.read_text().strip() != "0":
            problems.append("a check in the guest failed")
        if self.stop_nbd() != 0:
            problems.append("raidsim-nbd saw a write, or failed")
        if hashlib.sha256(self.plain.read_bytes()).hexdigest() != self.plain_sum:
            problems.append("the plain disk's content changed")
        return problems

    def show_guest(self):
        for name, lines in (("guest.log", None), ("journal.txt", 80), ("dmesg.txt", 40),
                            ("console.txt", 40), ("qemu.txt", 20)):
            path = self.share / name if (self.share / name).exists() else self.work / name
            if path.exists():
                text = path.read_text(errors="replace").splitlines()
                print(f"--- {name}" + (f" (last {lines} lines)" if lines else ""))
                print("\n".join(text[-lines:] if lines else text))


def main():
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    stage = Stage(sys.argv[1], sys.argv[2])
    problems = []
    try:
        stage.prepare()
        stage.start_nbd()
        stage.boot()
        stage.serve_guest()
        problems = stage.verdict()
    except (StageFailure, subprocess.CalledProcessError, OSError) as failure:
        problems.append(str(failure))
        if isinstance(failure, subprocess.CalledProcessError):
            print(failure.stderr, file=sys.stderr)
    finally:
        stage.stop_qemu()
        if stage.nbd and stage.nbd.poll() is None:
            stage.nbd.kill()
        shutil.rmtree(stage.sockets, ignore_errors=True)
    times = ", ".join(f"{k} {v:.0f} s" for k, v in stage.times.items())
    if problems:
        stage.show_guest()
        for problem in problems:
            log(f"FAILED: {problem}")
        log(f"times: {times}")
        return 1
    print((stage.share / "guest.log").read_text().splitlines()[-1], flush=True)
    log(f"times: {times}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
