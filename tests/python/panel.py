"""The real panel on its virtual stage (or on a simulator's line) for the end-to-end tests.
Paths to the built programs come from CTest's environment."""

import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.environ["MOVEXA_CLIENT_DIR"])
import movexa_client as mc  # noqa: E402

PANEL = os.environ["MOVEXA_PANEL"]
STAGE_SIM = os.environ["MOVEXA_STAGE_SIM"]
CTL = os.environ["MOVEXA_CTL"]
DEADLINE = 20.0  # seconds; generous for a loaded machine, only reached on failure


def poll(function, done, timeout=DEADLINE):
    """function()'s value once done(value) holds, else its last value at the deadline."""
    end = time.monotonic() + timeout
    while True:
        value = function()
        if done(value) or time.monotonic() > end:
            return value
        time.sleep(0.02)


def stop(p):
    """Ends a program politely, then surely."""
    if p.poll() is None:
        p.send_signal(signal.SIGTERM)
    try:
        p.wait(DEADLINE)
    except subprocess.TimeoutExpired:
        p.kill()
        p.wait()
    for stream in (p.stdout, p.stderr):
        if stream:
            stream.close()


def need_pty():
    if not os.path.exists("/dev/ptmx"):
        raise unittest.SkipTest("no pseudo-terminals (/dev/ptmx) on this machine")


class Panel:
    def __init__(self, *args, default_socket=False):
        """default_socket: where the panel puts it in its runtime folder, self.dir."""
        need_pty()
        self.dir = tempfile.TemporaryDirectory(prefix="movexa-e2e-")
        self.env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=self.dir.name)
        self.socket = os.path.join(self.dir.name, "movexa/control.sock" if default_socket
                                   else "s.sock")
        self.log = open(os.path.join(self.dir.name, "panel.log"), "w")
        if not default_socket:
            args += ("--control-socket", self.socket)
        self.process = subprocess.Popen(
            [PANEL, *args, "-platform", "offscreen"],
            cwd=os.path.dirname(PANEL), env=self.env, stdout=self.log, stderr=subprocess.STDOUT)
        self.others = []

    def client(self, connected=True):
        """A client once the socket takes connections (and the stage is connected)."""
        def attempt():
            try:
                return mc.Stage(self.socket)
            except OSError:
                return None
        stage = poll(attempt, lambda s: s is not None or self.process.poll() is not None)
        if stage is None:
            raise AssertionError("the panel did not listen; its log:\n" + self.read_log())
        if connected and not poll(lambda: stage.hello()["connected"], bool):
            raise AssertionError("the panel did not connect to the stage")
        return stage

    def ctl(self, *args):
        return subprocess.run([CTL, "--socket", self.socket, *args], capture_output=True,
                              text=True, timeout=DEADLINE)

    def spawn(self, *args):
        p = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                             env=dict(self.env, PYTHONPATH=os.environ["MOVEXA_CLIENT_DIR"]))
        self.others.append(p)
        return p

    def ctl_process(self, *args):
        return self.spawn(CTL, "--socket", self.socket, *args)

    def read_log(self):
        with open(self.log.name) as f:
            return f.read()

    def close(self):
        for p in [self.process] + self.others:
            stop(p)
        self.log.close()
        self.dir.cleanup()


class PanelTest(unittest.TestCase):
    """One panel per test class (ARGS), so classes run in parallel without sharing one."""
    TYPE = "linear"
    ARGS = ("--virtual-stage", "--stage-type", TYPE)

    @classmethod
    def setUpClass(cls):
        cls.panel = Panel(*cls.ARGS)
        cls.addClassCleanup(cls.panel.close)
        cls.stage = cls.panel.client()
        cls.addClassCleanup(cls.stage.close)
        # The type, and with it the limits, is read shortly after the connection.
        hello = poll(cls.stage.hello, lambda h: h["stage"]["type"] == cls.TYPE)
        limits = hello["limits"]
        # Fastest motion the form allows: short tests.
        cls.stage.set(speed=limits["speed"][1], accel=limits["accel"][1],
                      decel=limits["decel"][1])

    def moving(self, client=None):
        return (client or self.stage).status()["moving"]

    def until_moving(self, expected, client=None):
        self.assertEqual(poll(lambda: self.moving(client), lambda m: m == expected), expected)
