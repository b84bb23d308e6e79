# SPDX-License-Identifier: GPL-2.0-or-later
"""A real Alertmanager (Debian's prometheus-alertmanager) for the tests, on loopback (run with
/usr/bin/python3).

  alertmanager_fixture.py --dir DIR --webhook URL [--resolve-timeout 5m]

Writes DIR/alertmanager.yml: one route, grouping by all labels (so each alert is a group of its
own and each of its changes is one webhook), group_wait 1s, group_interval 1s, repeat_interval 1h,
to a webhook receiver at URL with send_resolved. Starts /usr/bin/prometheus-alertmanager on
127.0.0.1 with a free --web.listen-address port, no cluster port (--cluster.listen-address=, so
it neither gossips with nor waits for any peer, a system one included), its storage in DIR/data
and its log in DIR/alertmanager.log; waits until GET /-/ready answers 200, prints "PORT <n>" and
stays up until killed. Alertmanager goes with it: on SIGTERM or SIGINT; when its standard input
is a pipe and that pipe closes (the test that started it is gone); and, were the fixture itself
killed outright, by the kernel (its parent-death signal).
"""

import argparse
import ctypes
import os
import signal
import socket
import stat
import subprocess
import sys
import threading
import time
import urllib.request

BINARY = "/usr/bin/prometheus-alertmanager"
LIBC = ctypes.CDLL(None, use_errno=True)
FIXTURE = os.getpid()
READY_TIMEOUT = 30


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def write_config(folder, webhook, resolve_timeout):
    path = os.path.join(folder, "alertmanager.yml")
    with open(path, "w") as config:
        config.write(f"""global:
  resolve_timeout: {resolve_timeout}
route:
  receiver: push
  group_by: ['...']
  group_wait: 1s
  group_interval: 1s
  repeat_interval: 1h
receivers:
  - name: push
    webhook_configs:
      - url: '{webhook}'
        send_resolved: true
""")
    return path


def die_with_parent():
    """In the child: the kernel kills it when the fixture goes, however the fixture goes."""
    LIBC.prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG
    if os.getppid() != FIXTURE:  # the fixture went before the signal was set
        os._exit(1)


def start(folder, config):
    """(process, port) of an Alertmanager that answers /-/ready, or exits with its log."""
    log_path = os.path.join(folder, "alertmanager.log")
    for attempt in range(3):  # a free port can be taken between the probe and the bind
        port = free_port()
        with open(log_path, "a") as log:
            process = subprocess.Popen(
                [BINARY, f"--config.file={config}", f"--storage.path={folder}/data",
                 f"--web.listen-address=127.0.0.1:{port}",
                 f"--web.external-url=http://127.0.0.1:{port}/",
                 "--cluster.listen-address="],
                stdin=subprocess.DEVNULL, stdout=log, stderr=log, preexec_fn=die_with_parent)
        deadline = time.monotonic() + READY_TIMEOUT
        while process.poll() is None and time.monotonic() < deadline:
            try:
                with urllib.request.urlopen(f"http://127.0.0.1:{port}/-/ready", timeout=1) as r:
                    if r.status == 200:
                        return process, port
            except OSError:
                pass
            time.sleep(0.05)
        stop(process)
    with open(log_path) as log:
        sys.exit("alertmanager did not become ready:\n" + log.read()[-2000:])


def stop(process):
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(5)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def watch_pipe(done):
    # The raw descriptor, not sys.stdin: a thread blocked in a buffered read would hold its lock
    # when the interpreter shuts down.
    while os.read(0, 4096):
        pass
    done.set()


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--dir", required=True, help="its own folder: config, storage, log")
    parser.add_argument("--webhook", required=True, help="the URL its webhook receiver posts to")
    parser.add_argument("--resolve-timeout", default="5m")
    arguments = parser.parse_args()
    folder = os.path.abspath(arguments.dir)
    os.makedirs(folder, exist_ok=True)
    config = write_config(folder, arguments.webhook, arguments.resolve_timeout)
    process, port = start(folder, config)

    done = threading.Event()
    for signum in (signal.SIGTERM, signal.SIGINT):
        signal.signal(signum, lambda *_: done.set())
    if stat.S_ISFIFO(os.fstat(0).st_mode):
        threading.Thread(target=watch_pipe, args=(done,), daemon=True).start()
    print("PORT", port, flush=True)
    while not done.wait(0.5) and process.poll() is None:
        pass
    stop(process)
    return 0 if done.is_set() else 1


if __name__ == "__main__":
    sys.exit(main())
