// Nothing reaches a listed address before the filter's verdict, in headless
// Firefox ESR with the filter's add-on: every request of a page or frame
// waits for the window's host. Every way a page gets to an address (typed,
// by script, a form posting a password, a redirect, a new window or tab, a
// frame) is run for every listed entry, host-shaped or not, against a site
// server of our own that logs every request with its Host, method and body:
// no request reaches a listed address, and the tab ends on the right warning
// page. Clean and well-known sites load unchanged, the grey page's continue
// works and no site sees a key, and a host killed while it decides is
// restarted, answers what its predecessor was asked, and protects again.
// Prints the counts per row. Exit 77 (skipped, loudly) only when Firefox is
// not installed.
//   node end-to-end.js   (paths of the programs in the environment, as for the Chromium tests)
"use strict";
const fs = require("fs");
const http = require("http");
const path = require("path");
const fx = require(process.env.OSTREL_FIREFOX_DRIVER || "../../host/webext/driver/firefox-session.js");

const RUNS = Number(process.env.OSTREL_RUNS || 2);
const KEY = /\([0-9a-f]{16,}\)/i; // a click-through key, as the grey page carries it

const need = fx.fromEnvironment;

const firefox = fx.findFirefox();
const watchdog = fx.browserTest({ browser: firefox, limitSeconds: 180,
  missing: "firefox-esr is not installed (apt-get install firefox-esr); the filter was not tried in Firefox" });

let session = null;
let step = "setting up";

// The sites: *.localhost and the well-known names below all reach this
// server; each request is logged with its host, method, path and body.
// /to-by-script/N, /to-by-form/N, /to-in-frame/N and /open-window/N,
// /open-tab/N lead to the address registered as N; /redirect/N answers 302
// to it; anything else is a plain page.
function startSites() {
  const requests = [];
  const targets = [];
  const page = (body) => `<!doctype html><html><head><title>site</title></head><body>${body}</body></html>`;
  const server = http.createServer((req, res) => {
    let body = "";
    req.on("data", (d) => (body += d));
    req.on("end", () => {
      requests.push({ host: (req.headers.host || "").replace(/:\d+$/, ""), method: req.method, url: req.url, body });
      const m = /^\/([a-z-]+)\/(\d+)$/.exec(req.url);
      const to = m ? targets[Number(m[2])] : undefined;
      const quoted = JSON.stringify(to || "");
      res.setHeader("Cache-Control", "no-store");
      if (m && m[1] === "redirect") {
        res.writeHead(302, { Location: to });
        return res.end();
      }
      res.setHeader("Content-Type", "text/html");
      if (!m) return res.end(page(`<p id="site">${req.headers.host}${req.url.replace(/[<&]/g, "")}</p>`));
      if (m[1] === "to-by-script") return res.end(page(`<script>location.href = ${quoted};</script>`));
      if (m[1] === "to-by-form")
        return res.end(page(`<form method="post"><input name="user" value="me"><input name="password" type="password" value="s3cret"></form>
          <script>document.forms[0].action = ${quoted}; document.forms[0].submit();</script>`));
      if (m[1] === "to-in-frame") return res.end(page(`<p>a clean page</p><iframe src=${quoted}></iframe>`));
      if (m[1] === "open-window") return res.end(page(`<script>window.open(${quoted}, "_blank", "popup,width=600,height=400");</script>`));
      if (m[1] === "open-tab") return res.end(page(`<script>window.open(${quoted}, "_blank");</script>`));
      res.end(page("unknown"));
    });
  });
  return new Promise((resolve) => server.listen(0, "127.0.0.1", () => {
    fx.atExit(() => server.close());
    // Registers an address; gives the clean page that leads there by `how`.
    const via = (how, to) => `http://clean.localhost:${server.address().port}/${how}/${targets.push(to) - 1}`;
    resolve({ port: server.address().port, requests, via });
  }));
}

async function main() {
  const profile = fx.privateProfile();
  const env = profile.env;

  // The update site (warning pages and the list) on ostrel-serve. Two of
  // the entries name no host: no rule of a browser could stop them.
  const update = path.join(profile.root, "site");
  fs.mkdirSync(update);
  for (const page of ["grey.html", "black.html", "warning.js", "index.html"])
    fs.copyFileSync(path.join(need("OSTREL_WEB_DIR"), page), path.join(update, page));
  fs.writeFileSync(path.join(update, "list.txt"), [
    "w ^([a-z0-9-]+\\.)*ok\\.evil\\.localhost(:|/|$)",  // white, before the black entry that also covers it
    "g ^([a-z0-9-]+\\.)*grey\\.localhost(:|/|$)",
    "b ^([a-z0-9-]+\\.)*evil\\.localhost(:|/|$)",
    "b /paypa1-login",
    "g login-verify",
    ""].join("\n"));
  fx.run(need("OSTREL_DB"), ["encrypt", path.join(update, "list.txt"), path.join(update, "phishx.dbf")], env);
  fx.run(need("OSTREL_DB"), ["metadata", "DB_VERSION=1", "POLL_INTERVAL=0", path.join(update, "mdatax.dat")], env);
  const server = await fx.startServer(need("OSTREL_SERVE"), update, env);
  const blackPage = server.base + "black.html?var1=ZORTBHO&var2=black&var3=";
  const greyPage = server.base + "grey.html?var1=ZORTBHO&var2=grey&var3=";

  const sites = await startSites();
  const at = (name, p = "/") => `http://${name}.localhost:${sites.port}${p}`;
  // Whether a request (host, path) is one the list names.
  const listed = (host, target) =>
    (/(^|\.)(evil|grey)\.localhost$/.test(host) && !/(^|\.)ok\.evil\.localhost$/.test(host)) ||
    /paypa1-login|login-verify/i.test(decodeURIComponent(target));
  // The listed entries, each a fresh address per run, and the page it must end on.
  const entries = [
    { entry: "b host", address: (tag) => at(`${tag}.evil`, "/login"), black: true },
    { entry: "g host", address: (tag) => at(`${tag}.grey`, "/index.html"), black: false },
    { entry: "b /paypa1-login", address: (tag) => at(`${tag}.shop`, "/paypa1-login"), black: true },
    { entry: "g login-verify", address: (tag) => at(`${tag}.shop`, "/account/login-verify"), black: false },
  ];
  const warningFor = (e, address) => e.black ? (h) => h === blackPage + address
    : (h) => h.startsWith(greyPage + address + "&var4=") && KEY.test(h.slice((greyPage + address).length));

  const reg = need("OSTREL_REG");
  fx.run(need("OSTREL_REGSVR"), [need("OSTREL_MODULE")], env);
  fx.pointFilterAt(reg, env, server.base, fx.buildNumber(need("OSTREL_SOURCE_DIR")));

  step = "starting Firefox with the add-on; the host ready and the list downloaded";
  session = await fx.startFilterFirefox({ firefox, installer: need("OSTREL_WEBEXT_INSTALL"),
    extensionDir: need("OSTREL_FIREFOX_EXTENSION_DIR"), profile,
    prefs: {
      // The well-known names resolve to loopback, and stay on plain HTTP.
      "network.dns.localDomains": "www.example.com,www.google.com",
      "dom.security.https_first": false,
      "dom.security.https_only_mode": false,
      "network.stricttransportsecurity.preloadlist": false,
    } });
  if (!fs.existsSync(path.join(profile.dirs.home, ".mozilla/native-messaging-hosts/org.ostrel.antiphish.json")))
    throw new Error("the installer wrote no host manifest for Firefox");
  const firstHost = await session.readyHost();
  await fx.waitFor("the filter to download its list", () => fx.listDownloaded(reg, env), 30000, 200);
  const mainTab = await session.windowHandle();

  // Waits until the current tab has loaded an address that satisfies test.
  const settle = async (what, test, timeoutMs = 10000) => {
    let last = "";
    try {
      return await fx.waitFor(what, async () => {
        last = await session.currentUrl();
        if (!test(last)) return null;
        return (await session.execute("return document.readyState")) === "complete" ? last : null;
      }, timeoutMs, 50);
    } catch (e) {
      throw new Error(`${e.message}; the tab was last at ${last}`);
    }
  };

  // Opened by a page: the new tab's handle once it appears; it is switched to.
  const switchToNew = async (before) => {
    const handle = await fx.waitFor("the new window or tab", async () =>
      (await session.windowHandles()).find((h) => !before.includes(h)), 5000, 50);
    await session.switchToWindow(handle);
    return handle;
  };
  const browserWindows = () => session.execute(
    "let n = 0; for (const w of Services.wm.getEnumerator('navigator:browser')) ++n; return n;", [], { chrome: true });

  const table = [];
  // One row: each listed entry reached RUNS times by go(address), which
  // gives what to check once there; counts the requests that reached
  // listed addresses meanwhile, and form posts that reached any server.
  const row = async (name, go) => {
    step = name;
    const before = sites.requests.length;
    let ended = 0;
    for (const e of entries)
      for (let run = 1; run <= RUNS; ++run) {
        const address = e.address(`${name.replace(/[^a-z]/g, "").slice(0, 12)}${run}`);
        const done = await go(address);
        await settle(`the ${e.black ? "black" : "grey"} page for ${address} (${e.entry}, run ${run})`, warningFor(e, address));
        ended += 1;
        if (done) await done();
      }
    await fx.sleep(300); // a request that was going to leak late
    const seen = sites.requests.slice(before);
    const reached = seen.filter((r) => listed(r.host, r.url));
    table.push({ row: name, navigations: entries.length * RUNS, "ended on the warning page": ended,
      "requests to listed addresses": reached.length, "site requests in all": seen.length });
    if (reached.length) throw new Error(`${reached.length} requests reached listed addresses: ${JSON.stringify(reached.slice(0, 3))}`);
  };

  await row("typed address", (address) => session.navigate(address));
  await row("script location.href", (address) => session.navigate(sites.via("to-by-script", address)));
  await row("form POST with a password", (address) => session.navigate(sites.via("to-by-form", address)));
  await row("302 from a clean page", (address) => session.navigate(sites.via("redirect", address)));
  await row("iframe on a clean page", (address) => session.navigate(sites.via("to-in-frame", address)));
  for (const [name, how, windows] of [["new window", "open-window", 2], ["new tab", "open-tab", 1]])
    await row(name, async (address) => {
      await session.navigate(at("opener"));
      await settle("the opener page", (h) => h === at("opener"));
      const before = await session.windowHandles();
      await session.navigate(sites.via(how, address));
      await switchToNew(before);
      return async () => {
        const open = await browserWindows();
        await session.closeWindow();
        await session.switchToWindow(mainTab);
        if (open !== windows) throw new Error(`${name}: ${open} browser windows were open, not ${windows}`);
      };
    });

  step = "the warning pages reached by a fresh GET: no form post reached any server";
  const posts = sites.requests.filter((r) => r.method === "POST").length + (server.log().match(/^POST /gm) || []).length;
  if (posts) throw new Error(`${posts} form posts reached a server`);

  step = "clean and well-known sites load unchanged";
  const clean = [at("www.shop"), at("notevil", "/login"), at("pages", "/paypa1/login"), at("ok.evil", "/fine"),
    `http://www.example.com:${sites.port}/`, `http://www.google.com:${sites.port}/search?q=evil.localhost`];
  for (const address of clean) {
    const before = sites.requests.length;
    await session.navigate(address);
    await settle(`${address}, untouched`, (h) => h === address);
    const u = new URL(address);
    const got = sites.requests.slice(before).filter((r) => r.host === u.hostname && r.url === u.pathname + u.search);
    if (got.length !== 1) throw new Error(`${address} was requested ${got.length} times`);
  }
  table.push({ row: "clean, white and well-known sites", navigations: clean.length, "ended on the warning page": 0,
    "requests to listed addresses": 0, "site requests in all": clean.length });

  step = "the grey page's continue, clicked, reaches the site without its key";
  for (const e of entries.filter((x) => !x.black)) {
    const address = e.address("continued");
    await session.navigate(address);
    await settle("the grey page", warningFor(e, address));
    const before = sites.requests.length;
    await session.click("#continue");
    await settle(`${address} without its key`, (h) => h === address);
    await fx.sleep(300);
    const got = sites.requests.slice(before).filter((r) => r.url !== "/favicon.ico");
    const u = new URL(address);
    if (got.length !== 1 || got[0].host !== u.hostname || got[0].url !== u.pathname)
      throw new Error(`continuing to ${address}, the sites saw ${JSON.stringify(got)}`);
    table.push({ row: `grey continue (${e.entry})`, navigations: 1, "ended on the warning page": 1,
      "requests to listed addresses": "1 (continued)", "site requests in all": got.length });
  }
  const keyed = sites.requests.filter((r) => KEY.test(decodeURIComponent(r.url + r.body)));
  if (keyed.length) throw new Error("a site saw a key: " + JSON.stringify(keyed));

  step = "a host killed while it decides: its request waits for the host started in its place";
  const killed = (await session.readyHost()).pid;
  if (killed !== firstHost.pid) throw new Error(`the window's host changed unasked: ${firstHost.pid} -> ${killed}`);
  const sinceKill = await session.mark();
  const before = sites.requests.length;
  const inFlight = at("in-flight.evil", "/login");
  process.kill(killed, "SIGSTOP"); // it holds the request unanswered until it is killed
  // By script: Marionette's navigation would wait for the held request.
  await session.execute("location.href = arguments[0]", [inFlight]);
  await fx.waitFor("the request to reach the paused host", async () =>
    (await session.state()).log.some((e) => e.n > sinceKill && e.out === "request" && e.url === inFlight), 5000, 50);
  process.kill(killed, "SIGKILL");
  await settle("the black page from the host started in its place", (h) => h === blackPage + inFlight);
  const log = (await session.state()).log.filter((e) => e.n > sinceKill);
  if (!log.some((e) => e.disconnected)) throw new Error("the add-on did not see its host go");
  const off = log.some((e) => e.protecting === false);
  const restarted = await session.readyHost();
  if (!restarted || restarted.pid === killed) throw new Error("no new host answered");
  const after = at("after-restart.shop", "/paypa1-login");
  await session.navigate(after);
  await settle("the black page from the restarted host", (h) => h === blackPage + after);
  await fx.sleep(300);
  const leaked = sites.requests.slice(before).filter((r) => listed(r.host, r.url));
  if (leaked.length) throw new Error(`around the restart, ${leaked.length} requests reached listed addresses`);
  table.push({ row: `host ${killed} killed deciding; ${restarted.pid} took over`, navigations: 2, "ended on the warning page": 2,
    "requests to listed addresses": leaked.length, "site requests in all": sites.requests.length - before });

  step = "closing Firefox";
  const output = () => session.output();
  await session.close();
  await Promise.race([session.outputClosed, fx.sleep(10000)]);
  fx.checkHostOutput(output(), "Firefox");
  console.table(table);
  console.log(`while the host was gone the add-on ${off ? "said it was not protecting" : "did not get to say it was not protecting"}`);
}

main().then(
  () => {
    clearTimeout(watchdog);
    console.log("PASSED: nothing reached a listed address before the verdict, in every way a page gets there, for every entry");
    process.exit(0);
  },
  (error) => {
    console.error(`FAILED while ${step}: ${error.message}`);
    if (!session) process.exit(1);
    console.error("-- Firefox's output (last lines) --\n" + session.output().split("\n").slice(-30).join("\n"));
    session.state().then(
      (s) => console.error("-- the add-on's log (last entries) --\n" + s.log.slice(-25).map((e) => JSON.stringify(e).slice(0, 300)).join("\n")),
      () => {}).finally(() => process.exit(1));
    setTimeout(() => process.exit(1), 3000);
  });
