"""Printer emulators and a zuv-server on loopback, for the browser and
package tests. Every wait has a generous budget and ends as soon as the
awaited line arrives."""

import os
import queue
import re
import select
import signal
import subprocess
import threading
import time
import urllib.error
import urllib.request

START_BUDGET_S = 30
ANSWER_BUDGET_S = 30


def read_first_line(process, prefix, budget_s=START_BUDGET_S):
    """The first stdout line of `process`, which must start with `prefix`."""
    deadline = time.monotonic() + budget_s
    line = b""
    fd = process.stdout.fileno()
    while not line.endswith(b"\n"):
        left = deadline - time.monotonic()
        if left <= 0 or not select.select([fd], [], [], left)[0]:
            raise RuntimeError(f"no {prefix!r} line within {budget_s} s")
        chunk = os.read(fd, 1)
        if not chunk:
            raise RuntimeError(f"exited before printing {prefix!r}: {process.poll()}")
        line += chunk
    text = line.decode().strip()
    if not text.startswith(prefix):
        raise RuntimeError(f"expected {prefix!r}, got {text!r}")
    return text[len(prefix):].strip()


def drain(stream, sink=None):
    """Reads `stream` to its end on a thread, so the writer never blocks."""
    def run():
        for raw in iter(stream.readline, b""):
            if sink is not None:
                sink.put(raw.decode(errors="replace").rstrip("\n"))
    thread = threading.Thread(target=run, daemon=True)
    thread.start()
    return thread


class Emulator:
    """zuv_emulator on a pseudo-terminal, driven through its control input."""

    def __init__(self, binary, *options):
        self.process = subprocess.Popen(
            [binary, "--quiet", *options], stdin=subprocess.PIPE,
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.port = read_first_line(self.process, "PORT")
        self.answers = queue.Queue()
        drain(self.process.stdout)
        drain(self.process.stderr, self.answers)

    def control(self, *lines):
        """Runs control lines, then "status"; returns every answer line up
        to the end of the status ("faults: ...")."""
        text = "".join(line + "\n" for line in (*lines, "status"))
        self.process.stdin.write(text.encode())
        self.process.stdin.flush()
        answer = []
        deadline = time.monotonic() + ANSWER_BUDGET_S
        while True:
            line = self.answers.get(timeout=max(0.1, deadline - time.monotonic()))
            answer.append(line)
            if line.startswith("faults:"):
                return answer

    def request_total(self):
        for line in self.control():
            found = re.search(r"requests (\d+)$", line)
            if found:
                return int(found.group(1))
        raise RuntimeError("the emulator's status has no request count")

    def commands_received(self, command):
        """How many of the last 1000 requests carried this command byte."""
        lines = self.control("requests 1000")
        return sum(1 for line in lines if re.search(rf"\bcmd {command},", line))

    def stop(self):
        stop(self.process)


class Server:
    """zuv-server on 127.0.0.1 with a free port, its token given."""

    def __init__(self, binary, state_dir, printers, token, console_dir=None):
        command = [binary, "--listen", "127.0.0.1:0", "--state-dir", state_dir]
        for name, port in printers.items():
            command += ["--printer", f"{name}={port}"]
        if console_dir:
            command += ["--console-dir", console_dir]
        environment = dict(os.environ, ZUV_SERVER_TOKEN=token)
        self.process = subprocess.Popen(
            command, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=environment)
        self.url = read_first_line(self.process, "LISTEN")
        self.log = queue.Queue()
        drain(self.process.stdout)
        drain(self.process.stderr, self.log)

    def get(self, path, token=None):
        """(status, body text) of a GET."""
        request = urllib.request.Request(self.url + path)
        if token:
            request.add_header("Authorization", "Bearer " + token)
        try:
            with urllib.request.urlopen(request, timeout=ANSWER_BUDGET_S) as response:
                return response.status, response.read().decode()
        except urllib.error.HTTPError as error:
            return error.code, error.read().decode()

    def stop(self):
        stop(self.process)


def stop(process):
    if process.poll() is None:
        process.send_signal(signal.SIGTERM)
        try:
            process.wait(timeout=START_BUDGET_S)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    for stream in (process.stdin, process.stdout, process.stderr):
        if stream:
            stream.close()
