#!/usr/bin/env python3
"""The web console in headless Chromium, against a real zuv-server on two
emulated printers; detection against a second one whose printers do not
answer at their configured speed; and, through a proxy that loses answers,
holds them back or goes down, that one click prints one slip. Also takes the
README's screenshots (console-*.png): into ZUV_SCREENSHOT_DIR when set
(scripts/screenshots.sh sets it to docs/), else into the working directory,
so a test run leaves the source tree as it was.

usage: console_test.py ZUV_SERVER ZUV_EMULATOR SOURCE_DIR [TEST...]"""

import json
import os
import shutil
import sys
import tempfile
import unittest

import service
from proxy import Proxy

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
if not (os.path.exists(CHROMIUM) and os.path.exists(CHROMEDRIVER)):
    print("SKIP: Debian's chromium and chromium-driver are not installed")
    sys.exit(77)

from selenium import webdriver  # noqa: E402
from selenium.webdriver.common.by import By  # noqa: E402
from selenium.webdriver.common.keys import Keys  # noqa: E402
from selenium.webdriver.support import expected_conditions as EC  # noqa: E402
from selenium.webdriver.support.ui import Select, WebDriverWait  # noqa: E402

SERVER, EMULATOR, SOURCE_DIR = sys.argv[1], sys.argv[2], sys.argv[3]
CONSOLE_DIR = os.path.join(SOURCE_DIR, "console")
SCREENSHOT_DIR = os.environ.get("ZUV_SCREENSHOT_DIR") or os.getcwd()
TOKEN = "console-test-token-0123456789"
WAIT_S = 60          # generous: the machine may be loaded
# Command bytes, as the emulator lists them.
READ_CLOCK = 2
NONFISCAL = 26
RECEIPT_STATE = 56
DAILY_REPORT = 88    # the Z report
INTERIM_REPORT = 89
CONNECTION_TEST = 101
CONFIGURED_BAUD = 115200
PRINTER_BAUD = 9600  # what the detection's printer really runs at


def chromium_options(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                 "--no-first-run", "--disable-background-networking",
                 "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--window-size=1024,768",
                 "--lang=en-GB", f"--user-data-dir={profile}"):
        options.add_argument(flag)
    return options


# One browser for every scenario; each service has its own origin, so its own
# session storage.
BROWSER = {}


def setUpModule():
    BROWSER["work"] = tempfile.mkdtemp(prefix="zuv-console-")
    browser = webdriver.Chrome(
        service=webdriver.ChromeService(CHROMEDRIVER)
        if hasattr(webdriver, "ChromeService")
        else webdriver.chrome.service.Service(CHROMEDRIVER),
        options=chromium_options(os.path.join(BROWSER["work"], "profile")))
    browser.set_window_size(1024, 768)
    BROWSER["driver"] = browser


def tearDownModule():
    if "driver" in BROWSER:
        BROWSER["driver"].quit()
    shutil.rmtree(BROWSER["work"], ignore_errors=True)


class ConsolePage(unittest.TestCase):
    """A zuv-server on emulated printers, and the helpers that drive its
    console. `printers` maps a printer's id to the emulator options and the
    speed suffix of its configured port."""

    printers = {}

    @classmethod
    def setUpClass(cls):
        cls.browser = BROWSER["driver"]
        cls.work = tempfile.mkdtemp(prefix="zuv-service-", dir=BROWSER["work"])
        cls.emulators = {}
        try:
            for name, (options, speed) in cls.printers.items():
                cls.emulators[name] = service.Emulator(EMULATOR, *options)
            cls.server = service.Server(
                SERVER, os.path.join(cls.work, "state"),
                {name: cls.emulators[name].port + cls.printers[name][1] for name in cls.printers},
                TOKEN, CONSOLE_DIR)
        except Exception:
            cls.stop_emulators()
            raise

    @classmethod
    def stop_emulators(cls):
        for emulator in cls.emulators.values():
            emulator.stop()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.stop_emulators()

    # ---- helpers ----

    def wait(self, condition, message=""):
        return WebDriverWait(self.browser, WAIT_S).until(condition, message)

    def css(self, selector):
        return self.browser.find_element(By.CSS_SELECTOR, selector)

    def text_of(self, selector):
        return self.css(selector).text

    def origin(self):
        return self.server.url

    def sign_in(self, token):
        self.browser.get(self.origin() + "/")
        field = self.wait(EC.element_to_be_clickable((By.ID, "token")))
        field.clear()
        field.send_keys(token, Keys.ENTER)

    def signed_in(self):
        first = next(iter(self.printers))
        self.wait(EC.visibility_of_element_located((By.CSS_SELECTOR, f'[data-printer="{first}"]')),
                  "the printers did not appear")
        self.wait(lambda b: b.find_element(By.ID, "link-state").get_attribute("data-live") == "1",
                  "the event stream did not connect")

    def printer_button(self, printer, command):
        return self.css(f'[data-printer="{printer}"] button[data-command="{command}"]')

    def last_result_state(self, state):
        """Waits until "Last result" shows a job that ended in `state`."""
        self.wait(lambda b: f"state-{state}" in b.find_element(By.ID, "last-result")
                  .get_attribute("class"), f"the last result never became {state}")
        return self.text_of("#last-result")

    def run_job(self, click, state):
        """Clicks, then waits until "Last result" shows the new job ended in
        `state`; returns the job's id."""
        box = self.css("#last-result")
        before = box.get_attribute("data-job") or ""
        click()
        self.wait(lambda b: box.get_attribute("data-job") not in ("", before),
                  "no new job in the last result")
        self.last_result_state(state)
        return box.get_attribute("data-job")

    # The cards are redrawn on every printer event: what is read of them is
    # read in one go, never through an element found earlier.

    def badge(self, printer):
        """(text, class) of the printer's state badge."""
        return self.browser.execute_script("""
            const badge = document.querySelector(
              `[data-printer="${arguments[0]}"] [data-role="printer-state"]`);
            return [badge.textContent, badge.className];""", printer)

    def badge_says(self, printer, text):
        self.wait(lambda b: self.badge(printer)[0] == text, f"{printer}'s badge never said {text!r}")

    def fact(self, printer, name):
        return self.browser.execute_script("""
            const card = document.querySelector(`[data-printer="${arguments[0]}"]`);
            const name = [...card.querySelectorAll('dt')].find(dt => dt.textContent === arguments[1]);
            return name ? name.nextElementSibling.textContent : null;""", printer, name)

    def journal_row(self, state):
        return self.wait(EC.visibility_of_element_located(
            (By.CSS_SELECTOR, f"#jobs tbody tr.state-{state}")), f"no {state} job in the journal")

    def screenshot(self, name):
        os.makedirs(SCREENSHOT_DIR, exist_ok=True)
        self.browser.save_screenshot(os.path.join(SCREENSHOT_DIR, f"console-{name}.png"))

    def use_english(self):
        Select(self.css("#lang")).select_by_value("en")

    def document(self):
        """The service's API document, which the console builds its commands from."""
        status, body = self.server.get("/v1/openapi.json")
        self.assertEqual(status, 200, body)
        return json.loads(body)


class Console(ConsolePage):
    printers = {"till": ((), ""), "kitchen": ((), "")}

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.till = cls.emulators["till"]
        cls.kitchen = cls.emulators["kitchen"]

    # ---- scenarios, run in name order ----

    def test_1_wrong_token_then_the_right_one(self):
        self.sign_in("not-the-token")
        error = self.wait(EC.visibility_of_element_located((By.ID, "sign-in-error")))
        self.wait(lambda b: error.text != "", "no message for a wrong token")
        self.assertEqual(error.text, "wrong token")
        self.assertTrue(self.css("#console").get_attribute("hidden"))
        self.screenshot("sign-in")
        # The token never reaches a cookie or the address.
        self.sign_in(TOKEN)
        self.signed_in()
        self.assertEqual(self.browser.get_cookies(), [])
        self.assertNotIn(TOKEN, self.browser.current_url)
        self.assertEqual(self.browser.execute_script(
            "return sessionStorage.getItem('zuv-token')"), TOKEN)
        # Tills are often offline: nothing may come from another host.
        foreign = self.browser.execute_script(
            "return performance.getEntriesByType('resource').map(e => e.name)"
            ".filter(n => !n.startsWith(location.origin + '/'))")
        self.assertEqual(foreign, [])

    def test_2_test_runs_and_is_done_using_the_keyboard(self):
        # After signing in the focus is on the first printer's first button.
        self.browser.refresh()
        self.signed_in()
        focused = self.browser.switch_to.active_element
        self.assertEqual(focused.get_attribute("data-command"), "test")
        self.run_job(lambda: focused.send_keys(Keys.ENTER), "done")
        row = self.journal_row("done")
        self.assertIn("Test", row.text)
        self.screenshot("printers")

    def test_3_a_silent_printer_is_said_in_a_technicians_words(self):
        self.kitchen.control("silent always")
        self.addCleanup(self.kitchen.control, "silent 0")
        self.run_job(self.printer_button("kitchen", "test").click, "failed")
        self.assertIn("printer did not answer: check cable and power",
                      self.text_of("#last-result"))
        # The card says so too, in red, and no longer once it answers again.
        self.badge_says("kitchen", "no answer")
        self.assertIn("printer-noAnswer", self.badge("kitchen")[1])
        self.assertEqual(self.badge("till")[0], "ready")
        self.kitchen.control("silent 0")
        self.run_job(self.printer_button("kitchen", "test").click, "done")
        self.badge_says("kitchen", "ready")

    def test_4_nonfiscal_in_doubt_then_resolved(self):
        Select(self.css("#editor-printer")).select_by_value("till")
        editor = self.css("#editor-text")
        editor.clear()
        editor.send_keys("*^ZUV DEMO\n^Thank you\nCoffee||120.00\n>12:30")
        width = self.css("#editor-width")
        limits = self.document()["components"]["schemas"]["NonfiscalArgs"]["properties"]["width"]
        self.assertEqual([width.get_attribute(a) for a in ("min", "max")],
                         [str(limits["minimum"]), str(limits["maximum"])])
        width.clear()
        width.send_keys("24")
        lines = self.browser.execute_script(
            "return [...document.querySelectorAll('#preview div')].map(d => d.textContent)")
        self.assertEqual(lines, [" " * 8 + "ZUV DEMO" + " " * 8,
                                 # An odd gap puts the extra space in front.
                                 " " * 8 + "Thank you" + " " * 7,
                                 "Coffee" + " " * 12 + "120.00",
                                 " " * 19 + "12:30"])
        self.assertEqual(self.css("#preview div").get_attribute("class"), "bold")
        self.till.control("ack-silent 1")
        self.run_job(self.css("#editor-print").click, "in-doubt")
        self.assertIn("in doubt", self.text_of("#last-result"))
        row = self.journal_row("in-doubt")
        self.assertIn("Non-fiscal receipt", row.text)
        self.browser.execute_script("arguments[0].scrollIntoView({block: 'center'})", row)
        self.screenshot("in-doubt")
        row.find_element(By.CSS_SELECTOR, "button").click()
        dialog = self.wait(EC.visibility_of_element_located((By.ID, "job-dialog")))
        dialog.find_element(By.CSS_SELECTOR, 'input[value="done"]').click()
        dialog.find_element(By.ID, "resolve-note").send_keys("receipt found in the printer")
        self.screenshot("resolve")
        dialog.find_element(By.ID, "resolve-submit").click()
        self.wait(lambda b: "receipt found in the printer" in b.find_element(By.ID, "job-fields").text,
                  "the dialog does not show the resolution")
        self.assertIn("a person", self.text_of("#job-fields"))
        # Settled done: the lost answer that left it in doubt is not its end.
        self.assertNotIn("Error", [dt.text for dt in self.browser.find_elements(
            By.CSS_SELECTOR, "#job-fields dt")])
        self.assertFalse(self.css("#resolve-form").is_displayed())
        self.css("#job-close").click()
        settled = self.last_result_state("done")
        self.assertIn("Settled by a person: done.", settled)
        self.assertIn("receipt found in the printer", settled)
        self.assertNotIn("did not answer", settled)
        self.assertEqual(self.browser.find_elements(By.CSS_SELECTOR, "#jobs tr.state-in-doubt"), [])

    def test_5_a_second_tab_sees_jobs_live(self):
        first = self.browser.current_window_handle
        self.browser.switch_to.new_window("tab")
        second = self.browser.current_window_handle
        self.sign_in(TOKEN)
        self.signed_in()
        known = len(self.browser.find_elements(By.CSS_SELECTOR, "#jobs tbody tr"))
        self.browser.switch_to.window(first)
        newest = self.run_job(self.printer_button("kitchen", "clock").click, "done")
        self.browser.switch_to.window(second)
        row = self.wait(EC.visibility_of_element_located(
            (By.CSS_SELECTOR, f'#jobs tbody tr[data-job-id="{newest}"].state-done')),
            "the second tab did not see the job")
        self.assertIn("Clock", row.text)
        self.assertEqual(len(self.browser.find_elements(By.CSS_SELECTOR, "#jobs tbody tr")), known + 1)
        self.browser.close()
        self.browser.switch_to.window(first)

    def test_6_z_report_runs_only_when_confirmed(self):
        jobs_before = len(self.browser.find_elements(By.CSS_SELECTOR, "#jobs tbody tr"))
        self.printer_button("till", "z-report").click()
        dialog = self.wait(EC.visibility_of_element_located((By.ID, "confirm")))
        self.assertIn("till", dialog.text)
        # The document says to ask, and names the command.
        operation = self.document()["paths"]["/v1/printers/{id}/z-report"]["post"]
        self.assertIn(operation["x-labels"]["en"], self.text_of("#confirm-title"))
        self.assertIn(operation["x-confirm"], dialog.text)
        self.screenshot("z-confirm")
        # Escape, then the Cancel button: neither sends anything.
        self.browser.switch_to.active_element.send_keys(Keys.ESCAPE)
        self.wait(EC.invisibility_of_element((By.ID, "confirm")))
        self.printer_button("till", "z-report").click()
        self.wait(EC.visibility_of_element_located((By.ID, "confirm")))
        self.css("#confirm-cancel").click()
        self.assertEqual(self.till.commands_received(DAILY_REPORT), 0)
        self.assertEqual(len(self.browser.find_elements(By.CSS_SELECTOR, "#jobs tbody tr")),
                         jobs_before)
        self.printer_button("till", "z-report").click()
        self.wait(EC.visibility_of_element_located((By.ID, "confirm")))
        self.run_job(self.css("#confirm-run").click, "done")
        # Had a cancelled dialog sent one, it would have run before this one.
        self.assertEqual(self.till.commands_received(DAILY_REPORT), 1)

    def test_7_serbian_and_a_phone_sized_window(self):
        Select(self.css("#lang")).select_by_value("sr")
        self.addCleanup(self.use_english)
        self.assertEqual(self.text_of("header h1"), "Fiskalni štampači")
        self.assertEqual(self.printer_button("till", "x-report").text, "X izveštaj")
        self.assertEqual(self.browser.execute_script("return document.documentElement.lang"),
                         "sr-Latn")
        self.browser.set_window_size(390, 844)
        self.addCleanup(self.browser.set_window_size, 1024, 768)
        # Nothing wider than the window: no sideways scrolling on a phone.
        self.wait(lambda b: b.execute_script(
            "return document.documentElement.scrollWidth <= window.innerWidth"),
            "the page is wider than a phone")
        self.screenshot("phone")

    def test_8_serbian_names_every_command_and_field_and_amounts_have_cents(self):
        self.till.control("sale 199.80 1 Hleb")
        Select(self.css("#lang")).select_by_value("sr")
        self.addCleanup(self.use_english)
        document = self.document()
        schemas = document["components"]["schemas"]
        job = self.run_job(self.printer_button("till", "receipt-state").click, "done")
        text = self.text_of("#last-result")
        self.assertIn("Stanje računa na till: urađeno", text)
        # The labels shown are the document's, which are the rows'.
        operation = document["paths"]["/v1/printers/{id}/receipt-state"]["post"]
        self.assertIn(operation["x-labels"]["sr"] + " na till", text)
        total = schemas["ReceiptStateResult"]["properties"]["total"]["x-labels"]["sr"]
        self.assertIn(total + ": 199,80", text)
        self.assertIn("Ukupno: 199,80", text)
        self.assertIn("Plaćeno gotovinom: 0,00", text)
        self.assertIn("Broj stavki: 1", text)
        for raw in ("receipt-state", "total", "paid_cash", "items", "199.8"):
            self.assertNotIn(raw, text)
        row = self.css(f'#jobs tbody tr[data-job-id="{job}"]')
        self.assertIn("Stanje računa", row.text)
        self.assertNotIn("receipt-state", row.text)
        row.find_element(By.CSS_SELECTOR, "button").click()
        fields = self.wait(EC.visibility_of_element_located((By.ID, "job-fields")))
        self.assertIn("Ukupno: 199,80", fields.text)
        self.assertNotIn("paid_card", fields.text)
        self.assertIn("Stanje računa", self.text_of("#job-title"))
        self.css("#job-close").click()
        self.wait(EC.invisibility_of_element((By.ID, "job-dialog")))

        # The pay form is the document's: its command's label, its type
        # select offering exactly the enum, in the rows' Serbian words.
        pay = schemas["PayArgs"]["properties"]
        Select(self.css("#command-printer")).select_by_value("till")
        command = Select(self.css("#command-name"))
        command.select_by_value("pay")
        self.assertEqual(command.first_selected_option.text,
                         document["paths"]["/v1/printers/{id}/pay"]["post"]["x-labels"]["sr"])
        offered = [(o.get_attribute("value"), o.text)
                   for o in Select(self.css("#arg-type")).options]
        self.assertEqual(offered, [(v, pay["type"]["x-value-labels"][v]["sr"])
                                   for v in pay["type"]["enum"]])
        self.assertEqual(self.text_of('[data-field="type"] label'), pay["type"]["x-labels"]["sr"])
        self.assertEqual(self.css("#arg-amount").get_attribute("required"), "true")
        # A command with no arguments is a card's button, not a choice here.
        choices = [o.get_attribute("value") for o in command.options]
        self.assertNotIn("receipt-state", choices)
        self.assertEqual(set(choices), {
            path.rsplit("/", 1)[1] for path, item in document["paths"].items()
            if "x-command" in item.get("post", {}) and item["post"]["requestBody"]["required"]})
        Select(self.css("#arg-type")).select_by_value("card")
        self.css("#arg-amount").send_keys("50")
        self.run_job(self.css("#command-run").click, "done")
        text = self.text_of("#last-result")
        self.assertIn("Naplata na till: urađeno", text)
        self.assertIn("Način plaćanja: kartica", text)
        self.assertIn("Iznos: 50,00", text)

    def test_9_last_result_is_read_back_after_a_reload(self):
        job = self.run_job(self.printer_button("kitchen", "clock").click, "done")
        self.browser.refresh()
        self.signed_in()
        box = self.css("#last-result")
        self.wait(lambda b: box.get_attribute("data-job") == job, "the last result was not read back")
        self.assertIn("Clock on kitchen: done", self.text_of("#last-result"))
        self.assertIn("Printer's clock: ", self.text_of("#last-result"))


class Detection(ConsolePage):
    """Printers configured at one speed: "counter" runs at another, "backroom"
    answers nothing at all."""

    printers = {"counter": (("--baud", str(PRINTER_BAUD)), f"@{CONFIGURED_BAUD}"),
                "backroom": (("--silent",), f"@{CONFIGURED_BAUD}")}

    def speed_of(self, printer):
        return self.browser.find_element(By.XPATH, f'//*[@data-printer="{printer}"]'
                                         '//dt[.="Speed"]/following-sibling::dd[1]').text

    def record_progress(self):
        """From now on notes each state of "Last result" and which card
        buttons say they are busy."""
        self.browser.execute_script("""
            if (window.progressObserver) window.progressObserver.disconnect();
            window.progress = [];
            window.progressObserver = new MutationObserver(() => window.progress.push({
              text: document.getElementById('last-result').textContent,
              busy: [...document.querySelectorAll('#printers button[aria-busy="true"]')]
                .map(b => b.closest('[data-printer]').dataset.printer + '/' + b.dataset.command)}));
            window.progressObserver.observe(document.getElementById('console'),
              {subtree: true, childList: true, attributes: true, characterData: true});""")

    def progress_seen(self):
        return self.browser.execute_script("return window.progress")

    def test_1_a_printer_at_another_speed_is_found_and_then_answers(self):
        self.sign_in(TOKEN)
        self.signed_in()
        self.assertEqual(self.speed_of("counter"), f"{CONFIGURED_BAUD} baud")
        # At the configured speed the printer cannot be reached.
        self.run_job(self.printer_button("counter", "test").click, "failed")
        self.record_progress()
        button = self.printer_button("counter", "detect")
        job = self.run_job(lambda: button.send_keys(Keys.ENTER), "done")
        text = self.text_of("#last-result")
        self.assertIn(f"at {PRINTER_BAUD} baud", text)
        self.assertIn(f"The configuration says {CONFIGURED_BAUD} baud", text)
        self.assertIn("until it restarts", text)
        self.assertIn("counter's [[printer]] table in /etc/zuv-server/config.toml", text)
        self.assertEqual(self.text_of("#last-result pre.config-line"), f"baud = {PRINTER_BAUD}")
        # While it ran the console said so, and the button was busy.
        self.assertTrue(any(state["busy"] == ["counter/detect"] and "at every speed" in state["text"]
                            for state in self.progress_seen()), self.progress_seen())
        self.assertIsNone(self.printer_button("counter", "detect").get_attribute("aria-busy"))
        self.wait(lambda b: self.speed_of("counter") == f"{PRINTER_BAUD} baud",
                  "the card does not show the speed found")
        self.run_job(self.printer_button("counter", "test").click, "done")
        # The journal's details read as words, not as the raw result.
        self.css(f'#jobs tbody tr[data-job-id="{job}"] button').click()
        fields = self.wait(EC.visibility_of_element_located((By.ID, "job-fields")))
        self.assertIn(f"baud = {PRINTER_BAUD}", fields.text)
        self.assertNotIn("finding", fields.text)
        self.css("#job-close").click()
        self.wait(EC.invisibility_of_element((By.ID, "job-dialog")))

    def test_2_nothing_answers_and_the_console_says_why(self):
        self.run_job(self.printer_button("backroom", "detect").click, "failed")
        text = self.text_of("#last-result")
        self.assertIn("No printer answered on", text)
        self.assertIn("no answer at any speed: check cable and power", text)
        self.assertNotIn("baud = ", text)
        self.assertEqual(self.speed_of("backroom"), f"{CONFIGURED_BAUD} baud")
        Select(self.css("#lang")).select_by_value("sr")
        self.addCleanup(self.use_english)
        self.assertIn("nema odgovora ni na jednoj brzini: proverite kabl i napajanje",
                      self.text_of("#last-result"))


class ThroughAProxy(ConsolePage):
    """The console reaches the service through a proxy that loses answers,
    holds them back, or goes down."""

    printers = {"till": ((), "")}

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.till = cls.emulators["till"]
        cls.proxy = Proxy(cls.server.url)

    @classmethod
    def tearDownClass(cls):
        cls.proxy.close()
        super().tearDownClass()

    def origin(self):
        return self.proxy.url

    def jobs_of(self, command):
        status, body = self.server.get(f"/v1/jobs?printer=till&limit=1000", TOKEN)
        self.assertEqual(status, 200, body)
        return [job for job in json.loads(body)["jobs"] if job["command"] == command]

    def box_of(self, element):
        return self.browser.execute_script(
            "const r = arguments[0].getBoundingClientRect(); return [r.x, r.y, r.width, r.height]",
            element)

    def test_1_an_answer_lost_on_the_way_prints_one_slip(self):
        self.sign_in(TOKEN)
        self.signed_in()
        Select(self.css("#editor-printer")).select_by_value("till")
        editor = self.css("#editor-text")
        editor.clear()
        editor.send_keys("^ONE CLICK\n^one slip")
        slips = self.till.commands_received(NONFISCAL)
        self.proxy.drop_next_answer("/nonfiscal")
        job = self.run_job(self.css("#editor-print").click, "done")
        # The request went out again, by the browser or the console, with its key.
        posts = self.proxy.posts("/nonfiscal")
        self.assertGreaterEqual(len(posts), 2, "the lost answer was never asked for again")
        self.assertEqual(self.till.commands_received(NONFISCAL) - slips, 1)
        self.assertEqual([j["id"] for j in self.jobs_of("nonfiscal")], [int(job)])
        keys = {headers.get("idempotency-key") for _, _, headers in posts}
        self.assertEqual(len(keys), 1, keys)
        self.assertNotIn(None, keys)

    def click(self, selector):
        """A click on what `selector` finds now: the cards are redrawn on
        every printer event, so an element found earlier may be gone."""
        self.browser.execute_script("document.querySelector(arguments[0]).click()", selector)

    def busy(self, selector):
        return self.browser.execute_script(
            "return document.querySelector(arguments[0]).getAttribute('aria-busy')", selector)

    def place_of(self, selector):
        """The size of the button and of its row, and where in the row it is."""
        return self.browser.execute_script("""
            const button = document.querySelector(arguments[0]);
            const b = button.getBoundingClientRect(), r = button.parentElement.getBoundingClientRect();
            return [b.width, b.height, r.width, r.height, b.x - r.x, b.y - r.y];""", selector)

    def burst(self, selector, path, click_first=None):
        """Clicks the button (or runs `click_first`) while the proxy holds
        the answer back, then clicks it three times more: one request only,
        and the busy button keeps its size and its row its layout."""
        posts = len(self.proxy.posts(path))
        box = self.css("#last-result")
        before = box.get_attribute("data-job") or ""
        place = self.place_of(selector)
        self.proxy.hold_answers()
        try:
            (click_first or (lambda: self.click(selector)))()
            self.proxy.wait_for_posts(path, posts + 1, WAIT_S)
            for _ in range(3):
                self.click(selector)
            self.assertEqual(self.busy(selector), "true")
            self.assertEqual(self.place_of(selector), place)
        finally:
            self.proxy.release_answers()
        self.wait(lambda b: box.get_attribute("data-job") not in ("", before), "no new job")
        self.wait(lambda b: not b.find_elements(
            By.CSS_SELECTOR, "#jobs tr.state-queued, #jobs tr.state-running"), "jobs still waiting")
        self.assertIsNone(self.busy(selector))
        self.assertEqual(len(self.proxy.posts(path)) - posts, 1, path)

    def test_2_a_burst_of_clicks_sends_one_request(self):
        # Every button of the card that sends at once (the document decides
        # which there are); for some, the printer's own count too.
        bytes_of = {"test": CONNECTION_TEST, "clock": READ_CLOCK, "receipt-state": RECEIPT_STATE,
                    "x-report": INTERIM_REPORT}
        buttons = self.browser.find_elements(By.CSS_SELECTOR, '[data-printer="till"] button[data-command]')
        commands = [b.get_attribute("data-command") for b in buttons
                    if "danger" not in (b.get_attribute("class") or "").split()]
        self.assertLessEqual(set(bytes_of) | {"detect"}, set(commands))
        for command in commands:
            with self.subTest(command):
                byte = bytes_of.get(command)
                sent = self.till.commands_received(byte) if byte else 0
                self.burst(f'[data-printer="till"] button[data-command="{command}"]', "/" + command)
                if byte:
                    self.assertEqual(self.till.commands_received(byte) - sent, 1)
        with self.subTest("z-report"):
            sent = self.till.commands_received(DAILY_REPORT)
            button = '[data-printer="till"] button[data-command="z-report"]'

            def confirm():
                self.click(button)
                self.wait(EC.visibility_of_element_located((By.ID, "confirm")))
                self.css("#confirm-run").click()
            self.burst(button, "/z-report", confirm)
            self.assertFalse(self.css("#confirm").is_displayed())
            self.assertEqual(self.till.commands_received(DAILY_REPORT) - sent, 1)
        with self.subTest("the command form's Run"):
            sent = self.till.commands_received(CONNECTION_TEST)
            Select(self.css("#command-printer")).select_by_value("till")
            Select(self.css("#command-name")).select_by_value("raw")
            self.css("#arg-command").send_keys(str(CONNECTION_TEST))
            self.burst("#command-run", "/raw")
            self.assertEqual(self.till.commands_received(CONNECTION_TEST) - sent, 1)
        with self.subTest("the editor's Print"):
            sent = self.till.commands_received(NONFISCAL)
            self.burst("#editor-print", "/nonfiscal")
            self.assertEqual(self.till.commands_received(NONFISCAL) - sent, 1)

    def test_3_a_lost_service_is_said_across_the_top(self):
        self.badge_says("till", "ready")
        self.assertFalse(self.css("#connection-lost").is_displayed())
        self.proxy.go_down()
        try:
            banner = self.wait(EC.visibility_of_element_located((By.ID, "connection-lost")),
                               "no banner while the service is away")
            self.assertIn("No connection to the print service", banner.text)
            self.badge_says("till", "unknown")
            self.browser.execute_script("window.scrollTo(0, 0)")
            self.screenshot("connection-lost")
        finally:
            self.proxy.come_back()
        self.wait(EC.invisibility_of_element_located((By.ID, "connection-lost")),
                  "the banner stayed after the service came back")
        self.badge_says("till", "ready")

    def test_4_the_card_shows_the_jobs_waiting(self):
        # Each reply comes a while after its ACK: the jobs behind the first wait.
        self.till.control("delay 1500")
        self.addCleanup(self.till.control, "delay 0")
        for command in ("clock", "x-report", "receipt-state"):
            self.click(f'[data-printer="till"] button[data-command="{command}"]')
        self.wait(lambda b: self.fact("till", "Queue") == "2", "the queue never showed 2")
        self.wait(lambda b: self.fact("till", "Queue") == "0", "the queue never emptied")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[4:], verbosity=2)
