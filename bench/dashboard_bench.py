"""The dashboard with a large fleet (bench/dashboard.sh runs this): the
retained topics of HOSTS hosts x BOARDS boards x RELAYS relays are published
straight to a mosquitto that serves the installed page, then headless
Chromium loads the page RUNS times. Each run measures, inside the page, the
time from the first retained message's arrival on the WebSocket to the frame
in which every switch shows its state. Prints Markdown.

Usage: dashboard_bench.py PAGE_DIR [HOSTS BOARDS RELAYS RUNS]"""

import json
import os
import shutil
import statistics
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "mqtt"))
import harness  # noqa: E402

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "dashboard"))
from rig import chromium, example_listener  # noqa: E402

PAGE_DIR = sys.argv[1]
SOURCE_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
HOSTS, BOARDS, RELAYS, RUNS = (int(value) for value in (sys.argv[2:] + ["50", "4", "8", "5"][len(sys.argv) - 2:]))

# Runs before the page's own scripts (CDP, outside the page's CSP): logs in
# as the tester, notes when the first PUBLISH frame arrives, and checks each
# frame for the switches that show a state.
PROBE = """
sessionStorage.setItem("rxb540-dashboard-login", JSON.stringify({username: "tester", password: %s}));
window.benchFirst = 0;
window.benchDone = 0;
const NativeWebSocket = window.WebSocket;
window.WebSocket = class extends NativeWebSocket {
  constructor(...args) {
    super(...args);
    this.addEventListener("message", (event) => {
      if (!window.benchFirst && event.data instanceof ArrayBuffer && new Uint8Array(event.data)[0] >> 4 === 3)
        window.benchFirst = performance.now();
    });
  }
};
const expected = %d;
function probe() {
  if (document.querySelectorAll('[role=switch]:not([aria-checked=mixed])').length === expected)
    window.benchDone = performance.now();
  else
    requestAnimationFrame(probe);
}
requestAnimationFrame(probe);
"""


def publish_fleet(tester):
    for h in range(HOSTS):
        base = "rxb540/bench-%02d" % h
        serials = ["17%08d" % (h * BOARDS + b) for b in range(BOARDS)]
        tester.publish(base + "/status", "online", retain=True)
        tester.publish(base + "/boards", json.dumps(serials), retain=True)
        for serial in serials:
            tester.publish("%s/%s/availability" % (base, serial), "online", retain=True)
            tester.publish("%s/%s/info" % (base, serial), json.dumps(
                {"name": "Rack " + serial, "relays": RELAYS, "relay_names": ["Load %d" % n for n in range(1, RELAYS + 1)]}),
                retain=True)
            for n in range(1, RELAYS + 1):
                tester.publish("%s/%s/relay/%d" % (base, serial, n), "ON" if n % 2 else "OFF", retain=True)


def main():
    folder = harness.temporary_folder()
    broker = harness.Broker(folder, {}, listener_extra=example_listener(SOURCE_DIR, PAGE_DIR))
    broker.start()
    driver = None
    try:
        tester = broker.tester()
        publish_fleet(tester)
        tester.close()
        driver = chromium()
        switches = HOSTS * BOARDS * RELAYS
        driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument",
                               {"source": PROBE % (json.dumps(harness.TESTER_PASSWORD), switches)})
        times = []
        for _ in range(RUNS):
            driver.get("http://127.0.0.1:%d/" % broker.ws_port)
            if not harness.wait_until(lambda: driver.execute_script("return window.benchDone"), 30):
                unknown = driver.execute_script(
                    "return document.querySelectorAll('[role=switch][aria-checked=mixed]').length")
                raise RuntimeError("after 30 s, %d of %d switches show no state" % (unknown, switches))
            times.append(driver.execute_script("return window.benchDone - window.benchFirst"))
    finally:
        if driver:
            driver.quit()
        broker.stop()
        shutil.rmtree(folder, ignore_errors=True)
    print("| hosts x boards x relays | switches | runs | median | slowest |")
    print("|---|---|---|---|---|")
    print("| %d x %d x %d | %d | %d | %.0f ms | %.0f ms |" % (HOSTS, BOARDS, RELAYS, switches, RUNS,
                                                          statistics.median(times), max(times)))


if __name__ == "__main__":
    main()
