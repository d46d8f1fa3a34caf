"""annc-web in a real browser: headless Chromium driven through Selenium,
with the real annc-line taking a call on the emulated modem.

annc-line (with the real annc in a sandbox, its sound captured) and
annc-web share one history file and one block list in the sandbox.  The
test opens the calls page, makes a call, and waits for the page's own
script to show it ringing (the page is not reloaded: a mark left in the
window must still be there); then it blocks the caller from the caller
page, finds the entry on the lists page and counts the days of the
statistics chart.

Each page is saved as a screenshot in $ANNC_SCREENSHOTS (default
build/screenshots/); with ANNC_UPDATE_DOC_SCREENSHOT=1 the calls page's is
also copied to doc/calls-page.png, the README's picture.

Chromium and chromedriver are Debian's (/usr/bin/chromium,
/usr/bin/chromedriver) and Selenium is python3-selenium: without them the
test is skipped.
"""

import os
import shutil
import socket
import subprocess
import tempfile
import unittest

from harness import REPO_ROOT, children_of, wait_until
from line_harness import LineTestCase
from modem_emulator import north_american_block

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
except ImportError:
    webdriver = None

WEB_BINARY = os.environ.get("ANNC_WEB_BINARY") or os.path.join(REPO_ROOT, "build", "annc-web")
CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
CHROMEDRIVER = shutil.which("chromedriver") or (
    "/usr/bin/chromedriver" if os.access("/usr/bin/chromedriver", os.X_OK) else None)
SCREENSHOTS = os.environ.get("ANNC_SCREENSHOTS") or os.path.join(REPO_ROOT, "build", "screenshots")
DOC_SCREENSHOT = os.path.join(REPO_ROOT, "doc", "calls-page.png")

NUMBER = "5550147"          # in no phone book of the sandbox
NETWORK_NAME = "JOHN DOE"
LABEL = "Car warranty again"
# live.js polls every 3 s; a call's row is written at its decision.
LIVE_LIMIT_S = 20.0
PAGE_LOAD_S = 30


def missing():
    """Why the test cannot run here, or None."""
    if webdriver is None:
        return "Selenium is not installed for this python (python3-selenium)"
    if CHROMIUM is None:
        return "chromium is not installed"
    if CHROMEDRIVER is None:
        return "chromedriver is not installed (chromium-driver)"
    if not os.access(WEB_BINARY, os.X_OK):
        return "no annc-web at %s (set ANNC_WEB_BINARY)" % WEB_BINARY
    return None


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def descendants(pid):
    """Every process below pid, deepest first."""
    found = []
    for child in children_of(pid):
        found.extend(descendants(child))
        found.append(child)
    return found


@unittest.skipIf(missing(), missing())
class BrowserTest(LineTestCase):

    def setUp(self):
        self.sb = self.sandbox()
        self.block_list = os.path.join(self.sb.cwd, "calls.block")
        with open(self.block_list, "w") as f:
            f.write("# callers not to announce\n")
        self.history = os.path.join(self.sb.root, "calls.db")
        os.makedirs(SCREENSHOTS, exist_ok=True)

    # The programs.

    def start_web(self):
        self.port = free_port()
        self.base = "http://127.0.0.1:%d" % self.port
        err = open(os.path.join(self.sb.root, "web.err"), "wb")
        self.addCleanup(err.close)
        web = subprocess.Popen([WEB_BINARY, "--history", self.history, "--block", self.block_list,
                                "--listen", "127.0.0.1:%d" % self.port],
                               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err,
                               env=self.sb.env(), start_new_session=True)
        self.addCleanup(self.stop, web)

        def listening():
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return True
            except OSError:
                return False
        wait_until(listening, 10, "annc-web on port %d" % self.port,
                   gone=lambda: web.poll() is not None, describe=self.web_errors)
        self.web = web

    def web_errors(self):
        with open(os.path.join(self.sb.root, "web.err"), "rb") as f:
            return "annc-web said %r" % f.read().decode("latin-1")

    @staticmethod
    def stop(process):
        if process.poll() is None:
            process.terminate()
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

    def start_browser(self):
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        profile = tempfile.mkdtemp(prefix="annc-chromium-", dir=self.sb.root)
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                         "--window-size=1024,768", "--user-data-dir=" + profile,
                         "--no-first-run", "--no-default-browser-check", "--disable-extensions",
                         "--disable-background-networking", "--disable-component-update", "--disable-sync",
                         "--disable-breakpad", "--disable-crash-reporter"):
            options.add_argument(argument)
        service = Service(CHROMEDRIVER, log_path=os.path.join(self.sb.root, "chromedriver.log"))
        driver = webdriver.Chrome(service=service, options=options)
        self.addCleanup(self.quit_browser, driver, service)
        driver.set_page_load_timeout(PAGE_LOAD_S)
        driver.set_script_timeout(10)
        return driver

    @staticmethod
    def quit_browser(driver, service):
        """Ends Chromium and chromedriver; what quit() leaves behind is
        killed by process id."""
        process = getattr(service, "process", None)
        left = descendants(process.pid) if process is not None else []
        try:
            driver.quit()
        except Exception:  # noqa: BLE001 - the browser may be gone already
            pass
        for pid in left + ([process.pid] if process is not None else []):
            try:
                os.kill(pid, 9)
            except OSError:
                pass
        if process is not None:
            try:
                process.wait(10)
            except subprocess.TimeoutExpired:
                pass

    # The pages.

    def screenshot(self, driver, name):
        path = os.path.join(SCREENSHOTS, name + ".png")
        self.assertTrue(driver.save_screenshot(path), path)
        return path

    def open(self, driver, path):
        driver.get(self.base + path)
        self.assertNotIn("cannot be read", driver.find_element(By.TAG_NAME, "body").text, path)

    def ringing_text(self, driver):
        return driver.find_element(By.ID, "ringing").text

    def test_call_seen_live_then_blocked_listed_and_counted(self):
        # annc-line first: it makes the history annc-web reads.
        emu = self.modem(self.sb)
        run = self.start(self.sb, emu, ["--history", self.history, "--block", self.block_list])
        self.start_web()
        driver = self.start_browser()

        # The calls page, before any call.
        self.open(driver, "/")
        self.assertEqual(driver.title.split(" ")[0], "Calls", driver.title)
        self.assertEqual(self.ringing_text(driver), "")
        driver.execute_script("window.anncNotReloaded = true;")

        # A call: rung until the page shows it, without being reloaded.
        emu.play(north_american_block(NUMBER, NETWORK_NAME))
        emu.ring_until(lambda: NUMBER in self.ringing_text(driver), gap=0.4, limit=LIVE_LIMIT_S)
        ringing = self.ringing_text(driver)
        self.assertIn("Ringing now: " + NUMBER, ringing, "stderr=%r" % run.stderr())
        self.assertIn(NETWORK_NAME, ringing)
        self.assertTrue(driver.execute_script("return window.anncNotReloaded === true;"),
                        "the calls page was reloaded")
        link = driver.find_element(By.CSS_SELECTOR, "#ringing a")
        self.assertEqual(link.get_attribute("href"), self.base + "/caller?number=" + NUMBER)
        self.screenshot(driver, "calls-ringing")

        # The call ends: the live section empties at a later poll.
        emu.send_line("NO CARRIER")
        run.wait_status("call ended", timeout=10)
        wait_until(lambda: self.ringing_text(driver) == "", LIVE_LIMIT_S,
                   "the ringing section to empty", describe=lambda: repr(self.ringing_text(driver)))
        self.assertTrue(driver.execute_script("return window.anncNotReloaded === true;"))

        # Reloaded, the call is the table's first row.
        self.open(driver, "/")
        first = driver.find_element(By.CSS_SELECTOR, "tbody tr")
        self.assertIn(NUMBER, first.text)
        self.assertIn(NETWORK_NAME, first.text)
        self.assertEqual(first.get_attribute("class"), "announce")
        path = self.screenshot(driver, "calls")
        if os.environ.get("ANNC_UPDATE_DOC_SCREENSHOT") == "1":
            os.makedirs(os.path.dirname(DOC_SCREENSHOT), exist_ok=True)
            shutil.copyfile(path, DOC_SCREENSHOT)

        # The caller page, reached by the row's link; the caller blocked.
        first.find_element(By.LINK_TEXT, NUMBER).click()
        wait_until(lambda: "/caller" in driver.current_url, 10, "the caller page")
        self.assertIn(NUMBER, driver.title)
        form = driver.find_element(By.CSS_SELECTOR, "form[action='/caller/block']")
        form.find_element(By.NAME, "label").send_keys(LABEL)
        self.screenshot(driver, "caller")
        button = [b for b in form.find_elements(By.TAG_NAME, "button") if b.text == "Block"]
        self.assertEqual(len(button), 1, form.get_attribute("outerHTML"))
        button[0].click()
        wait_until(lambda: driver.execute_script("return document.readyState") == "complete"
                   and driver.find_elements(By.TAG_NAME, "body"), 10, "the answer to Block")
        answer = driver.find_element(By.TAG_NAME, "body").text
        for refusal in ("not available", "token", "Log in", "refused"):
            self.assertNotIn(refusal, answer)
        with open(self.block_list) as f:
            self.assertIn("^" + NUMBER, f.read())

        # The lists page: the entry with its label.
        self.open(driver, "/lists")
        entries = [(e.find_element(By.CSS_SELECTOR, "td.expressions").text,
                    e.find_element(By.CSS_SELECTOR, "td.label").text)
                   for e in driver.find_elements(By.CSS_SELECTOR, "table.list tr.entry")]
        self.assertIn(("^" + NUMBER, LABEL), entries)
        self.screenshot(driver, "lists")

        # The statistics page: a chart of the last 30 days.
        self.open(driver, "/stats")
        days = driver.find_elements(By.CSS_SELECTOR, "svg g.day")
        self.assertEqual(len(days), 30)
        self.screenshot(driver, "stats")


if __name__ == "__main__":
    unittest.main()
