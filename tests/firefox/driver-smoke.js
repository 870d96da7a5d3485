// Headless Firefox ESR through our Marionette client: it starts in a private
// profile with our prefs, a temporary add-on installs and holds a request in
// a blocking webRequest listener that answers asynchronously, pages of a
// loopback server load under *.localhost names, a click, a second tab, a
// screenshot that shows the page, and nothing of Firefox left once it is
// closed. Exit 77 (skipped, loudly) only when Firefox is not installed.
"use strict";
const assert = require("assert");
const fs = require("fs");
const http = require("http");
const path = require("path");
const zlib = require("zlib");
const fx = require(process.env.OSTREL_FIREFOX_DRIVER || "../../host/webext/driver/firefox-session.js");

const firefox = fx.findFirefox();
const watchdog = fx.browserTest({ browser: firefox, limitSeconds: 60,
  missing: "firefox-esr is not installed (apt-get install firefox-esr); Firefox was not driven" });

const ADDON_ID = "driver-smoke@ostrel.test";

// A loopback server that logs every request's method, Host and path.
async function startSite() {
  const requests = [];
  const server = http.createServer((req, res) => {
    if (req.url !== "/favicon.ico") requests.push({ method: req.method, host: req.headers.host, url: req.url });
    res.setHeader("content-type", "text/html; charset=utf-8");
    if (req.url === "/") res.end("<body style='margin:0;background:#000'><a id=next href='/next' style='color:#000'>next</a></body>");
    else res.end(`<title>${req.url}</title>${req.url}`);
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  fx.atExit(() => server.close());
  return { port: server.address().port, requests };
}

// An add-on that sends blocked.localhost to the site's /warned page after
// answering asynchronously, as the filter's extension will.
function writeAddon(folder, port) {
  fs.mkdirSync(folder);
  fs.writeFileSync(path.join(folder, "manifest.json"), JSON.stringify({
    manifest_version: 2,
    name: "driver smoke",
    version: "1.0",
    browser_specific_settings: { gecko: { id: ADDON_ID } },
    permissions: ["webRequest", "webRequestBlocking", "<all_urls>"],
    background: { scripts: ["background.js"], persistent: true },
  }));
  fs.writeFileSync(path.join(folder, "background.js"), `
browser.webRequest.onBeforeRequest.addListener(
  (d) => new Promise((resolve) => setTimeout(() => resolve({ redirectUrl: "http://127.0.0.1:${port}/warned" }), 50)),
  { urls: ["*://blocked.localhost/*"], types: ["main_frame", "sub_frame"] }, ["blocking"]);`);
}

// Width, height and the first row's first pixel of an 8-bit RGBA PNG.
function readPng(file) {
  const png = fs.readFileSync(file);
  assert.ok(png.subarray(0, 8).equals(Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a])), "not a PNG");
  const idat = [];
  let header = null;
  for (let at = 8; at < png.length;) {
    const length = png.readUInt32BE(at);
    const type = png.toString("latin1", at + 4, at + 8);
    const data = png.subarray(at + 8, at + 8 + length);
    if (type === "IHDR") header = { width: data.readUInt32BE(0), height: data.readUInt32BE(4), depth: data[8], colour: data[9] };
    if (type === "IDAT") idat.push(data);
    at += 12 + length;
  }
  assert.ok(header && header.depth === 8 && header.colour === 6, "not an 8-bit RGBA PNG: " + JSON.stringify(header));
  const raw = zlib.inflateSync(Buffer.concat(idat));
  // The first row has no row above, so every filter predicts from the left
  // pixel only (None and Up predict nothing), and the first pixel from zero.
  const filter = raw[0];
  assert.ok(filter <= 4, "bad PNG filter " + filter);
  return { width: header.width, height: header.height, firstPixel: [...raw.subarray(1, 5)] };
}

// Processes of a process group (Firefox's, started detached), zombies aside.
function groupMembers(pgid) {
  const members = [];
  for (const pid of fs.readdirSync("/proc").filter((p) => /^\d+$/.test(p))) {
    try {
      const stat = fs.readFileSync(`/proc/${pid}/stat`, "utf8");
      const fields = stat.slice(stat.lastIndexOf(")") + 2).split(" ");
      if (Number(fields[2]) === pgid && fields[0] !== "Z") members.push(Number(pid));
    } catch (e) {
      // gone meanwhile
    }
  }
  return members;
}

let step = "setting up";
async function main() {
  const started = Date.now();
  const profile = fx.privateProfile();
  const site = await startSite();
  const at = (name, p = "/") => `http://${name}.localhost:${site.port}${p}`;
  const addonDir = path.join(profile.root, "addon");
  writeAddon(addonDir, site.port);

  step = "starting Firefox";
  const session = await fx.startFirefox({ firefox, profile, systemAccess: true });
  const startMs = Date.now() - started;
  const chrome = (script) => session.execute(script, [], { chrome: true });

  step = "checking the profile and prefs Firefox runs with";
  assert.strictEqual(await chrome("return Services.dirsvc.get('ProfD', Ci.nsIFile).path"), profile.profileDir);
  assert.strictEqual(await chrome("return Services.env.get('HOME')"), profile.dirs.home);
  assert.strictEqual(await chrome("return Services.prefs.getBoolPref('xpinstall.signatures.required')"), false);
  assert.strictEqual(await chrome("return Services.prefs.getBoolPref('app.update.auto')"), false);
  assert.strictEqual(await chrome("return Services.prefs.getIntPref('network.proxy.type')"), 0);
  const pgid = session.child.pid;
  assert.ok(groupMembers(pgid).length >= 2, "Firefox and its content processes share the group that cleanup kills");

  step = "installing the temporary add-on";
  assert.strictEqual(await session.installAddon(addonDir), ADDON_ID);

  step = "loading pages of the loopback server";
  await session.navigate(at("www.shop"));
  assert.strictEqual(await session.currentUrl(), at("www.shop"));
  assert.deepStrictEqual(site.requests.slice(-1), [{ method: "GET", host: `www.shop.localhost:${site.port}`, url: "/" }]);
  assert.strictEqual(await session.execute("return arguments[0] + document.querySelector('#next').textContent", ["é€😀 "]), "é€😀 next");

  step = "a screenshot of the page";
  const shot = path.join(profile.root, "shot.png");
  await session.screenshot(shot);
  const png = readPng(shot);
  assert.ok(png.width >= 400 && png.height >= 300, `a ${png.width}x${png.height} screenshot`);
  assert.deepStrictEqual(png.firstPixel, [0, 0, 0, 255], "the page's black background is not in the screenshot");

  step = "the add-on's answer sends a request elsewhere before it leaves";
  await session.navigate(at("blocked", "/login"));
  assert.strictEqual(await session.currentUrl(), `http://127.0.0.1:${site.port}/warned`);
  const leaked = site.requests.filter((r) => r.host.startsWith("blocked."));
  assert.deepStrictEqual(leaked, [], "the blocked host was reached");

  step = "a click and a second tab";
  await session.navigate(at("www.shop"));
  await session.click("#next");
  await fx.waitFor("the click's page", async () => (await session.currentUrl()) === at("www.shop", "/next"), 5000);
  const first = await session.windowHandle();
  const tab = await session.newWindow("tab");
  assert.deepStrictEqual((await session.windowHandles()).sort(), [first, tab].sort());
  await session.switchToWindow(tab);
  await session.navigate(at("tab"));
  assert.strictEqual(await session.currentUrl(), at("tab"));
  await session.closeWindow();
  await session.switchToWindow(first);
  assert.deepStrictEqual(await session.windowHandles(), [first]);
  assert.strictEqual(await session.currentUrl(), at("www.shop", "/next"));

  step = "closing Firefox";
  await session.close();
  await fx.waitFor("every process of Firefox's group to end", () => groupMembers(pgid).length === 0, 10000);
  return { startMs, totalMs: Date.now() - started };
}

main().then(
  ({ startMs, totalMs }) => {
    clearTimeout(watchdog);
    console.log(`PASSED: Firefox started headless in ${startMs} ms; profile, add-on, pages, click, tab, screenshot, close (${totalMs} ms in all)`);
    process.exit(0);
  },
  (error) => {
    console.error(`FAILED while ${step}: ${error.stack}`);
    process.exit(1);
  });
