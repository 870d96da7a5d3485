// Drives headless Chromium with the filter's extension loaded: a private
// profile (its own HOME, XDG folders and TMPDIR, so neither your registry nor
// your Chromium profile is touched), ostrel-serve on 127.0.0.1, Chromium
// started with the host manifest installed in its profile, and a small
// DevTools client over --remote-debugging-pipe (no port to pick, and no
// WebSocket needed). Shared by the end-to-end test and the main-job script.
// Every wait is bounded and fails with a message saying what did not happen.
"use strict";
const childProcess = require("child_process");
const fs = require("fs");

const common = require("./driver-common.js");
const { sleep, waitFor, atExit, run, killGroup } = common;

const EXTENSION_ID = "kkbbcamifbbpgpliadehmfpboejmedcg";

function findChromium() {
  return common.findProgram([process.env.CHROMIUM, "/usr/bin/chromium", "/usr/bin/chromium-browser"]);
}

// A temporary folder with HOME, the XDG folders, TMPDIR and Chromium's
// user data folder under it.
function privateProfile({ keep = false } = {}) {
  const profile = common.privateProfile({ prefix: "ostrel-chromium", browserDir: "chromium", keep });
  return Object.assign(profile, { userDataDir: profile.dirs.chromium });
}

// The DevTools protocol over the pipe Chromium reads on fd 3 and writes on
// fd 4: JSON messages, each ended by a NUL byte.
class DevTools {
  constructor(writable, readable) {
    this.writable = writable;
    this.nextId = 1;
    this.pending = new Map();
    this.listeners = [];
    this.closed = null;
    let buffer = Buffer.alloc(0);
    readable.on("data", (chunk) => {
      buffer = Buffer.concat([buffer, chunk]);
      let end;
      while ((end = buffer.indexOf(0)) >= 0) {
        const text = buffer.subarray(0, end).toString("utf8");
        buffer = buffer.subarray(end + 1);
        this.dispatch(JSON.parse(text));
      }
    });
    readable.on("close", () => this.fail(new Error("the DevTools pipe closed (Chromium exited)")));
    readable.on("error", (e) => this.fail(e));
    writable.on("error", (e) => this.fail(e));
  }

  dispatch(message) {
    if (message.id !== undefined) {
      const call = this.pending.get(message.id);
      if (!call) return;
      this.pending.delete(message.id);
      clearTimeout(call.timer);
      if (message.error) call.reject(new Error(`${call.method}: ${message.error.message}`));
      else call.resolve(message.result);
    } else {
      for (const l of this.listeners) l(message);
    }
  }

  fail(error) {
    this.closed = this.closed || error;
    for (const call of this.pending.values()) {
      clearTimeout(call.timer);
      call.reject(error);
    }
    this.pending.clear();
  }

  send(method, params = {}, sessionId = undefined, timeoutMs = 10000) {
    if (this.closed) return Promise.reject(this.closed);
    const id = this.nextId++;
    const message = { id, method, params };
    if (sessionId) message.sessionId = sessionId;
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.pending.delete(id);
        reject(new Error(`${method}: no answer from Chromium within ${timeoutMs} ms`));
      }, timeoutMs);
      this.pending.set(id, { method, resolve, reject, timer });
      this.writable.write(JSON.stringify(message) + "\0");
    });
  }

  on(listener) {
    this.listeners.push(listener);
  }

  // A value computed in a target (page or service worker), returned by value.
  async evaluate(sessionId, expression, timeoutMs = 5000) {
    const r = await this.send("Runtime.evaluate", { expression, returnByValue: true, awaitPromise: true }, sessionId, timeoutMs);
    if (r.exceptionDetails) throw new Error("evaluation failed: " + (r.exceptionDetails.exception?.description || r.exceptionDetails.text));
    return r.result.value;
  }
}

// Headless Chromium with the extension, talking DevTools over the pipe.
// Its standard error (where the native hosts write too) is kept for checks.
function launchChromium({ chromium, userDataDir, extensionDir, env, windowSize = "1000,800", startUrl = "about:blank" }) {
  const args = [
    "--headless=new",
    "--no-sandbox",
    `--user-data-dir=${userDataDir}`,
    `--load-extension=${extensionDir}`,
    `--disable-extensions-except=${extensionDir}`,
    "--remote-debugging-pipe",
    "--host-resolver-rules=MAP * 127.0.0.1",
    "--disable-background-networking",
    "--disable-component-update",
    "--disable-sync",
    "--disable-quic",
    "--no-first-run",
    "--no-default-browser-check",
    "--disable-gpu",
    "--disable-dev-shm-usage",
    "--disable-breakpad",
    "--disable-domain-reliability",
    "--disable-client-side-phishing-detection",
    "--safebrowsing-disable-auto-update",
    "--disable-default-apps",
    "--password-store=basic",
    "--use-mock-keychain",
    "--mute-audio",
    `--window-size=${windowSize}`,
    startUrl,
  ];
  const child = childProcess.spawn(chromium, args, { env, stdio: ["ignore", "pipe", "pipe", "pipe", "pipe"], detached: true });
  atExit(() => killGroup(child));
  let stderr = "";
  child.stdout.on("data", (d) => (stderr += d));
  child.stderr.on("data", (d) => (stderr += d));
  // Closed once every process writing there (hosts included) has ended.
  const stderrClosed = new Promise((resolve) => child.stderr.on("close", resolve));
  const devtools = new DevTools(child.stdio[3], child.stdio[4]);
  return { child, devtools, stderr: () => stderr, stderrClosed };
}

// A browser session: Chromium, the extension's worker, and page helpers.
class Session {
  constructor(launched) {
    Object.assign(this, launched);
  }

  // Attaches to the extension's service worker once it runs.
  async attachWorker(timeoutMs = 20000) {
    const worker = await waitFor("the extension's service worker to start", async () => {
      const { targetInfos } = await this.devtools.send("Target.getTargets");
      return targetInfos.find((t) => t.type === "service_worker" && t.url.startsWith(`chrome-extension://${EXTENSION_ID}/`));
    }, timeoutMs, 200);
    const { sessionId } = await this.devtools.send("Target.attachToTarget", { targetId: worker.targetId, flatten: true });
    this.workerSession = sessionId;
  }

  // The extension's state: {windows: {id: {pid, ready, connects}}, log: [...]}.
  state() {
    return this.devtools.evaluate(this.workerSession, "self.ostrel");
  }

  // Waits until every open window's host has said hello; gives the state.
  waitForHosts(count, timeoutMs = 20000) {
    return waitFor(`${count} window(s) with a host that said hello`, async () => {
      const s = await this.state();
      const ready = Object.values(s.windows).filter((w) => w.ready && w.pid);
      return ready.length === count && Object.keys(s.windows).length === count ? s : null;
    }, timeoutMs, 200);
  }

  async pages() {
    const { targetInfos } = await this.devtools.send("Target.getTargets");
    return targetInfos.filter((t) => t.type === "page");
  }

  async attachPage(targetId) {
    const { sessionId } = await this.devtools.send("Target.attachToTarget", { targetId, flatten: true });
    return { targetId, sessionId };
  }

  async newWindow() {
    const { targetId } = await this.devtools.send("Target.createTarget", { url: "about:blank", newWindow: true });
    return this.attachPage(targetId);
  }

  // Starts a navigation as if the address were typed; the filter may send the
  // tab elsewhere, so this does not wait for where it ends.
  async navigate(page, url) {
    await this.devtools.send("Page.navigate", { url }, page.sessionId, 15000);
  }

  // Where the page is: {href, ready} (ready once its document has loaded).
  location(page) {
    return this.devtools.evaluate(page.sessionId, "({href: location.href, ready: document.readyState === 'complete'})", 3000);
  }

  // The extension's log position now; later entries are what came after.
  async mark() {
    return (await this.state()).log.slice(-1)[0].n;
  }

  // Waits until the page has settled at an address that satisfies
  // test(href): loaded, told to the host as completed since the mark and
  // after the host's last answer, and nothing more logged for a moment (a
  // blocked page that committed before its redirect is redirected once more).
  async waitForLocation(page, what, test, since, timeoutMs = 15000) {
    let seen = null;
    let quietSince = 0;
    let lastN = -1;
    try {
      return await waitFor(what, async () => {
        const at = await this.location(page);
        const log = (await this.state()).log;
        const n = log.length ? log[log.length - 1].n : 0;
        if (at.href !== seen || n !== lastN) quietSince = Date.now();
        seen = at.href;
        lastN = n;
        let answered = since;
        for (const e of log) if (e.in === "navigate" || e.in === "stop") answered = Math.max(answered, e.n);
        const told = log.some((e) => e.n > answered && e.out === "completed" && e.url === at.href.slice(0, 300));
        return at.ready && told && Date.now() - quietSince >= 400 && test(at.href) ? at.href : null;
      }, timeoutMs);
    } catch (e) {
      throw new Error(`${e.message}; the page was last at ${seen}`);
    }
  }

  // Clicks an element of the page with the mouse, as a person would.
  async click(page, selector) {
    const box = await this.devtools.evaluate(page.sessionId, `(() => {
      const e = document.querySelector(${JSON.stringify(selector)});
      if (!e || e.offsetParent === null) return null;
      e.scrollIntoView({block: "center"});
      const r = e.getBoundingClientRect();
      return {x: r.left + r.width / 2, y: r.top + r.height / 2};
    })()`);
    if (!box) throw new Error(`no visible ${selector} on the page to click`);
    for (const type of ["mousePressed", "mouseReleased"])
      await this.devtools.send("Input.dispatchMouseEvent", { type, x: box.x, y: box.y, button: "left", clickCount: 1 }, page.sessionId);
  }

  async screenshot(page, file) {
    const { data } = await this.devtools.send("Page.captureScreenshot", { format: "png" }, page.sessionId, 15000);
    fs.writeFileSync(file, Buffer.from(data, "base64"));
  }

  // Closes Chromium: politely first, so the hosts end as on a normal exit.
  async close() {
    if (this.child.exitCode !== null) return;
    const exited = new Promise((resolve) => this.child.once("exit", resolve));
    this.devtools.send("Browser.close").catch(() => {});
    const done = await Promise.race([exited.then(() => true), sleep(5000).then(() => false)]);
    if (!done) killGroup(this.child);
  }
}

// Installs the host manifest into the profile, starts Chromium, and waits
// for the first window's host to say hello (events of a start-up address
// could be lost before that).
async function startChromium({ chromium, installer, extensionDir, profile }) {
  run(installer, ["--user-data-dir", profile.userDataDir], profile.env);
  const session = new Session(launchChromium({ chromium, userDataDir: profile.userDataDir, extensionDir, env: profile.env }));
  await session.attachWorker();
  await session.waitForHosts(1);
  const [first] = await session.pages();
  if (!first) throw new Error("Chromium opened no page");
  session.firstPage = await session.attachPage(first.targetId);
  return session;
}

module.exports = {
  ...common,
  EXTENSION_ID,
  findChromium,
  privateProfile,
  DevTools,
  launchChromium,
  Session,
  startChromium,
};
