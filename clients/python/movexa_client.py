"""Drives the stage through the running Movexa panel's control socket.

    from movexa_client import Stage, MotionError

    with Stage() as stage:
        print(stage.hello()["stage"]["unit"])
        stage.move(1.5)                 # waits until the stage stands at 1.5
        stage.step(-0.1, timeout=10)
        print(stage.status()["position"])

Positions are absolute, in the unit hello() names (mm or rad). Motion methods
wait by default and return the position reached; a wait that ends any other
way than "done" raises MotionError. Ctrl+C during a wait stops the stage.
Standard library only.
"""

import collections
import json
import os
import pwd
import socket

__all__ = ["Stage", "MovexaError", "RequestError", "MotionError", "ConnectionClosed",
           "default_socket_path"]


class MovexaError(Exception):
    """Anything the panel refused or could not finish."""


class RequestError(MovexaError):
    """An error reply: .code (e.g. -32602 for a value out of range) and .message."""

    def __init__(self, code, message):
        super().__init__(f"{message} ({code})")
        self.code = code
        self.message = message


class MotionError(MovexaError):
    """A wait that ended otherwise than "done": .outcome (stopped, operator, superseded,
    error, disconnected, timeout) and .position where the stage stood."""

    def __init__(self, outcome, position):
        super().__init__(f"motion ended {outcome} at {position}")
        self.outcome = outcome
        self.position = position


class ConnectionClosed(MovexaError, ConnectionError):
    """The panel closed the connection (it ended, or dropped this client)."""


def default_socket_path():
    """Where the panel listens by default: $XDG_RUNTIME_DIR/movexa/control.sock, or the
    folder Qt makes where that is unset."""
    runtime = os.environ.get("XDG_RUNTIME_DIR")
    if not runtime:
        temp = (os.environ.get("TMPDIR") or "/tmp").rstrip("/") or "/"
        runtime = os.path.join(temp, "runtime-" + pwd.getpwuid(os.geteuid()).pw_name)
    return os.path.join(runtime, "movexa", "control.sock")


class Stage:
    """One connection to the panel. Notifications (after subscribe()) that arrive while a
    reply is awaited are kept in order for notification()."""

    def __init__(self, path=None):
        self.path = path or default_socket_path()
        self._socket = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        try:
            self._socket.connect(self.path)
        except OSError:
            self._socket.close()
            raise
        self._buffer = b""
        self._next_id = 1
        self._notifications = collections.deque()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        self._socket.close()

    # The protocol's methods.

    def hello(self):
        return self.call("hello")

    def status(self):
        return self.call("status")

    def move(self, to, wait=True, timeout=None):
        return self._motion("move", {"to": to}, wait, timeout)

    def step(self, by, wait=True, timeout=None):
        return self._motion("step", {"by": by}, wait, timeout)

    def home(self, wait=True, timeout=None):
        return self._motion("home", {}, wait, timeout)

    def go_to_reference(self, wait=True, timeout=None):
        return self._motion("go_to_reference", {}, wait, timeout)

    def run(self, direction):
        """direction: "forward" or "backward"; rotation stages only."""
        self.call("run", direction=direction)

    def stop(self):
        self.call("stop")

    def set_reference(self, at):
        self.call("set_reference", at=at)

    def set(self, **values):
        """Any of speed, accel, decel (unit/s, unit/s^2) and torque (0-100)."""
        self.call("set", **values)

    def wait(self, timeout=None):
        """Until the motion under way ends; returns the position."""
        params = {} if timeout is None else {"timeout": timeout}
        return self._outcome(self.call("wait", _stop_on_interrupt=True, **params))

    def subscribe(self):
        self.call("subscribe")

    def unsubscribe(self):
        self.call("unsubscribe")

    def notification(self, timeout=None):
        """The next notification as (method, params), or None when none came within timeout
        seconds (None: wait for one)."""
        if not self._notifications:
            self._socket.settimeout(timeout)
            try:
                self._handle(self._read_line())
            except socket.timeout:
                return None
            finally:
                self._socket.settimeout(None)
        if not self._notifications:
            return None  # a stray reply came instead
        message = self._notifications.popleft()
        return message["method"], message.get("params", {})

    # The wire.

    def call(self, method, _stop_on_interrupt=False, **params):
        """Sends one request and returns its result; an error reply raises RequestError."""
        request_id = self._send(method, params)
        try:
            while True:
                message = self._handle(self._read_line())
                if message is not None and message.get("id") == request_id:
                    break
        except KeyboardInterrupt:
            if _stop_on_interrupt:
                # The stage must not keep going for a script that gave up on it.
                self._send("stop", {})
            raise
        if "error" in message:
            error = message["error"]
            raise RequestError(error.get("code"), error.get("message", ""))
        return message["result"]

    def _motion(self, method, params, wait, timeout):
        if wait:
            params["wait"] = True
        if timeout is not None:
            params["timeout"] = timeout
        result = self.call(method, _stop_on_interrupt=wait, **params)
        return self._outcome(result) if wait else None

    @staticmethod
    def _outcome(result):
        if result["outcome"] != "done":
            raise MotionError(result["outcome"], result.get("position"))
        return result["position"]

    def _send(self, method, params):
        request_id = self._next_id
        self._next_id += 1
        request = {"jsonrpc": "2.0", "id": request_id, "method": method}
        if params:
            request["params"] = params
        self._socket.sendall(json.dumps(request, allow_nan=False).encode() + b"\n")
        return request_id

    def _handle(self, line):
        """Queues a notification; returns a reply (replies to abandoned requests included)."""
        message = json.loads(line)
        if "method" in message:
            self._notifications.append(message)
            return None
        return message

    def _read_line(self):
        while b"\n" not in self._buffer:
            chunk = self._socket.recv(65536)
            if not chunk:
                raise ConnectionClosed(f"the panel closed the connection on {self.path}")
            self._buffer += chunk
        line, self._buffer = self._buffer.split(b"\n", 1)
        return line
