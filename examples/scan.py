#!/usr/bin/python3
"""Scans the stage through evenly spaced positions, waiting at each one for the stage to
stand, as a measurement script would. Usage:
    python3 examples/scan.py [START STOP COUNT] [--socket PATH]
Ctrl+C stops the stage and the scan."""

import argparse
import os
import sys

# Beside the source tree's client when the installed module is not there.
sys.path.append(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "clients", "python"))
from movexa_client import MotionError, Stage  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("start", type=float, nargs="?", default=0.0)
    parser.add_argument("stop", type=float, nargs="?", default=2.0)
    parser.add_argument("count", type=int, nargs="?", default=5)
    parser.add_argument("--socket", help="the panel's control socket")
    args = parser.parse_args()
    with Stage(args.socket) as stage:
        unit = stage.hello()["stage"]["unit"]
        for i in range(args.count):
            target = args.start + (args.stop - args.start) * i / max(args.count - 1, 1)
            try:
                reached = stage.move(target)
            except MotionError as e:
                print(f"stopped: {e.outcome} at {e.position} {unit}", file=sys.stderr)
                return 1
            status = stage.status()
            # The measurement would be taken here.
            print(f"{i + 1}/{args.count}: at {reached:g} {unit}, moving {status['moving']}, "
                  f"error {status['error']}")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit(130)
