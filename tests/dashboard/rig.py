"""What the dashboard's tests and bench stand on beside tests/mqtt/harness.py:
the WebSockets listener of the shipped example configuration
(packaging/dashboard/mosquitto-dashboard.conf) for harness.Broker, and
headless Chromium under Selenium."""

import os
import shutil

from selenium import webdriver
from selenium.webdriver.chrome.service import Service

PAGE_DIR_OF_PACKAGE = "/usr/share/rxb540/dashboard"


def example_listener(source_dir, page_dir):
    """The example's listener on {ws_port} (chosen at the broker's start), serving page_dir."""
    with open(os.path.join(source_dir, "packaging/dashboard/mosquitto-dashboard.conf")) as example:
        lines = [line.strip() for line in example if line.strip() and not line.startswith("#")]
    listener = lines[lines.index("listener 8080"):]
    assert listener[:3] == ["listener 8080", "protocol websockets", "http_dir " + PAGE_DIR_OF_PACKAGE], listener
    return "\n".join(["listener {ws_port}", "protocol websockets", "http_dir " + page_dir] + listener[3:]) + "\n"


def chromium():
    """Headless Chromium (without its sandbox as root, which it refuses),
    keeping the browser console's messages."""
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for argument in ("--headless=new", "--disable-gpu", "--window-size=1280,800", "--lang=en"):
        options.add_argument(argument)
    if os.geteuid() == 0:
        options.add_argument("--no-sandbox")
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(shutil.which("chromedriver") or "/usr/bin/chromedriver"), options=options)
