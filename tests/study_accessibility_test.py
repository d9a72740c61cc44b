#!/usr/bin/python3
"""talviren --study on a month of the service's compressed daily logs, as a screen reader hears
it: every label of the Study view reads what talviren-cli study prints of the same files.

usage: study_accessibility_test.py TALVIREN TALVIREN_CLI"""

import glob
import os
import subprocess
import sys
import tempfile
import time

from atspi_session import Session

HERE = os.path.dirname(os.path.abspath(__file__))
NAMES = ("study days", "study peak", "study sliding peak", "study load factor", "study energy")


def main():
    talviren, cli = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as logs, Session() as session:
        subprocess.run(["/usr/bin/python3", os.path.join(HERE, "study_logs.py"), logs, "31",
                        "--gzip"], check=True)
        files = sorted(glob.glob(os.path.join(logs, "*")))
        session.env["TZ"] = "UTC"
        printed = subprocess.run([cli, "study", "--power-factor", "0.9"] + files,
                                 env=session.env, capture_output=True, text=True, check=True)
        lines = [line.strip() for line in printed.stdout.splitlines()]
        session.settings("[trend]\npower_factor=0.9\n")
        session.start([talviren, "--study"] + files)
        heard = {}
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            try:
                heard = session.labels(set(NAMES))
            except Exception as error:  # the application may not be on the bus yet
                heard = {"error": str(error)}
            if all(heard.get(name) for name in NAMES):
                break
            time.sleep(0.5)
        print("printed:", lines)
        print("heard:", heard)
        wrong = [name for name in NAMES
                 if not heard.get(name) or not any(heard[name] in line for line in lines)]
        if wrong or heard.get("study days") != "31 of 31 days measured":
            print("not what talviren-cli study prints:", wrong, file=sys.stderr)
            return 1
        return 0


if __name__ == "__main__":
    sys.exit(main())
