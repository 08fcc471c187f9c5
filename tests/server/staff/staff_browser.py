#!/usr/bin/env python3
"""The staff view in a real browser: headless Chromium, driven through chromedriver by
Selenium, against a running pelora-server's staff port that holds a trainee's drives.

Logs in, opens the trainee, opens a drive, finds the path drawn with as many points as the
drive's trajectory, moves the replay slider and sees the chair move along the path, downloads
the trainee's CSV, and logs out. Exit 0 when all of that held, 1 on a failure (said on
standard error), 77 with a reason when no browser can be run here.

Usage: staff_browser.py URL STAFF PASSWORD TRAINEE SAMPLES DRIVES
"""
import os
import shutil
import sys
import tempfile
import time

SKIP = 77


def skip(reason):
    print("SKIP: " + reason)
    sys.exit(SKIP)


def fail(reason):
    print("FAIL: " + reason, file=sys.stderr)
    sys.exit(1)


def wait_for(what, condition, seconds=20):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    fail("timed out waiting for " + what)


def main():
    if len(sys.argv) != 7:
        print(__doc__, file=sys.stderr)
        return 2
    url, staff, password, trainee, samples, drives = sys.argv[1:]
    samples, drives = int(samples), int(drives)
    browser = shutil.which("chromium") or shutil.which("chromium-browser")
    driver_path = shutil.which("chromedriver")
    if not browser:
        skip("chromium is not installed (Debian package chromium)")
    if not driver_path:
        skip("chromedriver is not installed (Debian package chromium-driver)")
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.by import By
        from selenium.webdriver.common.keys import Keys
    except ImportError:
        skip("Selenium for Python is not installed (Debian package python3-selenium)")

    profile = tempfile.mkdtemp(prefix="pelora-chromium-")
    downloads = tempfile.mkdtemp(prefix="pelora-downloads-")
    options = webdriver.ChromeOptions()
    options.binary_location = browser
    for argument in ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync",
                     "--user-data-dir=" + profile, "--window-size=1280,1024"]:
        options.add_argument(argument)
    # The server's certificate is its own, made on its first start.
    options.set_capability("acceptInsecureCerts", True)
    options.add_experimental_option("prefs", {"download.default_directory": downloads,
                                              "download.prompt_for_download": False})
    try:
        driver = webdriver.Chrome(service=Service(driver_path), options=options)
    except Exception as error:  # a browser that cannot start here at all
        shutil.rmtree(profile, ignore_errors=True)
        skip("Chromium does not start: " + str(error).splitlines()[0])
    try:
        driver.set_page_load_timeout(30)
        run(driver, By, Keys, url, staff, password, trainee, samples, drives, downloads)
    finally:
        driver.quit()
        shutil.rmtree(profile, ignore_errors=True)
        shutil.rmtree(downloads, ignore_errors=True)
    print("OK: logged in, opened %s and a drive of %d points, replayed it, downloaded the CSV, "
          "logged out" % (trainee, samples))
    return 0


def run(driver, By, Keys, url, staff, password, trainee, samples, drives, downloads):
    # Every page wants a login first.
    driver.get(url + "/")
    if "/login" not in driver.current_url:
        fail("the trainees page opened without a login: " + driver.current_url)
    driver.find_element(By.ID, "name").send_keys(staff)
    driver.find_element(By.ID, "password").send_keys(password)
    driver.find_element(By.CSS_SELECTOR, "form button[type=submit]").click()
    wait_for("the trainees page", lambda: driver.find_elements(By.ID, "trainees"))
    cookies = {c["name"]: c for c in driver.get_cookies()}
    session = cookies.get("pelora_staff")
    if not session or not session.get("secure") or not session.get("httpOnly") or \
            session.get("sameSite") != "Strict":
        fail("the session cookie lacks Secure, HttpOnly or SameSite=Strict: %r" % session)

    # The trainee, by the link in the list.
    driver.find_element(By.LINK_TEXT, trainee).click()
    rows = wait_for("the trainee's drives",
                    lambda: driver.find_elements(By.CSS_SELECTOR, "#drives tbody tr"))
    if len(rows) != drives:
        fail("the trainee's page lists %d drives, not %d" % (len(rows), drives))

    # A drive: the path drawn has a point per sample.
    rows[0].find_element(By.TAG_NAME, "a").click()
    path = wait_for("the drawn path", lambda: driver.find_elements(By.ID, "trajectory"))[0]
    points = driver.execute_script("return arguments[0].points.numberOfItems;", path)
    if points != samples:
        fail("the path has %d points, the trajectory %d samples" % (points, samples))

    # The replay: the slider moves the chair onto the path's points.
    slider = driver.find_element(By.ID, "replay")
    wait_for("the replay to be ready", lambda: slider.is_enabled())
    chair = driver.find_element(By.ID, "chair")
    start = (chair.get_attribute("cx"), chair.get_attribute("cy"))
    slider.click()
    slider.send_keys(Keys.END)
    last = driver.execute_script(
        "var p = arguments[0].points.getItem(arguments[0].points.numberOfItems - 1);"
        "return [p.x, p.y];", path)
    moved = wait_for("the chair to move", lambda: (chair.get_attribute("cx"),
                                                    chair.get_attribute("cy")) != start)
    cx, cy = float(chair.get_attribute("cx")), float(chair.get_attribute("cy"))
    if moved and (abs(cx - last[0]) > 0.01 or abs(cy - last[1]) > 0.01):
        fail("at the end of the replay the chair is at %s,%s, the path ends at %s" %
             (cx, cy, last))
    shown = driver.find_element(By.ID, "replay-time").text
    if not shown.endswith(" s") or float(shown[:-2]) <= 0:
        fail("the replay's time reads %r at the end" % shown)

    # The trainee's CSV, downloaded as a file.
    driver.back()
    link = wait_for("the CSV link",
                    lambda: driver.find_elements(By.PARTIAL_LINK_TEXT, "as CSV"))[0]
    link.click()
    csv = wait_for("the CSV download", lambda: [
        name for name in os.listdir(downloads) if name.endswith(".csv")])[0]
    with open(os.path.join(downloads, csv), encoding="utf-8") as file:
        lines = [line for line in file.read().splitlines() if line]
    if len(lines) != drives + 1 or not lines[0].startswith("user,"):
        fail("the CSV has %d lines, not a header and %d drives" % (len(lines), drives))

    # Logging out ends the session: the pages want a login again.
    driver.find_element(By.CSS_SELECTOR, "form.logout button").click()
    wait_for("the login page", lambda: "/login" in driver.current_url)
    driver.get(url + "/trainee?name=" + trainee)
    if "/login" not in driver.current_url:
        fail("a page opened after logging out: " + driver.current_url)


if __name__ == "__main__":
    sys.exit(main())
