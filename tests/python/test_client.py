"""The Python client against the real panel: what a script sees of each stage type, waits
that end in each way a script meets, and the rules for clients that go away. Bad input,
many clients and the operator's own controls ending a wait are covered by the C++ suite."""

import os
import signal
import subprocess
import sys
import tempfile
import threading
import unittest
import unittest.mock

from panel import CTL, STAGE_SIM, Panel, PanelTest, mc, need_pty, poll, stop


class HelloTest(unittest.TestCase):
    def test_each_stage_type_names_its_unit(self):
        rows = (("linear", "mm"), ("rotation", "rad"), ("lifting", "mm"))
        panels = {t: Panel("--virtual-stage", "--stage-type", t) for t, _ in rows}
        for p in panels.values():
            self.addCleanup(p.close)
        for stage_type, unit in rows:
            with self.subTest(stage_type), panels[stage_type].client() as client:
                # The type is read from the controller shortly after it connects.
                stage = poll(lambda: client.hello()["stage"], lambda s: s["type"] == stage_type)
                self.assertEqual((stage["type"], stage["unit"]), (stage_type, unit))


class MotionTest(PanelTest):
    def test_move_and_step_reach_their_targets(self):
        self.assertAlmostEqual(self.stage.move(1.0), 1.0, places=3)
        self.assertAlmostEqual(self.stage.step(-0.25), 0.75, places=3)
        self.assertAlmostEqual(self.stage.status()["position"], 0.75, places=3)

    def test_stop_from_another_client_ends_the_wait(self):
        ended = []

        def far_move():
            try:
                self.stage.move(500.0)
            except mc.MotionError as e:
                ended.append(e.outcome)
        waiter = threading.Thread(target=far_move)
        waiter.start()
        with self.panel.client() as other:
            self.until_moving(True, other)
            other.stop()
            waiter.join(20)
            self.assertEqual(ended, ["stopped"])
            self.until_moving(False, other)

    def test_out_of_range_names_the_field_and_range(self):
        low, high = self.stage.hello()["limits"]["position"]
        with self.assertRaises(mc.RequestError) as caught:
            self.stage.move(high + 1)
        self.assertEqual((caught.exception.code, caught.exception.message),
                         (-32602, f"'to' must be a number from {low:g} to {high:g} mm"))

    def test_ctrl_c_during_a_wait_stops_and_the_client_goes_on(self):
        script = ("import sys, movexa_client as m\n"
                  "stage = m.Stage(sys.argv[1])\n"
                  "try:\n"
                  "    stage.move(500.0)\n"
                  "except KeyboardInterrupt:\n"
                  "    print('interrupted', stage.hello()['protocol'])\n")
        script_process = self.panel.spawn(sys.executable, "-c", script, self.panel.socket)
        self.until_moving(True)
        script_process.send_signal(signal.SIGINT)
        out, err = script_process.communicate(timeout=20)
        # The late replies to the abandoned wait and the stop are no answer to hello.
        self.assertEqual((script_process.returncode, out, err), (0, "interrupted 1\n", ""))
        self.until_moving(False)


class RotationTest(PanelTest):
    TYPE = "rotation"
    ARGS = ("--virtual-stage", "--stage-type", TYPE)

    def test_run_stops_when_its_client_leaves(self):
        with self.panel.client() as runner:
            runner.run("forward")
            self.until_moving(True)
        self.until_moving(False)


class DefaultPathTest(unittest.TestCase):
    def test_clients_find_the_panel_without_a_path(self):
        panel = Panel("--virtual-stage", default_socket=True)
        self.addCleanup(panel.close)
        panel.client().close()
        with unittest.mock.patch.dict(os.environ, XDG_RUNTIME_DIR=panel.dir.name), \
                mc.Stage() as stage:
            self.assertEqual(stage.hello()["protocol"], 1)
        done = subprocess.run([CTL, "hello"], env=panel.env, capture_output=True, timeout=20)
        self.assertEqual(done.returncode, 0)


class CableTest(unittest.TestCase):
    def test_pulled_cable_ends_the_wait_disconnected(self):
        need_pty()
        folder = tempfile.TemporaryDirectory(prefix="movexa-e2e-")
        self.addCleanup(folder.cleanup)
        link = os.path.join(folder.name, "link")
        # Long enough for the panel to start and the move to begin on a loaded machine.
        sim = subprocess.Popen([STAGE_SIM, "--link", link, "--hang-up-after", "4000"],
                               stdout=subprocess.DEVNULL)
        self.addCleanup(stop, sim)
        poll(lambda: os.path.exists(link), bool)
        panel = Panel("--controller-port", link)
        self.addCleanup(panel.close)
        with panel.client() as stage:
            stage.subscribe()
            with self.assertRaises(mc.MotionError) as caught:
                stage.move(500.0)  # far beyond the hang-up
            self.assertEqual(caught.exception.outcome, "disconnected")
            # Notifications that came during the wait were kept, the last one too.
            seen = []
            while (n := stage.notification(timeout=5)) and n[0] != "connection":
                seen.append(n[0])
            self.assertEqual((n, "status" in seen), (("connection", {"connected": False}), True))
