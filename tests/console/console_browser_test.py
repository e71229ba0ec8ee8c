#!/usr/bin/python3
"""kestrova console --demo 2 in headless Chromium, driven by Selenium.

The tiles must show what the module reports, the halted machine's restore
must clear the halt and production go on, delete_job must ask first (naming
the job) and then delete, and an action without the page's token, with a
foreign Host or from a foreign Origin must be refused.

  console_browser_test.py KESTROVA [--screenshot PNG]

Exit 0 passed, 1 failed, 77 skipped (Chromium cannot start here; the reason
is printed as "browser test skipped: ...").
"""
import http.client
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import time

SKIP = 77


def skip(reason):
    print("browser test skipped: " + reason, flush=True)
    sys.exit(SKIP)


failures = []


def check(condition, what):
    print(("ok: " if condition else "FAILED: ") + what, flush=True)
    if not condition:
        failures.append(what)
    return condition


def wait_for(what, predicate, seconds):
    deadline = time.monotonic() + seconds
    last = None
    while time.monotonic() < deadline:
        try:
            last = predicate()
            if last:
                return last
        except Exception as e:  # the page may be between two renders
            last = e
        time.sleep(0.2)
    check(False, what + " (within %d s; last seen: %r)" % (seconds, last))
    return None


def raw_request(port, method, path, host=None, token=None, origin=None, body=None):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
    headers = {"Host": host or "127.0.0.1:%d" % port}
    if token is not None:
        headers["X-Kestrova-Token"] = token
    if origin is not None:
        headers["Origin"] = origin
    if body is not None:
        headers["Content-Type"] = "application/x-www-form-urlencoded"
    connection.request(method, path, body=body, headers=headers)
    response = connection.getresponse()
    text = response.read().decode("utf-8")
    connection.close()
    return response.status, text


def main():
    args = sys.argv[1:]
    if not args:
        print(__doc__)
        return 2
    kestrova = args[0]
    screenshot = args[args.index("--screenshot") + 1] if "--screenshot" in args else None

    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.by import By
        from selenium.common.exceptions import WebDriverException
    except ImportError as e:
        skip("Selenium is not installed (scripts/setup.sh browser): %s" % e)
    chromium = shutil.which("chromium")
    driver_path = shutil.which("chromedriver")
    if not chromium or not driver_path:
        skip("chromium or chromedriver is missing (scripts/setup.sh browser)")

    console = subprocess.Popen([kestrova, "console", "--demo", "2", "--listen", "127.0.0.1:0"],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    try:
        first = console.stdout.readline()
        match = re.match(r"console: http://127\.0\.0\.1:(\d+)/", first)
        if not check(match is not None, "the console says where it serves: %r" % first):
            return 1
        port = int(match.group(1))
        url = "http://127.0.0.1:%d/" % port

        options = webdriver.ChromeOptions()
        options.binary_location = chromium
        for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=960,640", "--force-device-scale-factor=1"):
            options.add_argument(flag)
        try:
            browser = webdriver.Chrome(service=Service(driver_path), options=options)
        except WebDriverException as e:
            skip("Chromium does not start here: %s" % str(e).splitlines()[0])
        try:
            run_browser_checks(browser, By, url, port, screenshot)
        finally:
            browser.quit()
    finally:
        console.send_signal(signal.SIGINT)
        try:
            rest, _ = console.communicate(timeout=30)
            check(console.returncode == 0, "Ctrl-C ends the console with exit 0 (%s)" % console.returncode)
            check("the demo's jobs are deleted" in rest, "the console says it stopped: %r" % rest[-200:])
        except subprocess.TimeoutExpired:
            console.kill()
            check(False, "the console ends within 30 s of Ctrl-C")
    if failures:
        print("browser test: %d failed" % len(failures))
        return 1
    print("browser test: passed")
    return 0


def tile(browser, By, name):
    return browser.find_element(By.CSS_SELECTOR, '.tile[data-machine="%s"]' % name)


def run_browser_checks(browser, By, url, port, screenshot):
    browser.get(url)
    token = browser.find_element(By.CSS_SELECTOR, 'meta[name="kestrova-token"]').get_attribute("content")
    check(re.fullmatch(r"[0-9a-f]{32}", token or "") is not None, "the page carries a 128-bit token")
    wait_for("two tiles", lambda: len(browser.find_elements(By.CSS_SELECTOR, ".tile")) == 2, 15)

    one, two = "Demo card printer 1", "Demo card printer 2"
    wait_for("printer 2 halts on its refused Load and printer 1 produces",
             lambda: tile(browser, By, two).get_attribute("data-condition") == "halted" and
             tile(browser, By, one).get_attribute("data-condition") == "producing", 60)

    # What the tiles show is what the module said.
    status, text = raw_request(port, "GET", "/api/machines", token=token)
    machines = {m["name"]: m for m in json.loads(text)["machines"]}
    check(status == 200 and set(machines) == {one, two}, "the machines as the module reports them")
    halted = tile(browser, By, two)
    check("the machine refused Load with reject code 7" in halted.text, "the halt in words: %r" % halted.text)
    check("hw_error_code 5383" in halted.text, "the halted tile shows hw_error_code 5383")
    check(machines[two]["machine"]["hw_error_code"] == 5383 and machines[two]["condition"] == "halted",
          "the module reports the halt as the tile shows it")
    restore = halted.find_element(By.CSS_SELECTOR, 'button[data-command="restore"]')
    check("clears" in restore.get_attribute("class"), "restore is marked as the button that clears the halt")
    if screenshot:
        browser.save_screenshot(screenshot)
        print("screenshot: " + screenshot)

    left_before = int(halted.get_attribute("data-to-produce"))
    restore.click()
    wait_for("the restore clears the halt", lambda: tile(browser, By, two).get_attribute("data-condition") != "halted", 15)
    check("restore sent to Demo card printer 2: sw_error_code 0" in tile(browser, By, two).text,
          "the tile says the restore was sent")
    wait_for("production goes on after the restore",
             lambda: int(tile(browser, By, two).get_attribute("data-to-produce") or 0) < left_before or
             tile(browser, By, two).get_attribute("data-condition") == "idle", 30)

    # delete_job asks first, naming the job; dismissed, nothing happens.
    producing = tile(browser, By, one)
    job = producing.get_attribute("data-job")
    check(job is not None, "printer 1 runs a job")
    producing.find_element(By.CSS_SELECTOR, 'button[data-command="delete_job"]').click()
    alert = wait_for("delete_job asks first", lambda: browser.switch_to.alert, 5)
    if alert:
        check(("Delete job %s" % job) in alert.text and "demo-batch-%s.txt" % job in alert.text and one in alert.text,
              "the question names the job and the machine: %r" % alert.text)
        alert.dismiss()
    wait_for("a dismissed delete_job is not sent",
             lambda: "delete_job not sent" in tile(browser, By, one).text, 5)
    check(tile(browser, By, one).get_attribute("data-job") == job, "the job is still there")

    # A delete_job naming another job than the one running is refused.
    status, text = raw_request(port, "POST", "/api/action", token=token,
                               body="machine=Demo+card+printer+1&command=delete_job&job=999999")
    check(status == 409 and "not job 999999" in text, "delete_job of a job not running is refused: %s %s" % (status, text))

    tile(browser, By, one).find_element(By.CSS_SELECTOR, 'button[data-command="delete_job"]').click()
    alert = wait_for("delete_job asks again", lambda: browser.switch_to.alert, 5)
    if alert:
        alert.accept()
    wait_for("the job is deleted", lambda: tile(browser, By, one).get_attribute("data-job") != job, 20)
    check("delete_job sent to Demo card printer 1: sw_error_code 0" in tile(browser, By, one).text,
          "the tile says delete_job was sent")

    # Nobody but the page may act.
    action = "machine=Demo+card+printer+1&command=pause"
    cases = [
        ("no token", dict(token=None), 403, "token"),
        ("a wrong token", dict(token="0" * 32), 403, "token"),
        ("a foreign Host", dict(token=token, host="evil.example:%d" % port), 403, "Host"),
        ("a name that points here", dict(token=token, host="localhost.evil.example:%d" % port), 403, "Host"),
        ("a foreign Origin", dict(token=token, origin="http://evil.example"), 403, "another site"),
    ]
    for what, extra, expected, word in cases:
        status, text = raw_request(port, "POST", "/api/action", body=action, **extra)
        check(status == expected and word in text, "an action with %s is refused: %s %s" % (what, status, text.strip()))
    status, text = raw_request(port, "GET", "/", host="evil.example")
    check(status == 403, "the page itself is not served under a foreign Host (%s)" % status)
    status, text = raw_request(port, "GET", "/api/machines")
    check(status == 403, "the machines are not shown without the token (%s)" % status)
    status, text = raw_request(port, "POST", "/api/action", token=token, body="machine=Demo+card+printer+1&command=get_info")
    check(status == 400, "only the five actions are taken (%s)" % status)


if __name__ == "__main__":
    sys.exit(main())
