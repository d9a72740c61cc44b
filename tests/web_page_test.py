"""The live page in headless Chromium: talviren-cli watch --http serves the simulator, and the
page shows a reading, then the next one, with its chart, on a desktop and on a phone-sized
screen, without one error in the browser's console (a resource refused by the page's content
security policy would be one).

    web_page_test.py TALVIREN_CLI TALVIREN_SIM
"""
import os
import socket
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.support.ui import WebDriverWait


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for_text(path, text, seconds):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        with open(path, encoding="utf-8") as f:
            if text in f.read():
                return True
        time.sleep(0.1)
    return False


def browser(width, height):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--disable-background-networking", "--disable-component-update",
                     "--disable-sync", "--no-first-run", f"--window-size={width},{height}"):
        options.add_argument(argument)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def check_page(driver, url):
    driver.get(url)
    wait = WebDriverWait(driver, 15)
    seq = lambda: int(driver.find_element("id", "reading-info").get_attribute("data-seq"))
    wait.until(lambda d: seq() >= 1)
    first = seq()
    current = driver.find_element("id", "current-value").text
    assert current.endswith("A") and current[:-1].replace(".", "").isdigit(), current
    assert driver.find_element("id", "second-name").text == "AC U:"
    wait.until(lambda d: seq() > first)
    wait.until(lambda d: d.find_element("id", "link").get_attribute("class") == "connected")
    wait.until(lambda d: d.execute_script(
        "return document.querySelectorAll('#current-chart canvas, #second-chart canvas').length") >= 2)
    wait.until(lambda d: len(d.find_elements("css selector", "#statistics tr")) >= 3)
    overflow = driver.execute_script(
        "return document.documentElement.scrollWidth - window.innerWidth")
    assert overflow <= 0, f"the page is {overflow} px wider than the screen"
    errors = [entry for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]
    assert not errors, errors


def main():
    cli, sim = sys.argv[1], sys.argv[2]
    with tempfile.TemporaryDirectory() as folder:
        env = dict(os.environ, XDG_CONFIG_HOME=folder, LC_ALL="C")
        token = os.path.join(folder, "token")
        with open(token, "w", encoding="utf-8") as f:
            f.write("page-token\n")
        port = free_port()
        errors = os.path.join(folder, "errors")
        processes = [subprocess.Popen([sim, "--port", "12", "--function", "1"], env=env,
                                      stdout=subprocess.DEVNULL)]
        try:
            time.sleep(0.5)
            with open(errors, "w", encoding="utf-8") as stderr:
                processes.append(subprocess.Popen(
                    [cli, "watch", "--port", "12", "--http", str(port), "--http-token-file", token,
                     "--power-factor", "0.9"],
                    env=env, stdout=subprocess.DEVNULL, stderr=stderr))
            assert wait_for_text(errors, "connected on COM12", 15), open(errors).read()
            url = f"http://127.0.0.1:{port}/?token=page-token"
            for width, height in ((1280, 1000), (390, 844)):
                driver = browser(width, height)
                try:
                    check_page(driver, url)
                finally:
                    driver.quit()
        finally:
            for process in reversed(processes):
                process.terminate()
                process.wait(10)
    print("the page showed a reading, then the next, on both screens")


if __name__ == "__main__":
    main()
