#!/usr/bin/python3
"""The window over AT-SPI, as a screen reader hears it: a named label's accessible description
is the text it shows. Runs talviren under Xvfb on a private D-Bus session bus with its own
accessibility bus, against the simulator, with an alarm that the first reading raises.

usage: accessibility_test.py TALVIREN TALVIREN_SIM"""

import os
import subprocess
import sys
import tempfile
import time


def start(args, env, **kw):
    return subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL, **kw)


def main():
    talviren, simulator = sys.argv[1], sys.argv[2]
    processes = []
    with tempfile.TemporaryDirectory() as config:
        env = dict(os.environ, XDG_CONFIG_HOME=config, XDG_RUNTIME_DIR=config,
                   LANG="C.UTF-8", LC_ALL="C.UTF-8")
        os.makedirs(os.path.join(config, "talviren"))
        with open(os.path.join(config, "talviren", "talviren.conf"), "w") as f:
            f.write("[alarms]\nhi=current > 1A\n\n[trend]\npower_factor=0.95\n")
        try:
            read, write = os.pipe()
            xvfb = start(["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24",
                          "-nolisten", "tcp"], env, pass_fds=[write],
                         stderr=subprocess.DEVNULL)
            processes.append(xvfb)
            os.close(write)
            display = os.read(read, 16).decode().strip()
            bus = start(["dbus-daemon", "--session", "--nofork", "--print-address"], env,
                        stdout=subprocess.PIPE)
            processes.append(bus)
            address = bus.stdout.readline().decode().strip()
            env.update(DISPLAY=":" + display, DBUS_SESSION_BUS_ADDRESS=address,
                       QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                       QT_ACCESSIBILITY="1")
            os.environ.update(DBUS_SESSION_BUS_ADDRESS=address, DISPLAY=":" + display)
            processes.append(start([simulator, "--port", "1", "--function", "1"], env,
                                   stdout=subprocess.DEVNULL))
            time.sleep(0.5)
            processes.append(start([talviren], env))

            import pyatspi  # after the bus is chosen: it connects on import

            def labels():
                found = {}

                def walk(node, depth=0):
                    if node is None or depth > 30:
                        return
                    if node.name in ("Raised alarms", "Energy"):
                        found[node.name] = node.description
                    for i in range(node.childCount):
                        walk(node.getChildAtIndex(i), depth + 1)

                desktop = pyatspi.Registry.getDesktop(0)
                for i in range(desktop.childCount):
                    app = desktop.getChildAtIndex(i)
                    if app is not None and "talviren" in (app.name or "").lower():
                        walk(app)
                return found

            heard = {}
            deadline = time.monotonic() + 30
            while time.monotonic() < deadline:
                try:
                    heard = labels()
                except Exception as error:  # the application may not be on the bus yet
                    heard = {"error": str(error)}
                if (heard.get("Raised alarms", "").startswith("\u26a0 hi: current ")
                        and heard.get("Energy", "").startswith("E ")):
                    print("heard:", heard)
                    return 0
                time.sleep(0.5)
            print("not heard over AT-SPI, only:", heard, file=sys.stderr)
            return 1
        finally:
            for p in reversed(processes):
                p.terminate()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()


if __name__ == "__main__":
    sys.exit(main())
