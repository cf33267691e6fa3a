#!/usr/bin/python3
"""The web gallery in a real browser: headless Chromium, driven through Selenium, against the
real alarm server on a loopback address of the test's own. A scripted burst of uploads on the
alarm port makes an event; the browser signs in, sees it, opens it, plays and scrubs it, opens
a snapshot full size, downloads the ZIP, deletes the event, signs out and then fails to reach
any of it. Each step saves a screenshot into the output folder.

usage: gallery_browser_test.py SERVER_BINARY OUTPUT_DIR"""
import base64
import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.error
import urllib.request
import zipfile
from pathlib import Path

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

USER, PASSWORD = "alice", "secret1"
FRAMES = 8
FRAME_GAP = 0.25  # seconds between two uploads of the burst, the camera's pace


def loopback_address():
    """127.a.b.c of this process alone, as the C++ tests pick theirs."""
    pid = os.getpid()
    return f"127.{((pid >> 16) + 7) % 254 + 1}.{(pid >> 8) & 255}.{pid & 255}"


def upload(address, port, jpeg):
    """One upload as the camera makes it: log in, DATA, the size, the bytes, QUIT."""
    with socket.create_connection((address, port), timeout=10) as s:
        def exchange(data):
            s.sendall(data)
            return s.recv(1024).decode()
        assert exchange(f"{USER}\n".encode()).startswith("331"), "no password prompt"
        assert exchange(f"{PASSWORD}\n".encode()).startswith("200"), "login refused"
        s.sendall(b"DATA\n")
        assert exchange(f"{len(jpeg)}\n".encode()).startswith("354"), "header refused"
        reply = exchange(jpeg)
        assert reply.startswith("250"), reply
        exchange(b"QUIT\n")


def draw_frames(driver, count):
    """JPEG pictures of a figure crossing a room, drawn by the browser itself."""
    driver.get("about:blank")
    frames = []
    for i in range(count):
        url = driver.execute_script("""
            const c = document.createElement('canvas'); c.width = 640; c.height = 480;
            const g = c.getContext('2d');
            g.fillStyle = '#c8d3de'; g.fillRect(0, 0, 640, 480);
            g.fillStyle = '#7d8c99'; g.fillRect(0, 360, 640, 120);
            g.fillStyle = '#8b5a2b'; g.fillRect(430, 180, 120, 180);
            g.fillStyle = '#1b2430'; const x = 40 + arguments[0] * 70;
            g.beginPath(); g.arc(x, 190, 26, 0, 7); g.fill(); g.fillRect(x - 25, 220, 50, 140);
            g.font = '28px sans-serif'; g.fillText('frame ' + (arguments[0] + 1), 20, 40);
            return c.toDataURL('image/jpeg', 0.7);""", i)
        frames.append(base64.b64decode(url.split(",", 1)[1]))
    return frames


class Steps:
    def __init__(self, driver, out):
        self.driver, self.out, self.count = driver, out, 0

    def shot(self, name):
        self.count += 1
        self.driver.save_screenshot(str(self.out / f"{self.count:02d}-{name}.png"))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1])
    server_binary, out = sys.argv[1], Path(sys.argv[2])
    shutil.rmtree(out, ignore_errors=True)
    out.mkdir(parents=True)
    work = Path(tempfile.mkdtemp(prefix="corvantis-browser-"))
    data, downloads = work / "data", work / "downloads"
    downloads.mkdir()
    address = loopback_address()
    subprocess.run([server_binary, "--data", data, "user", "add", USER, "--hash-cost", "min"],
                   input=f"{PASSWORD}\n", text=True, check=True, capture_output=True)
    log = open(work / "server.log", "w")
    server = subprocess.Popen(
        [server_binary, "--data", data, "serve", "--listen", f"{address}:0",
         "--web", f"{address}:0", "--event-gap", "1"],
        stdout=subprocess.PIPE, stderr=log, text=True)
    driver = None
    try:
        alarm_port = int(re.fullmatch(r"listening on .*:(\d+)\n", server.stdout.readline()).group(1))
        base = re.fullmatch(r"web gallery on (http://.*)/\n", server.stdout.readline()).group(1)

        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for argument in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                         "--window-size=1280,900", "--disable-gpu", "--no-first-run",
                         f"--user-data-dir={work / 'profile'}"):
            options.add_argument(argument)
        options.add_experimental_option("prefs", {
            "download.default_directory": str(downloads), "download.prompt_for_download": False})
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        wait = WebDriverWait(driver, 20)
        steps = Steps(driver, out)

        frames = draw_frames(driver, FRAMES)
        for i, frame in enumerate(frames):
            if i:
                time.sleep(FRAME_GAP)  # the camera's pace, which the flip-book plays back
            upload(address, alarm_port, frame)

        # Sign in: the gallery leads there first.
        driver.get(base + "/events")
        assert "/signin" in driver.current_url, driver.current_url
        driver.find_element(By.NAME, "user").send_keys(USER)
        driver.find_element(By.NAME, "password").send_keys(PASSWORD)
        steps.shot("sign-in")
        driver.find_element(By.CSS_SELECTOR, "form.signin button").click()
        wait.until(lambda d: d.current_url.endswith("/events"))
        # The burst is one event of all its snapshots, with its thumbnail.
        entry = driver.find_element(By.CSS_SELECTOR, "ol.events li a")
        assert f"{FRAMES} snapshots" in entry.text, entry.text
        thumbnail = entry.find_element(By.TAG_NAME, "img")
        wait.until(lambda d: d.execute_script(
            "return arguments[0].complete && arguments[0].naturalWidth", thumbnail) == 240)
        steps.shot("events")
        driver.set_window_size(390, 844)
        steps.shot("events-phone")
        driver.set_window_size(1280, 900)

        # The event: a flip-book that plays at the capture pace and steps with the keys.
        entry.click()
        wait.until(lambda d: re.search(r"/events/\d+$", d.current_url))
        event_url = driver.current_url
        position = driver.find_element(By.ID, "position")
        assert position.text == f"1 / {FRAMES}", position.text
        steps.shot("event")
        started = time.monotonic()
        driver.find_element(By.ID, "play").click()
        wait.until(lambda d: position.text == f"{FRAMES} / {FRAMES}")
        played = time.monotonic() - started
        # Captured FRAME_GAP apart: playing all of them takes about as long (and never
        # flips through at once).
        assert played >= (FRAMES - 1) * FRAME_GAP * 0.6, played
        steps.shot("played")
        body = driver.find_element(By.TAG_NAME, "body")
        for _ in range(3):
            body.send_keys(Keys.ARROW_LEFT)
        assert position.text == f"{FRAMES - 3} / {FRAMES}", position.text
        scrub = driver.find_element(By.ID, "scrub")
        assert scrub.get_attribute("value") == str(FRAMES - 4)
        driver.execute_script(
            "arguments[0].value = 1; arguments[0].dispatchEvent(new Event('input'))", scrub)
        assert position.text == f"2 / {FRAMES}", position.text
        steps.shot("scrubbed")
        driver.set_window_size(390, 844)
        steps.shot("event-phone")
        driver.set_window_size(1280, 900)

        # Full size: the snapshot as stored.
        full = driver.find_element(By.ID, "full").get_attribute("href")
        driver.find_element(By.ID, "frame").click()
        wait.until(lambda d: d.current_url == full)
        assert driver.execute_script("return document.images[0].naturalWidth") == 640
        snapshot_url = driver.current_url
        steps.shot("full-size")
        driver.get(event_url)

        # The ZIP: every snapshot byte for byte, in order.
        driver.find_element(By.ID, "download").click()
        wait.until(lambda d: any(p.suffix == ".zip" for p in downloads.iterdir()))
        archive = next(p for p in downloads.iterdir() if p.suffix == ".zip")
        with zipfile.ZipFile(archive) as z:
            names = z.namelist()
            assert len(names) == FRAMES, names
            assert [z.read(n) for n in names] == frames, "the ZIP differs from the uploads"
            assert all(i.compress_type == zipfile.ZIP_STORED for i in z.infolist())
        steps.shot("downloaded")

        # Delete, once the event has closed (a gap of 1 s after the burst), through the
        # confirmation step.
        driver.find_element(By.LINK_TEXT, "Delete…").click()
        wait.until(lambda d: d.find_elements(By.CSS_SELECTOR, "button.danger") or d.refresh())
        steps.shot("delete-confirm")
        driver.find_element(By.CSS_SELECTOR, "button.danger").click()
        wait.until(lambda d: "deleted=" in d.current_url)
        assert "deleted." in driver.find_element(By.CSS_SELECTOR, ".notice").text
        assert not driver.find_elements(By.CSS_SELECTOR, "ol.events li")
        steps.shot("deleted")
        driver.get(event_url)
        assert "Not found" in driver.title, driver.title

        # Sign out: the session is over, on the server too.
        driver.find_element(By.CSS_SELECTOR, ".account button").click()
        wait.until(lambda d: "/signin" in d.current_url)
        steps.shot("signed-out")
        driver.get(base + "/live")
        assert "/signin" in driver.current_url, driver.current_url
        driver.get(snapshot_url)
        assert "Sign in first." in driver.find_element(By.TAG_NAME, "body").text
        steps.shot("after-sign-out")

        # No page broke its own Content-Security-Policy, nor raised an error.
        # (The pages reached on purpose after the deletion and sign-out answer 404 and 401, and
        # the browser's own viewer of a picture opened by itself styles it inline.)
        problems = [e["message"] for e in driver.get_log("browser")
                    if e["level"] == "SEVERE" and e["source"] != "network"
                    and not re.match(r"\S+/snapshots/\d+ - Applying inline style", e["message"])]
        assert not problems, problems
        print(f"browser test passed: {steps.count} screenshots in {out}; played {played:.2f} s")
    finally:
        if driver:
            driver.quit()
        server.terminate()
        server.wait(timeout=30)
        log.close()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
