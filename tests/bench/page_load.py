"""The live page loaded in headless Chromium, again and again: from the navigation's start to
its load event, and to the first reading shown (the page's "first-reading" mark, set once its
first requests have come back). Prints "name<TAB>value<TAB>unit" lines with the medians.

    page_load.py URL RUNS
"""
import statistics
import sys
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

url, runs = sys.argv[1], int(sys.argv[2])
options = webdriver.ChromeOptions()
options.binary_location = "/usr/bin/chromium"
for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                 "--disable-background-networking", "--disable-component-update",
                 "--disable-sync", "--no-first-run", "--window-size=1280,1000"):
    options.add_argument(argument)
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
loads, readings, sizes = [], [], []
try:
    for run in range(runs + 1):
        driver.get("about:blank")
        driver.get(url)
        end = time.monotonic() + 10
        mark = []
        while not mark and time.monotonic() < end:
            mark = driver.execute_script(
                "return performance.getEntriesByName('first-reading').map(e => e.startTime)")
            time.sleep(0.01)
        navigation = driver.execute_script(
            "const n = performance.getEntriesByType('navigation')[0];"
            "return [n.loadEventEnd, n.transferSize]")
        if run == 0:
            continue  # the browser's own first start
        loads.append(navigation[0])
        sizes.append(navigation[1])
        readings.append(mark[0] if mark else float("nan"))
finally:
    driver.quit()
print(f"web_page_load\t{statistics.median(loads):.3f}\tms")
print(f"web_page_first_reading\t{statistics.median(readings):.3f}\tms")
print(f"web_page_bytes\t{statistics.median(sizes):.0f}\tbytes")
