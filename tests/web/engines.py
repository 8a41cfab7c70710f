"""engines.py - one small interface over the three browser engines the web checks use.

    d = engines.start("chromium" | "firefox" | "webkit", log_dir)
    d.get(url); d.js(expr) -> value (through JSON); d.click("#id"); d.escape()
    d.element_png("#id") -> PNG bytes; d.cdp(method, params) (Chromium only); d.quit()

Chromium: chromedriver through python3-selenium, headless. Firefox ESR: its own
WebDriver BiDi (--remote-debugging-port, a WebSocket; python3-websockets), in a
window on the X display in DISPLAY. WebKitGTK: WebKitWebDriver with MiniBrowser on
that display, spoken to over plain HTTP with the capabilities written out (the
selenium options for WebKitGTK add legacy ones the driver refuses). start raises
EngineMissing when the engine cannot start here, with the reason.
"""
import asyncio
import base64
import json
import os
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import urllib.request


class EngineMissing(Exception):
    pass


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    p = s.getsockname()[1]
    s.close()
    return p


def _json_expr(expr):
    return "JSON.stringify((() => { const v = (%s); return v === undefined ? null : v; })())" % expr


class Chromium:
    name = "chromium"

    def __init__(self, log_dir, sound):
        try:
            from selenium import webdriver
            from selenium.webdriver.chrome.service import Service
        except ImportError as e:
            raise EngineMissing("python3-selenium: %s" % e)
        if not os.path.exists("/usr/bin/chromium") or not os.path.exists("/usr/bin/chromedriver"):
            raise EngineMissing("chromium or chromium-driver is not installed")
        o = webdriver.ChromeOptions()
        args = ["--headless=new", "--no-sandbox", "--enable-unsafe-swiftshader",
                "--autoplay-policy=no-user-gesture-required", "--window-size=1280,800",
                "--disable-dev-shm-usage"]
        if not sound:
            args.append("--mute-audio")
        for a in args:
            o.add_argument(a)
        o.binary_location = "/usr/bin/chromium"
        try:
            self.d = webdriver.Chrome(service=Service("/usr/bin/chromedriver", log_path=os.path.join(log_dir, "chromedriver.log")), options=o)
        except Exception as e:
            raise EngineMissing("Chromium could not start: %s" % str(e).splitlines()[0])
        self.d.set_script_timeout(120)

    def get(self, url):
        self.d.get(url)

    def js(self, expr):
        return json.loads(self.d.execute_script("return " + _json_expr(expr)))

    def click(self, sel):
        from selenium.webdriver.common.by import By
        self.d.find_element(By.CSS_SELECTOR, sel).click()

    def escape(self):
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.keys import Keys
        ActionChains(self.d).send_keys(Keys.ESCAPE).perform()

    def element_png(self, sel):
        from selenium.webdriver.common.by import By
        return self.d.find_element(By.CSS_SELECTOR, sel).screenshot_as_png

    def cdp(self, method, params):
        return self.d.execute_cdp_cmd(method, params)

    def quit(self):
        try:
            self.d.quit()
        except Exception:
            pass


class _Process:
    """A browser or driver process of ours, ended by its own id."""

    def start_process(self, argv, log_path, env=None):
        self.log = open(log_path, "ab")
        self.proc = subprocess.Popen(argv, stdout=self.log, stderr=subprocess.STDOUT, env=env,
                                     start_new_session=True)

    def end_process(self):
        p = getattr(self, "proc", None)
        if p and p.poll() is None:
            try:
                os.killpg(p.pid, 15)
                p.wait(10)
            except Exception:
                try:
                    os.killpg(p.pid, 9)
                except Exception:
                    pass
        if getattr(self, "log", None):
            self.log.close()


class Firefox(_Process):
    name = "firefox"

    def __init__(self, log_dir, sound):
        try:
            import websockets
            del websockets
        except ImportError as e:
            raise EngineMissing("python3-websockets: %s" % e)
        binary = shutil.which("firefox-esr") or shutil.which("firefox")
        if not binary:
            raise EngineMissing("firefox-esr is not installed")
        if not os.environ.get("DISPLAY"):
            raise EngineMissing("no X display for Firefox's WebGL")
        self.profile = tempfile.mkdtemp(prefix="mirador-ff-")
        with open(os.path.join(self.profile, "user.js"), "w") as f:
            for k, v in (("devtools.console.stdout.content", True), ("media.autoplay.default", 0),
                         ("browser.shell.checkDefaultBrowser", False), ("datareporting.policy.dataSubmissionEnabled", False),
                         ("toolkit.telemetry.reportingpolicy.firstRun", False), ("browser.aboutwelcome.enabled", False),
                         ("media.volume_scale", "1.0")):
                f.write("user_pref(%s, %s);\n" % (json.dumps(k), json.dumps(v)))
        port = free_port()
        self.start_process([binary, "--remote-debugging-port", str(port), "--profile", self.profile, "--no-remote",
                            "--width", "1280", "--height", "800", "about:blank"],
                           os.path.join(log_dir, "firefox.log"))
        self.loop = asyncio.new_event_loop()
        threading.Thread(target=self.loop.run_forever, daemon=True).start()
        self.ids = 0
        self.pending = {}
        end = time.time() + 60
        err = None
        while time.time() < end:
            if self.proc.poll() is not None:
                break
            try:
                self._call(self._connect("ws://127.0.0.1:%d/session" % port), 10)
                err = None
                break
            except Exception as e:
                err = e
                time.sleep(0.5)
        else:
            err = err or "no answer"
        if err is not None or self.proc.poll() is not None:
            self.quit()
            raise EngineMissing("Firefox's WebDriver BiDi did not answer: %s" % (err or "it exited"))
        self.send("session.new", {"capabilities": {}})
        tree = self.send("browsingContext.getTree", {})
        self.ctx = tree["contexts"][0]["context"]

    async def _connect(self, url):
        import websockets
        self.ws = await websockets.connect(url, max_size=64 << 20, ping_interval=None)
        self.loop.create_task(self._reader())

    async def _reader(self):
        try:
            async for msg in self.ws:
                m = json.loads(msg)
                fut = self.pending.pop(m.get("id"), None)
                if fut and not fut.done():
                    fut.set_result(m)
        except Exception:
            pass
        for fut in list(self.pending.values()):
            if not fut.done():
                fut.set_result({"error": "closed", "message": "the connection closed"})

    async def _send(self, method, params):
        self.ids += 1
        i = self.ids
        fut = self.loop.create_future()
        self.pending[i] = fut
        await self.ws.send(json.dumps({"id": i, "method": method, "params": params}))
        return await fut

    def _call(self, coro, timeout):
        return asyncio.run_coroutine_threadsafe(coro, self.loop).result(timeout)

    def send(self, method, params, timeout=60):
        m = self._call(self._send(method, params), timeout)
        if "error" in m:
            raise RuntimeError("%s: %s %s" % (method, m.get("error"), m.get("message", "")))
        return m["result"]

    def get(self, url):
        self.send("browsingContext.navigate", {"context": self.ctx, "url": url, "wait": "complete"}, 120)

    def js(self, expr):
        r = self.send("script.evaluate", {"expression": _json_expr(expr), "target": {"context": self.ctx},
                                          "awaitPromise": False})
        if r.get("type") != "success":
            raise RuntimeError("script: %s" % r.get("exceptionDetails", {}).get("text", r))
        v = r["result"]
        return json.loads(v["value"]) if v.get("type") == "string" else None

    def _box(self, sel):
        return self.js("(() => { const r = document.querySelector(%s).getBoundingClientRect();"
                       " return [r.x, r.y, r.width, r.height]; })()" % json.dumps(sel))

    def click(self, sel):
        x, y, w, h = self._box(sel)
        self.send("input.performActions", {"context": self.ctx, "actions": [
            {"type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"}, "actions": [
                {"type": "pointerMove", "x": int(x + w / 2), "y": int(y + h / 2)},
                {"type": "pointerDown", "button": 0}, {"type": "pointerUp", "button": 0}]}]})

    def escape(self):
        self.send("input.performActions", {"context": self.ctx, "actions": [
            {"type": "key", "id": "keys", "actions": [{"type": "keyDown", "value": "\ue00c"},
                                                      {"type": "keyUp", "value": "\ue00c"}]}]})

    def element_png(self, sel):
        x, y, w, h = self._box(sel)
        r = self.send("browsingContext.captureScreenshot", {"context": self.ctx, "clip": {
            "type": "box", "x": x, "y": y, "width": w, "height": h}})
        return base64.b64decode(r["data"])

    def cdp(self, method, params):
        raise RuntimeError("no CDP in Firefox")

    def dump_stacks(self, path):
        """Every thread's stack of every process of this browser (gdb), for a page
        that stopped answering."""
        pids = subprocess.run(["pgrep", "-g", str(self.proc.pid)], capture_output=True, text=True).stdout.split()
        with open(path, "w") as f:
            for pid in pids:
                try:
                    cmd = open("/proc/%s/cmdline" % pid).read().replace("\0", " ")[:300]
                    stat = open("/proc/%s/stat" % pid).read().split()
                except OSError:
                    continue
                f.write("==== %s %s (utime %s stime %s)\n" % (pid, cmd, stat[13], stat[14]))
                f.flush()
                subprocess.run(["gdb", "-p", pid, "-batch", "-nx", "-ex", "set pagination off",
                                "-ex", "thread apply all bt 25"], stdout=f, stderr=subprocess.DEVNULL, timeout=120)

    def quit(self):
        try:
            if getattr(self, "ws", None):
                try:
                    self.send("browser.close", {}, 10)
                except Exception:
                    pass
                self._call(self.ws.close(), 5)
        except Exception:
            pass
        self.end_process()
        self.loop.call_soon_threadsafe(self.loop.stop)
        shutil.rmtree(self.profile, ignore_errors=True)


class WebKit(_Process):
    name = "webkit"
    MINIBROWSER = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser"
    ELEMENT = "element-6066-11e4-a52e-4f735466cecf"

    def __init__(self, log_dir, sound):
        driver = shutil.which("WebKitWebDriver")
        if not driver or not os.path.exists(self.MINIBROWSER):
            raise EngineMissing("webkit2gtk-driver (WebKitWebDriver, MiniBrowser) is not installed")
        if not os.environ.get("DISPLAY"):
            raise EngineMissing("no X display for MiniBrowser")
        port = free_port()
        self.base = "http://127.0.0.1:%d" % port
        self.start_process([driver, "--port=%d" % port], os.path.join(log_dir, "webkitwebdriver.log"))
        caps = {"capabilities": {"alwaysMatch": {"browserName": "MiniBrowser", "webkitgtk:browserOptions": {
            "binary": self.MINIBROWSER, "args": ["--automation", "--autoplay-policy=allow"]}}}}
        end = time.time() + 60
        err = None
        self.sid = None
        while time.time() < end and self.proc.poll() is None:
            try:
                self.sid = self._req("POST", "/session", caps, 60)["sessionId"]
                break
            except Exception as e:
                err = e
                time.sleep(0.5)
        if not self.sid:
            self.end_process()
            raise EngineMissing("WebKitWebDriver gave no session: %s" % err)
        try:
            self._req("POST", "/session/%s/window/rect" % self.sid, {"width": 1280, "height": 800}, 30)
        except Exception:
            pass

    def _req(self, method, path, body=None, timeout=60):
        data = json.dumps(body).encode() if body is not None else None
        r = urllib.request.Request(self.base + path, data=data, method=method,
                                   headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(r, timeout=timeout) as f:
                v = json.loads(f.read())
        except urllib.error.HTTPError as e:
            raise RuntimeError("%s %s: %s" % (method, path, e.read()[:300]))
        return v.get("value")

    def _s(self, method, path, body=None, timeout=60):
        return self._req(method, "/session/%s%s" % (self.sid, path), body, timeout)

    def get(self, url):
        self._s("POST", "/url", {"url": url}, 120)

    def js(self, expr):
        return json.loads(self._s("POST", "/execute/sync", {"script": "return " + _json_expr(expr), "args": []}))

    def _find(self, sel):
        return self._s("POST", "/element", {"using": "css selector", "value": sel})[self.ELEMENT]

    def click(self, sel):
        self._s("POST", "/element/%s/click" % self._find(sel), {})

    def escape(self):
        self._s("POST", "/actions", {"actions": [{"type": "key", "id": "keys", "actions": [
            {"type": "keyDown", "value": "\ue00c"}, {"type": "keyUp", "value": "\ue00c"}]}]})
        try:
            self._s("DELETE", "/actions")
        except Exception:
            pass

    def element_png(self, sel):
        return base64.b64decode(self._s("GET", "/element/%s/screenshot" % self._find(sel)))

    def cdp(self, method, params):
        raise RuntimeError("no CDP in WebKitGTK")

    def quit(self):
        if self.sid:
            try:
                self._s("DELETE", "", None, 20)
            except Exception:
                pass
        self.end_process()


ENGINES = {"chromium": Chromium, "firefox": Firefox, "webkit": WebKit}


def start(name, log_dir, sound=False):
    return ENGINES[name](log_dir, sound)
