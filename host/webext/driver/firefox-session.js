// Drives headless Firefox ESR: a private profile (its own HOME, XDG folders,
// TMPDIR and Firefox profile folder with prefs of our own: no first-run
// pages, updates, telemetry or background requests, unsigned add-ons
// accepted), Firefox started with Marionette on a port the system picks,
// and a small Marionette client over Node's net module (no npm packages).
// One command at a time is what Marionette expects; each has its own
// bounded wait, and Firefox with every process it started is killed on any
// way out. FilterSession adds the filter's add-on: its state, read from its
// background page, and where a tab settles once the filter has answered.
"use strict";
const childProcess = require("child_process");
const fs = require("fs");
const net = require("net");
const path = require("path");

const common = require("./driver-common.js");
const { sleep, waitFor, atExit, run, killGroup } = common;

// The key Marionette (as WebDriver) gives an element reference under.
const ELEMENT_KEY = "element-6066-11e4-a52e-4f735466cecf";
// The filter's add-on, as its manifest names it.
const FILTER_ADDON_ID = "antiphish@ostrel.org";

function findFirefox() {
  return common.findProgram([process.env.FIREFOX, "/usr/bin/firefox-esr", "/usr/bin/firefox"]);
}

// A temporary folder with HOME, the XDG folders, TMPDIR and Firefox's
// profile folder under it.
function privateProfile({ keep = false } = {}) {
  const profile = common.privateProfile({ prefix: "ostrel-firefox", browserDir: "firefox", keep });
  return Object.assign(profile, { profileDir: profile.dirs.firefox });
}

// Prefs for a profile that talks to nothing but loopback servers of ours.
const PREFS = {
  // Marionette on a port the system picks; Firefox writes the port it got
  // to the profile, so no other program can take it between pick and listen.
  "marionette.port": 0,
  // No first-run, welcome or what's-new pages, no default-browser question.
  "browser.shell.checkDefaultBrowser": false,
  "browser.startup.page": 0,
  "browser.startup.homepage": "about:blank",
  "browser.startup.homepage_override.mstone": "ignore",
  "startup.homepage_welcome_url": "",
  "startup.homepage_welcome_url.additional": "",
  "browser.aboutwelcome.enabled": false,
  "browser.newtabpage.enabled": false,
  "browser.newtab.preload": false,
  "browser.tabs.warnOnClose": false,
  "browser.sessionstore.resume_from_crash": false,
  "toolkit.startup.max_resumed_crashes": -1,
  "trailhead.firstrun.didSeeAboutWelcome": true,
  "datareporting.policy.firstRunURL": "",
  // No updates of Firefox, its add-ons, plugins or lists.
  "app.update.auto": false,
  "app.update.disabledForTesting": true,
  "app.update.checkInstallTime": false,
  "extensions.update.enabled": false,
  "extensions.update.autoUpdateDefault": false,
  "extensions.getAddons.cache.enabled": false,
  "extensions.blocklist.enabled": false,
  "extensions.systemAddon.update.enabled": false,
  "media.gmp-manager.updateEnabled": false,
  "services.settings.server": "http://127.0.0.1:9/",
  "browser.safebrowsing.malware.enabled": false,
  "browser.safebrowsing.phishing.enabled": false,
  "browser.safebrowsing.downloads.enabled": false,
  "browser.safebrowsing.blockedURIs.enabled": false,
  "browser.safebrowsing.update.enabled": false,
  // No telemetry or health reports.
  "datareporting.policy.dataSubmissionEnabled": false,
  "datareporting.healthreport.uploadEnabled": false,
  "toolkit.telemetry.enabled": false,
  "toolkit.telemetry.unified": false,
  "toolkit.telemetry.archive.enabled": false,
  "toolkit.telemetry.server": "",
  "toolkit.telemetry.reportingpolicy.firstRun": false,
  "browser.discovery.enabled": false,
  "app.shield.optoutstudies.enabled": false,
  "app.normandy.enabled": false,
  "breakpad.reportURL": "",
  "browser.crashReports.unsubmittedCheck.autoSubmit2": false,
  // No requests of its own: no proxy, no DNS over HTTPS, no captive-portal
  // or connectivity checks, no speculative connections, no geolocation.
  "network.proxy.type": 0,
  "network.trr.mode": 5,
  "network.captive-portal-service.enabled": false,
  "network.connectivity-service.enabled": false,
  "network.http.speculative-parallel-limit": 0,
  "network.dns.disablePrefetch": true,
  "network.prefetch-next": false,
  "browser.urlbar.speculativeConnect.enabled": false,
  "browser.search.suggest.enabled": false,
  "browser.region.network.url": "",
  "browser.region.update.enabled": false,
  "geo.provider.network.url": "",
  "identity.fxaccounts.enabled": false,
  "browser.contentblocking.report.lockwise.enabled": false,
  "signon.rememberSignons": false,
  // Loopback addresses (and *.localhost, which Firefox itself resolves to
  // loopback) never go through a proxy.
  "network.proxy.allow_hijacking_localhost": false,
  // Unsigned add-ons of ours, installed or temporary.
  "xpinstall.signatures.required": false,
  "extensions.autoDisableScopes": 0,
  // Scripts may open windows (the tests open some as pages would).
  "dom.disable_open_during_load": false,
};

function prefLine(name, value) {
  return `user_pref(${JSON.stringify(name)}, ${JSON.stringify(value)});\n`;
}

// Writes user.js: our prefs, then the caller's, which win.
function writePrefs(profileDir, extra = {}) {
  const all = Object.assign({}, PREFS, extra);
  fs.writeFileSync(path.join(profileDir, "user.js"), Object.entries(all).map(([n, v]) => prefLine(n, v)).join(""));
}

// Marionette's protocol: each packet is "LENGTH:JSON", LENGTH the JSON's
// size in bytes. The server speaks first ({applicationType,
// marionetteProtocol}); commands are [0, id, name, params] and answers
// [1, id, error, result].
class Marionette {
  constructor(socket) {
    this.socket = socket;
    this.nextId = 1;
    this.pending = new Map();
    this.closed = null;
    // Settles with the greeting, or with the failure that came first.
    this.hello = new Promise((resolve, reject) => {
      this.onHello = resolve;
      this.onEarlyFailure = reject;
    });
    this.hello.catch(() => {});
    let buffer = Buffer.alloc(0);
    socket.on("data", (chunk) => {
      buffer = Buffer.concat([buffer, chunk]);
      for (;;) {
        const colon = buffer.indexOf(":");
        const digits = buffer.subarray(0, colon < 0 ? buffer.length : colon).toString("latin1");
        // Anything but a length before the colon is not Marionette talking.
        if (!/^\d{0,10}$/.test(digits) || colon === 0) {
          this.fail(new Error("Marionette sent a packet without a length: " + JSON.stringify(buffer.subarray(0, 40).toString("latin1"))));
          socket.destroy();
          return;
        }
        if (colon < 0) break;
        const length = Number(digits);
        if (buffer.length < colon + 1 + length) break;
        const text = buffer.subarray(colon + 1, colon + 1 + length).toString("utf8");
        buffer = buffer.subarray(colon + 1 + length);
        let message;
        try {
          message = JSON.parse(text);
        } catch (e) {
          this.fail(new Error("Marionette sent a packet that is not JSON: " + JSON.stringify(text.slice(0, 80))));
          socket.destroy();
          return;
        }
        this.dispatch(message);
      }
    });
    socket.on("close", () => this.fail(new Error("the Marionette connection closed (Firefox exited)")));
    socket.on("error", (e) => this.fail(e));
  }

  static connect(port, timeoutMs = 10000) {
    const socket = net.connect({ host: "127.0.0.1", port });
    const client = new Marionette(socket);
    let timer;
    const timeout = new Promise((resolve, reject) => {
      timer = setTimeout(() => reject(new Error(`no Marionette greeting on port ${port} within ${timeoutMs} ms`)), timeoutMs);
    });
    return Promise.race([client.hello, timeout]).then(
      (hello) => {
        clearTimeout(timer);
        if (hello.marionetteProtocol !== 3) throw new Error("Marionette speaks protocol " + hello.marionetteProtocol + ", not 3");
        return client;
      }).catch((e) => {
        clearTimeout(timer);
        socket.destroy();
        throw e;
      });
  }

  dispatch(message) {
    if (!Array.isArray(message)) return this.onHello(message);
    const [type, id, error, result] = message;
    const call = type === 1 && this.pending.get(id);
    if (!call) return;
    this.pending.delete(id);
    clearTimeout(call.timer);
    if (error) call.reject(new Error(`${call.command}: ${error.error}: ${error.message}`));
    else call.resolve(result);
  }

  fail(error) {
    this.closed = this.closed || error;
    this.onEarlyFailure(this.closed);
    for (const call of this.pending.values()) {
      clearTimeout(call.timer);
      call.reject(error);
    }
    this.pending.clear();
  }

  // The command's result; a lone {value} is unwrapped.
  async send(command, params = {}, timeoutMs = 10000) {
    if (this.closed) throw this.closed;
    const id = this.nextId++;
    const result = await new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        this.pending.delete(id);
        reject(new Error(`${command}: no answer from Firefox within ${timeoutMs} ms`));
      }, timeoutMs);
      this.pending.set(id, { command, resolve, reject, timer });
      const text = Buffer.from(JSON.stringify([0, id, command, params]), "utf8");
      this.socket.write(`${text.length}:`);
      this.socket.write(text);
    });
    const keys = result && typeof result === "object" ? Object.keys(result) : [];
    return keys.length === 1 && keys[0] === "value" ? result.value : result;
  }

  close() {
    this.socket.destroy();
  }
}

// The port Marionette listens on once it does: Firefox writes it to
// MarionetteActivePort in the profile (and logs it).
function activePort(profileDir, output) {
  try {
    const port = Number(fs.readFileSync(path.join(profileDir, "MarionetteActivePort"), "utf8").trim());
    if (port > 0) return port;
  } catch (e) {
    // not written yet
  }
  const m = /Listening on port (\d+)/.exec(output);
  return m ? Number(m[1]) : 0;
}

// Headless Firefox in the profile, Marionette connected. Its standard output
// and error (where native hosts write too) are kept for checks.
async function launchFirefox({ firefox, profile, prefs = {}, systemAccess = false, windowSize = "1000,800", timeoutMs = 30000 }) {
  writePrefs(profile.profileDir, prefs);
  fs.rmSync(path.join(profile.profileDir, "MarionetteActivePort"), { force: true });
  const args = ["--headless", "--marionette", "--no-remote", "--profile", profile.profileDir, "--window-size", windowSize];
  // Scripts in the browser's own (chrome) context need this since Firefox 138.
  if (systemAccess) args.push("--remote-allow-system-access");
  const env = Object.assign({}, profile.env, { MOZ_CRASHREPORTER_DISABLE: "1", MOZ_HEADLESS: "1" });
  const child = childProcess.spawn(firefox, args, { env, stdio: ["ignore", "pipe", "pipe"], detached: true });
  atExit(() => killGroup(child));
  let output = "";
  child.stdout.on("data", (d) => (output += d));
  child.stderr.on("data", (d) => (output += d));
  const outputClosed = new Promise((resolve) => child.stderr.on("close", resolve));
  const port = await waitFor("Firefox's Marionette to listen", () => {
    if (child.exitCode !== null || child.signalCode !== null)
      throw new Error(`Firefox exited (${child.exitCode ?? child.signalCode}): ${output.slice(-2000)}`);
    return activePort(profile.profileDir, output);
  }, timeoutMs, 100);
  const marionette = await Marionette.connect(port);
  return { child, marionette, port, output: () => output, outputClosed };
}

// A Marionette session in a running Firefox.
class Session {
  constructor(launched) {
    Object.assign(this, launched);
    this.context = "content";
    this.limits = { pageLoadMs: 300000, scriptMs: 30000 };
  }

  send(command, params, timeoutMs) {
    return this.marionette.send(command, params, timeoutMs);
  }

  // Starts the session; Marionette's own limits are set below ours, so a
  // page that never loads ends in Firefox's error, not in a lost connection.
  async newSession({ pageLoadStrategy = "normal", pageLoadMs = 15000, scriptMs = 10000 } = {}) {
    const r = await this.send("WebDriver:NewSession", { capabilities: { pageLoadStrategy, acceptInsecureCerts: true } }, 20000);
    this.sessionId = r.sessionId;
    this.capabilities = r.capabilities;
    this.limits = { pageLoadMs, scriptMs };
    await this.send("WebDriver:SetTimeouts", { pageLoad: pageLoadMs, script: scriptMs, implicit: 0 });
    return r;
  }

  // Installs an add-on (a folder, or an .xpi); temporary ones go when
  // Firefox ends. Gives the add-on's id.
  installAddon(addonPath, temporary = true) {
    return this.send("Addon:Install", { path: path.resolve(addonPath), temporary }, 20000);
  }

  uninstallAddon(id) {
    return this.send("Addon:Uninstall", { id }, 20000);
  }

  // Loads an address as if typed; waits as the session's strategy says.
  navigate(url) {
    return this.send("WebDriver:Navigate", { url }, this.limits.pageLoadMs + 5000);
  }

  currentUrl() {
    return this.send("WebDriver:GetCurrentURL");
  }

  async setContext(context) {
    if (context === this.context) return;
    await this.send("Marionette:SetContext", { value: context });
    this.context = context;
  }

  // Runs a script's body (arguments as `arguments`) in the current tab's
  // page or, with chrome: true, in the browser's own window (which needs
  // Firefox started with systemAccess). Gives what it returns.
  async execute(script, args = [], { chrome = false, async = false } = {}) {
    await this.setContext(chrome ? "chrome" : "content");
    try {
      return await this.send(async ? "WebDriver:ExecuteAsyncScript" : "WebDriver:ExecuteScript",
        { script, args }, this.limits.scriptMs + 5000);
    } finally {
      if (chrome) await this.setContext("content");
    }
  }

  // A global of an add-on's background page, as JSON gives it back. The
  // page runs in the extension process, out of reach of chrome scripts, so
  // a frame script loaded into it (once per page) reads it on request.
  // Needs Firefox started with systemAccess.
  async backgroundGlobal(addonId, name) {
    const text = await this.execute(`
      const [addonId, name, done] = arguments;
      const policy = WebExtensionPolicy.getByID(addonId);
      const context = policy && policy.extension && policy.extension.backgroundContext;
      const browser = context && context.xulBrowser;
      if (!browser) return done({ error: "the add-on " + addonId + " has no background page" });
      const mm = browser.messageManager;
      if (!browser.ostrelReader) {
        mm.loadFrameScript("data:," + encodeURIComponent(
          "addMessageListener('ostrel:read', (m) => sendAsyncMessage('ostrel:value'," +
          " { id: m.data.id, json: JSON.stringify(content.wrappedJSObject[m.data.name]) }));"), false);
        browser.ostrelReader = { next: 0 };
      }
      const id = ++browser.ostrelReader.next;
      const listener = (m) => {
        if (m.data.id !== id) return;
        mm.removeMessageListener("ostrel:value", listener);
        done({ json: m.data.json });
      };
      mm.addMessageListener("ostrel:value", listener);
      mm.sendAsyncMessage("ostrel:read", { id, name });`,
      [addonId, name], { chrome: true, async: true });
    if (text.error) throw new Error(text.error);
    return text.json === undefined ? undefined : JSON.parse(text.json);
  }

  // Opens a tab or a window; gives its handle (not switched to).
  async newWindow(type = "tab") {
    const r = await this.send("WebDriver:NewWindow", { type, focus: false });
    return r.handle;
  }

  switchToWindow(handle) {
    return this.send("WebDriver:SwitchToWindow", { handle, focus: true });
  }

  windowHandles() {
    return this.send("WebDriver:GetWindowHandles");
  }

  windowHandle() {
    return this.send("WebDriver:GetWindowHandle");
  }

  closeWindow() {
    return this.send("WebDriver:CloseWindow");
  }

  // The element's reference, or an error naming the selector.
  async findElement(selector) {
    try {
      const found = await this.send("WebDriver:FindElement", { using: "css selector", value: selector });
      return found[ELEMENT_KEY];
    } catch (e) {
      throw new Error(`no ${selector} on the page: ${e.message}`);
    }
  }

  // Clicks an element as a person would (scrolled into view, pointer events).
  async click(selector) {
    const id = await this.findElement(selector);
    await this.send("WebDriver:ElementClick", { id }, this.limits.pageLoadMs + 5000);
  }

  // Clicks by script: for elements a person could not reach, or when the
  // click must not wait for a navigation.
  async scriptClick(selector) {
    const clicked = await this.execute("const e = document.querySelector(arguments[0]); if (e) e.click(); return !!e;", [selector]);
    if (!clicked) throw new Error(`no ${selector} on the page to click`);
  }

  // The current tab's viewport as a PNG file.
  async screenshot(file) {
    const data = await this.send("WebDriver:TakeScreenshot", { full: false, hash: false, scroll: false }, 15000);
    fs.writeFileSync(file, Buffer.from(data, "base64"));
  }

  // Quits Firefox: politely first, so native hosts end as on a normal exit.
  async close() {
    if (this.child.exitCode !== null || this.child.signalCode !== null) return;
    const exited = new Promise((resolve) => this.child.once("exit", resolve));
    this.send("Marionette:Quit", { flags: ["eForceQuit"] }, 5000).catch(() => {});
    const done = await Promise.race([exited.then(() => true), sleep(8000).then(() => false)]);
    this.marionette.close();
    if (!done) killGroup(this.child);
  }
}

// Starts Firefox in the profile and a Marionette session in it.
async function startFirefox({ firefox, profile, prefs, systemAccess, session: sessionOptions }) {
  const session = new Session(await launchFirefox({ firefox, profile, prefs, systemAccess }));
  await session.newSession(sessionOptions);
  return session;
}

// The filter's add-on in a session: its state, and where the tab settles.
class FilterSession extends Session {
  // The add-on's state: {windows: {id: {pid, ready, connects}}, log: [...]}.
  state() {
    return this.backgroundGlobal(FILTER_ADDON_ID, "ostrel");
  }

  // The add-on's log position now; later entries are what came after.
  async mark() {
    const log = (await this.state()).log;
    return log.length ? log[log.length - 1].n : 0;
  }

  // A window's host that said hello, or null.
  async readyHost() {
    return Object.values((await this.state()).windows).find((w) => w.ready && w.pid) || null;
  }

  // Waits until the current tab has settled at an address that satisfies
  // test(href): loaded, told to the host as completed since the mark and
  // after the host's last answer, and nothing more logged for a moment.
  async waitForLocation(what, test, since, timeoutMs = 15000) {
    let seen = null;
    let quietSince = 0;
    let lastN = -1;
    try {
      return await waitFor(what, async () => {
        const href = await this.currentUrl();
        const ready = (await this.execute("return document.readyState")) === "complete";
        const log = (await this.state()).log;
        const n = log.length ? log[log.length - 1].n : 0;
        if (href !== seen || n !== lastN) quietSince = Date.now();
        seen = href;
        lastN = n;
        let answered = since;
        for (const e of log) if (e.in === "navigate" || e.in === "stop") answered = Math.max(answered, e.n);
        const told = log.some((e) => e.n > answered && e.out === "completed" && e.url === href.slice(0, 300));
        return ready && told && Date.now() - quietSince >= 400 && test(href) ? href : null;
      }, timeoutMs);
    } catch (e) {
      throw new Error(`${e.message}; the tab was last at ${seen}`);
    }
  }
}

// Installs the host manifest for the user, starts Firefox (chrome scripts
// allowed, to read the add-on's state), installs the filter's add-on from
// extensionDir for this run, and waits for the window's host to say hello.
async function startFilterFirefox({ firefox, installer, extensionDir, profile, prefs, session: sessionOptions }) {
  run(installer, ["--browser", "firefox"], profile.env);
  const session = new FilterSession(await launchFirefox({ firefox, profile, prefs, systemAccess: true }));
  await session.newSession(Object.assign({ pageLoadStrategy: "none" }, sessionOptions));
  const id = await session.installAddon(extensionDir);
  if (id !== FILTER_ADDON_ID) throw new Error(`the add-on in ${extensionDir} is ${id}, not the filter's`);
  await waitFor("the window's host to say hello", () => session.readyHost(), 20000, 200);
  return session;
}

module.exports = {
  ...common,
  ELEMENT_KEY,
  FILTER_ADDON_ID,
  PREFS,
  findFirefox,
  privateProfile,
  writePrefs,
  Marionette,
  launchFirefox,
  Session,
  startFirefox,
  FilterSession,
  startFilterFirefox,
};
