#!/usr/bin/python3
"""The window over AT-SPI, as a screen reader hears it: a named label's accessible description
is the text it shows. Runs talviren under Xvfb on a private D-Bus session bus with its own
accessibility bus, against the simulator, with an alarm that the first reading raises.

usage: accessibility_test.py TALVIREN TALVIREN_SIM"""

import subprocess
import sys
import time

from atspi_session import Session


def main():
    talviren, simulator = sys.argv[1], sys.argv[2]
    with Session() as session:
        session.settings("[alarms]\nhi=current > 1A\n\n[trend]\npower_factor=0.95\n")
        session.start([simulator, "--port", "1", "--function", "1"], stdout=subprocess.DEVNULL)
        time.sleep(0.5)
        session.start([talviren])
        heard = {}
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            try:
                heard = session.labels({"Raised alarms", "Energy"})
            except Exception as error:  # the application may not be on the bus yet
                heard = {"error": str(error)}
            if (heard.get("Raised alarms", "").startswith("\u26a0 hi: current ")
                    and heard.get("Energy", "").startswith("E ")):
                print("heard:", heard)
                return 0
            time.sleep(0.5)
        print("not heard over AT-SPI, only:", heard, file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main())
