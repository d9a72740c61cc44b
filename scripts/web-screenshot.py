"""Takes the README's picture of the live page: talviren-cli watch --http on the simulator for
half a minute, the meter silent for five seconds in the middle (a gap in the chart), then the
page in headless Chromium, saved as PNG.

    web-screenshot.py TALVIREN_CLI TALVIREN_SIM OUTPUT.png   (XDG_CONFIG_HOME: a private one)
"""
import os
import signal
import socket
import subprocess
import sys
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service


def main():
    cli, sim, output = sys.argv[1:4]
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    meter = subprocess.Popen([sim, "--port", "5", "--function", "1"], stdout=subprocess.DEVNULL)
    time.sleep(0.5)
    watch = subprocess.Popen(
        [cli, "watch", "--port", "5", "--http", str(port), "--meter-id", "bench",
         "--power-factor", "0.95", "--alarm", "high: current > 13A",
         "--alarm", "mains: ac_voltage outside 210V..250V for 1m"],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, env=dict(os.environ, LC_ALL="C"))
    try:
        time.sleep(14)
        meter.send_signal(signal.SIGUSR1)  # the meter falls silent
        time.sleep(5)
        meter.send_signal(signal.SIGUSR1)  # and answers again
        time.sleep(14)
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                         "--disable-dev-shm-usage", "--disable-background-networking",
                         "--disable-component-update", "--disable-sync", "--no-first-run",
                         "--window-size=1100,1250", "--hide-scrollbars"):
            options.add_argument(argument)
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        try:
            driver.get(f"http://127.0.0.1:{port}/")
            time.sleep(3)
            height = driver.execute_script("return document.documentElement.scrollHeight")
            # The whole page in one picture, however tall the screen Chromium thinks it has.
            driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                "width": 1100, "height": height, "deviceScaleFactor": 1, "mobile": False})
            time.sleep(1)
            driver.save_screenshot(output)
        finally:
            driver.quit()
    finally:
        watch.terminate()
        meter.terminate()
        watch.wait(10)
        meter.wait(10)


if __name__ == "__main__":
    main()
