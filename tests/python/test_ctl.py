"""movexa-ctl against the real panel: exit codes, Ctrl+C during a wait, and every client of
a panel that closes."""

import json
import os
import select
import signal
import subprocess
import unittest

from panel import CTL, DEADLINE, PanelTest, mc


def first_line(process):
    readable, _, _ = select.select([process.stdout], [], [], DEADLINE)
    return process.stdout.readline() if readable else ""


class CtlTest(PanelTest):
    def test_exit_codes(self):
        rows = (  # arguments, exit code, start of standard output
            (("move", "0.2", "--wait"), 0, "done 0.2"),
            (("stop",), 0, "sent"),
            (("move", "5000"), 1, ""),  # an error reply: out of range
            # A wait needs polls to end done; 10 ms is over long before.
            (("step", "0.1", "--wait", "--timeout", "0.01"), 1, "timeout"),
            (("move", "1.5x"), 2, ""),
            (("move", "nan"), 2, ""),
            (("step", "inf", "--wait"), 2, ""),
            (("set", "speed=2", "pace=1"), 2, ""),
            (("run", "sideways"), 2, ""),
        )
        for args, code, out in rows:
            with self.subTest(args=args):
                done = self.panel.ctl(*args)
                self.assertEqual((done.returncode, done.stdout[:len(out)]), (code, out))
        with self.subTest("no panel"):
            done = subprocess.run([CTL, "--socket", self.panel.socket + ".none", "status"],
                                  capture_output=True, timeout=DEADLINE)
            self.assertEqual(done.returncode, 3)

    def test_json_prints_the_reply(self):
        done = self.panel.ctl("--json", "status")
        self.assertEqual(json.loads(done.stdout)["result"]["connected"], True)

    def test_ctrl_c_during_a_wait_stops_the_stage(self):
        ctl = self.panel.ctl_process("move", "500", "--wait")
        self.until_moving(True)
        ctl.send_signal(signal.SIGINT)
        out, _ = ctl.communicate(timeout=DEADLINE)
        self.assertEqual((ctl.returncode, out.split(" ")[0]), (1, "stopped"))
        self.until_moving(False)

    def test_watch_prints_status_until_ctrl_c(self):
        watch = self.panel.ctl_process("watch")
        self.assertTrue(first_line(watch).startswith("accel="))
        watch.send_signal(signal.SIGINT)
        self.assertEqual(watch.wait(DEADLINE), 0)


class ClosingTest(PanelTest):
    def test_clients_see_the_end_and_the_panel_exits_0(self):
        watch = self.panel.ctl_process("watch")
        self.assertTrue(first_line(watch).startswith("accel="))
        self.stage.subscribe()
        self.panel.process.send_signal(signal.SIGTERM)
        self.assertEqual(self.panel.process.wait(DEADLINE), 0)
        with self.assertRaises(mc.ConnectionClosed):
            for _ in range(1000):  # the status lines sent before the end, then the end
                self.stage.notification(timeout=DEADLINE)
        # The socket file goes with the panel.
        self.assertEqual((watch.wait(DEADLINE), watch.stderr.read(),
                          os.path.exists(self.panel.socket)),
                         (1, "movexa-ctl: the panel closed the connection\n", False))
