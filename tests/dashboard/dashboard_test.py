"""The dashboard in headless Chromium against a real mosquitto that serves
the installed page (http_dir) and MQTT over WebSockets on one listener, set
up from the shipped example configuration and ACL, with two bridges on
simulated hosts. Usage: dashboard_test.py PAGE_DIR SOURCE_DIR [SCREENSHOT_DIR]"""

import os
import shutil
import sys
import time

from selenium.common.exceptions import NoAlertPresentException
from selenium.webdriver.common.by import By

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "mqtt"))
import harness  # noqa: E402
from rig import chromium, example_listener  # noqa: E402

PAGE_DIR, SOURCE_DIR = sys.argv[1], sys.argv[2]
SCREENSHOTS = sys.argv[3] if len(sys.argv) > 3 else ""
HOSTILE = "<img src=x onerror=alert(1)>"
DASHBOARD_PASSWORD = "dashboard-pw"
BOARDS = {"lab-a": ["1700000001", "1700000002"], "lab-b": ["1700000003"]}
NAMES = {"1700000001": ("Rack A", ["DUT power", HOSTILE, "Relay 3", "Fan"])}


def bridge_settings(host_id, folder):
    text = "username %s\npassword-file %s\nrelays 4\ninitial-state 0\n" % (
        host_id, harness.user_password(folder, host_id, host_id + "-pw"))
    for serial in BOARDS[host_id]:
        if serial in NAMES:
            name, relays = NAMES[serial]
            text += "board %s name %s\n" % (serial, name)
            text += "".join("board %s relay %d %s\n" % (serial, n + 1, relay) for n, relay in enumerate(relays))
    return text


class Page:
    def __init__(self, driver, url):
        self.driver, self.url = driver, url

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def switches(self):
        return self.js("""return [...document.querySelectorAll('[role=switch]')].map(s => ({
            host: s.dataset.host, serial: s.dataset.serial, relay: s.dataset.relay, text: s.textContent,
            checked: s.getAttribute('aria-checked'), disabled: s.getAttribute('aria-disabled')}))""")

    def switch(self, serial, relay, action=None):
        selector = '[data-serial="%s"][data-relay="%d"]' % (serial, relay)
        selector += '[data-action="%s"]' % action if action else "[role=switch]"
        return self.driver.find_element(By.CSS_SELECTOR, selector)

    def wait(self, condition, what, timeout=10):
        if not harness.wait_until(condition, timeout):
            raise AssertionError("%s within %d s; switches: %s" % (what, timeout, self.switches()))

    def login_shown(self):
        return self.driver.find_element(By.ID, "login").is_displayed()

    def log_in(self, user, password):
        for name, value in (("username", user), ("password", password)):
            field = self.driver.find_element(By.NAME, name)
            field.clear()
            field.send_keys(value)
        self.driver.find_element(By.CSS_SELECTOR, "#login button[type=submit]").click()

    def screenshot(self, name, width, height):
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                                    {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 600})
        time.sleep(0.3)
        overflow = self.js("return document.documentElement.scrollWidth") - width
        assert overflow <= 0, "at %d px the page is %d px too wide" % (width, overflow)
        if SCREENSHOTS:
            self.driver.save_screenshot(os.path.join(SCREENSHOTS, name))


def case_login(page, rig):
    """Anonymous is refused: the form; a wrong password: the form again; the right one: the boards."""
    page.driver.get(page.url)
    page.wait(page.login_shown, "the login form after the broker refused an anonymous connection")
    page.log_in("dashboard", "wrong")
    page.wait(lambda: page.login_shown() and "refused" in page.driver.find_element(By.ID, "login").text,
              "the login form again after a wrong password")
    page.log_in("dashboard", DASHBOARD_PASSWORD)
    page.wait(lambda: len(page.switches()) == 12, "12 switches after logging in")
    assert not page.login_shown()
    stored = page.js("return [localStorage.length, location.href, JSON.stringify(sessionStorage)]")
    assert stored[0] == 0 and DASHBOARD_PASSWORD not in stored[1] and DASHBOARD_PASSWORD in stored[2], stored


def case_names(page, rig):
    """Every board and relay with its name from the bridge; unnamed relays "Relay n"; all off."""
    page.wait(lambda: all(s["checked"] == "false" for s in page.switches()), "every relay off")
    shown = {(s["host"], s["serial"], int(s["relay"])): s["text"] for s in page.switches()}
    for host_id, serials in BOARDS.items():
        for serial in serials:
            names = NAMES.get(serial, (None, ["Relay %d" % n for n in range(1, 5)]))[1]
            for n, name in enumerate(names, 1):
                assert shown[(host_id, serial, n)] == name, (host_id, serial, n, shown)
    assert "Rack A" in page.driver.find_element(By.ID, "hosts").text


def case_hostile_name(page, rig):
    """A relay named like markup shows those characters and runs nothing."""
    assert page.switch("1700000001", 2).text == HOSTILE
    assert page.js("return document.querySelectorAll('#hosts img').length") == 0
    try:
        page.driver.switch_to.alert
        raise AssertionError("an alert opened")
    except NoAlertPresentException:
        pass


def case_click(page, rig):
    """A click switches the board; the switch follows the bridge's relay topic."""
    page.switch("1700000001", 3).click()
    page.wait(lambda: rig["hosts"]["lab-a"].state("1700000001") == 4, "the board's state 4")
    page.wait(lambda: page.switch("1700000001", 3).get_attribute("aria-checked") == "true", "relay 3 on")
    page.switch("1700000001", 3).click()
    page.wait(lambda: rig["hosts"]["lab-a"].state("1700000001") == 0, "the board's state 0 again")
    page.wait(lambda: page.switch("1700000001", 3).get_attribute("aria-checked") == "false", "relay 3 off")


def case_pulse(page, rig):
    """The pulse button: on, then back off (two reports)."""
    host = rig["hosts"]["lab-b"]
    before = len(host.reports())
    page.switch("1700000003", 1, "pulse").click()
    page.wait(lambda: len(host.reports()) >= before + 2, "two reports for the pulse")
    assert host.state("1700000003") == 0


def case_error(page, rig):
    """A bridge's error shows next to the board its topic names, then goes."""
    rig["tester"].publish("rxb540/lab-a/1700000002/relay/9/set", "ON")
    boards = page.driver.find_elements(By.CSS_SELECTOR, ".board")
    page.wait(lambda: any("1700000002" in b.text and b.find_element(By.CSS_SELECTOR, ".error").is_displayed()
                          for b in boards), "the error beside board 1700000002")
    page.wait(lambda: not any(e.is_displayed() for e in page.driver.find_elements(By.CSS_SELECTOR, ".error")),
              "the error gone again", timeout=15)


def case_screenshots(page, rig):
    """Desktop and phone width (a relay on), no horizontal scrolling."""
    page.switch("1700000001", 1).click()
    page.wait(lambda: page.switch("1700000001", 1).get_attribute("aria-checked") == "true", "relay 1 on")
    page.screenshot("dashboard-desktop.png", 1280, 800)
    page.screenshot("dashboard-phone.png", 360, 780)
    page.driver.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})


def case_unplug(page, rig):
    """An unplugged board's switches become disabled, and a click on one sends nothing."""
    host = rig["hosts"]["lab-b"]
    host.write([])
    page.wait(lambda: page.switch("1700000003", 1).get_attribute("aria-disabled") == "true", "board 1700000003 disabled",
              timeout=15)
    assert all(s["disabled"] == "false" for s in page.switches() if s["host"] == "lab-a")
    mark = rig["tester"].mark()
    page.switch("1700000003", 1).click()
    time.sleep(0.5)
    assert not [m for m in rig["tester"].since(mark) if m.topic.endswith("/set")], rig["tester"].since(mark)


def case_forget(page, rig):
    """A board the bridge forgets (its retained topics cleared) leaves the page."""
    rig["tester"].publish("rxb540/lab-b/1700000003/forget", "")
    page.wait(lambda: "1700000003" not in page.driver.find_element(By.ID, "hosts").text, "board 1700000003 gone")
    assert len(page.switches()) == 8


def case_example_acl(page, rig):
    """The example ACL lets a dashboard account switch relays, nothing else."""
    client = harness.Client(rig["broker"].port, "dashboard-acl", "dashboard", DASHBOARD_PASSWORD)
    try:
        client.publish("rxb540/lab-a/1700000002/set", "255")
        client.publish("rxb540/lab-a/1700000002/relay/2/set", "ON")
        page.wait(lambda: rig["hosts"]["lab-a"].state("1700000002") == 2, "relay 2 alone on")
    finally:
        client.close()


def case_click_while_down(page, rig):
    """A click while the broker is down is dropped, not sent once the page is back."""
    status = page.driver.find_element(By.ID, "connection")
    rig["broker"].stop()
    page.wait(lambda: not status.text.startswith("connected"), "the page noticing the broker gone")
    page.switch("1700000001", 4).click()
    rig["broker"].start(keep_ports=True)
    page.wait(lambda: status.text.startswith("connected"), "the page connected again", timeout=15)
    page.wait(lambda: page.switch("1700000001", 1).get_attribute("aria-checked") == "true", "the state again")
    time.sleep(1)
    assert rig["hosts"]["lab-a"].state("1700000001") == 1


def case_base_topic(page, rig):
    """?base= chooses the base topic (the account kept for the tab); a bad one is refused."""
    find = page.driver.find_element
    page.driver.get(page.url + "?base=elsewhere")
    page.wait(lambda: find(By.ID, "connection").text == "connected as dashboard", "connected again, no login")
    time.sleep(0.5)
    assert not page.switches() and find(By.ID, "empty").is_displayed()
    page.driver.get(page.url + "?base=rxb540//x")
    page.wait(lambda: "no empty level" in find(By.ID, "connection").text, "the bad base topic refused")
    page.driver.get(page.url + "?base=rxb540")
    page.wait(lambda: len(page.switches()) == 8, "the boards under rxb540 again")


CASES = [case_login, case_names, case_hostile_name, case_click, case_pulse, case_error, case_screenshots,
         case_unplug, case_forget, case_example_acl, case_base_topic, case_click_while_down]


def main():
    folder = harness.temporary_folder()
    with open(os.path.join(SOURCE_DIR, "packaging/dashboard/dashboard.acl")) as acl:
        broker = harness.Broker(folder, {"lab-a": "lab-a-pw", "lab-b": "lab-b-pw", "dashboard": DASHBOARD_PASSWORD},
                                acl_extra=acl.read(), listener_extra=example_listener(SOURCE_DIR, PAGE_DIR))
    broker.start()
    rig = {"broker": broker, "hosts": {}, "bridges": []}
    driver = None
    failed = []
    try:
        for host_id, serials in BOARDS.items():
            host = rig["hosts"][host_id] = harness.Host(folder, host_id, [harness.board_line(s) for s in serials])
            rig["bridges"].append(harness.Bridge(folder, host, host_id, broker.port, bridge_settings(host_id, folder)))
        rig["tester"] = broker.tester()
        rig["tester"].subscribe("rxb540/#")
        driver = chromium()
        page = Page(driver, "http://127.0.0.1:%d/" % broker.ws_port)
        for case in CASES:
            try:
                case(page, rig)
                print("ok   %s: %s" % (case.__name__[5:], case.__doc__.splitlines()[0]))
            except Exception as error:  # noqa: BLE001 - every case runs and reports
                failed.append(case.__name__)
                print("FAIL %s: %r" % (case.__name__[5:], error))
        problems = [entry["message"] for entry in driver.get_log("browser") if entry["level"] == "SEVERE"
                    and "favicon" not in entry["message"]]
        if problems:
            failed.append("browser console")
            print("FAIL the browser's console: %s" % problems)
    finally:
        if driver:
            driver.quit()
        for bridge in rig["bridges"]:
            bridge.stop()
        if "tester" in rig:
            rig["tester"].close()
        broker.stop()
        if failed:
            for bridge in rig["bridges"]:
                print("--- %s's log:\n%s" % (bridge.host_id, bridge.log()[-1500:]))
            print("--- broker log:\n" + broker.read_log()[-2000:])
        shutil.rmtree(folder, ignore_errors=True)
    print("%d of %d cases passed" % (len(CASES) - len([f for f in failed if f.startswith("case_")]), len(CASES)))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
