"""A desktop of a test's own for the window: Xvfb, a private D-Bus session bus with its own
accessibility bus, and what talviren needs to be heard over AT-SPI; the labels a screen reader
hears, by their accessible names."""

import os
import subprocess
import tempfile


class Session:
    def __init__(self):
        self.processes = []
        self.folder = tempfile.TemporaryDirectory()
        self.config = self.folder.name
        self.env = dict(os.environ, XDG_CONFIG_HOME=self.config, XDG_RUNTIME_DIR=self.config,
                        LANG="C.UTF-8", LC_ALL="C.UTF-8")
        os.makedirs(os.path.join(self.config, "talviren"))

    def __enter__(self):
        read, write = os.pipe()
        self.start(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24",
                    "-nolisten", "tcp"], pass_fds=[write], stderr=subprocess.DEVNULL)
        os.close(write)
        display = os.read(read, 16).decode().strip()
        bus = self.start(["dbus-daemon", "--session", "--nofork", "--print-address"],
                         stdout=subprocess.PIPE)
        address = bus.stdout.readline().decode().strip()
        self.env.update(DISPLAY=":" + display, DBUS_SESSION_BUS_ADDRESS=address,
                        QT_QPA_PLATFORM="xcb", QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1",
                        QT_ACCESSIBILITY="1")
        os.environ.update(DBUS_SESSION_BUS_ADDRESS=address, DISPLAY=":" + display)
        return self

    def __exit__(self, *error):
        for p in reversed(self.processes):
            p.terminate()
            try:
                p.wait(5)
            except subprocess.TimeoutExpired:
                p.kill()
        self.folder.cleanup()

    def settings(self, text):
        with open(os.path.join(self.config, "talviren", "talviren.conf"), "w") as f:
            f.write(text)

    def start(self, args, **kw):
        process = subprocess.Popen(args, env=self.env, stdin=subprocess.DEVNULL, **kw)
        self.processes.append(process)
        return process

    def labels(self, names):
        """The descriptions of the nodes of talviren with these accessible names."""
        import pyatspi  # after the bus is chosen: it connects on import

        found = {}

        def walk(node, depth=0):
            if node is None or depth > 40:
                return
            if node.name in names:
                found[node.name] = node.description
            for i in range(node.childCount):
                walk(node.getChildAtIndex(i), depth + 1)

        desktop = pyatspi.Registry.getDesktop(0)
        for i in range(desktop.childCount):
            app = desktop.getChildAtIndex(i)
            if app is not None and "talviren" in (app.name or "").lower():
                walk(app)
        return found
