// End to end in a real browser: headless Chromium with the filter's
// extension, one ostrel-webext-host per window loading the module from the
// registry, and the warning pages and sample sites served by ostrel-serve on
// 127.0.0.1 (every name resolves there). Exit 77 (skipped, loudly) only when
// Chromium is not installed.
//   node end-to-end.js   (paths of the programs in the environment, see below)
"use strict";
const fs = require("fs");
const path = require("path");
const cs = require(process.env.OSTREL_WEBEXT_DRIVER || "../../host/webext/driver/chromium-session.js");

const need = cs.fromEnvironment;

const chromium = cs.findChromium();
const watchdog = cs.browserTest({ browser: chromium, limitSeconds: 100,
  missing: "chromium is not installed (apt-get install chromium); the filter was not tried in Chromium" });

let session = null;
let server = null;
let step = "setting up";

async function main() {
  const profile = cs.privateProfile();
  const env = profile.env;

  // The update site: the warning pages as built, and a list of our own.
  const site = path.join(profile.root, "site");
  fs.mkdirSync(site);
  for (const page of ["grey.html", "black.html", "warning.js", "index.html"])
    fs.copyFileSync(path.join(need("OSTREL_WEB_DIR"), page), path.join(site, page));
  fs.writeFileSync(path.join(site, "list.txt"),
    "g ^([a-z]+\\.)*grey\\.localhost(:|/|$)\nb ^([a-z]+\\.)*evil\\.localhost(:|/|$)\n");
  cs.run(need("OSTREL_DB"), ["encrypt", path.join(site, "list.txt"), path.join(site, "phishx.dbf")], env);
  cs.run(need("OSTREL_DB"), ["metadata", "DB_VERSION=1", "POLL_INTERVAL=0", path.join(site, "mdatax.dat")], env);
  server = await cs.startServer(need("OSTREL_SERVE"), site, env);
  const at = (name, p = "/") => `http://${name}.localhost:${server.port}${p}`;
  const blackPage = server.base + "black.html?";
  const greyPage = server.base + "grey.html?";

  const reg = need("OSTREL_REG");
  cs.run(need("OSTREL_REGSVR"), [need("OSTREL_MODULE")], env);
  cs.pointFilterAt(reg, env, server.base, cs.buildNumber(need("OSTREL_SOURCE_DIR")));

  step = "starting Chromium and the first window's host";
  session = await cs.startChromium({ chromium, installer: need("OSTREL_WEBEXT_INSTALL"),
    extensionDir: need("OSTREL_EXTENSION_DIR"), profile });
  await cs.waitFor("the filter to download its list", () => cs.listDownloaded(reg, env), 30000, 200);
  const tab = session.firstPage;

  // The first answer any host gave after a log position.
  const mark = () => session.mark();
  const firstAnswerSince = async (n) =>
    (await session.state()).log.find((e) => e.n > n && (e.in === "navigate" || e.in === "stop"));
  // Ends on the black page for this address; the host's answers come in the
  // order of the events, so this is also the barrier after which an earlier
  // navigation can no longer be redirected. var3: the address as the query
  // carries it (a query's "?", "&" and "+" escaped).
  const expectBlack = async (page, address, since, var3 = address) => {
    const started = await mark();
    await session.navigate(page, address);
    await session.waitForLocation(page, `the black warning page for ${address}`,
      (h) => h === blackPage + "var1=ZORTBHO&var2=black&var3=" + var3, started);
    const hidden = await session.devtools.evaluate(page.sessionId, "document.getElementById('way-on').hidden");
    if (hidden !== true) throw new Error("the black page offers a way on");
    const answer = await firstAnswerSince(since);
    if (!answer || answer.in !== "navigate" || !answer.url.endsWith("var3=" + var3))
      throw new Error(`the first redirect since the previous page was ${JSON.stringify(answer)}, not the one for ${address}`);
  };
  const expectUntouched = async (page, address) => {
    const started = await mark();
    await session.navigate(page, address);
    await session.waitForLocation(page, `${address} to load untouched`, (h) => h === address, started);
  };

  step = "a clean address is untouched; a black one, with or without a query, ends on the black page without var4";
  let since = await mark();
  await expectUntouched(tab, at("www.shop"));
  await expectBlack(tab, at("evil", "/index.html"), since);
  await expectBlack(tab, at("www.evil", "/login?user=a&b=c+d"), await mark(),
    at("www.evil", "/login%3Fuser=a%26b=c%2Bd"));

  step = "a grey address ends on the grey page with var4; continue reaches the site";
  const grey = at("login.grey", "/index.html");
  since = await mark();
  await session.navigate(tab, grey);
  const warning = await session.waitForLocation(tab, "the grey warning page", (h) => h.startsWith(greyPage), since);
  const key = /&var4=(\([0-9a-f]+\))$/.exec(warning);
  if (!warning.startsWith(greyPage + "var1=ZORTBHO&var2=grey&var3=" + grey + "&var4=") || !key)
    throw new Error("the grey page's address is not as expected: " + warning);
  const link = await session.devtools.evaluate(tab.sessionId, "document.getElementById('continue').href");
  if (link !== grey + key[1]) throw new Error(`the continue link goes to ${link}, not ${grey + key[1]}`);
  since = await mark();
  await session.click(tab, "#continue");
  await session.waitForLocation(tab, "the grey site reloaded without its key", (h) => h === grey, since);

  step = "the rest of the grey site is not redirected again";
  since = await mark();
  await expectUntouched(tab, at("login.grey"));
  await expectBlack(tab, at("after.evil"), since);

  step = "a second window has a host of its own, and closing it ends that host";
  const second = await session.newWindow();
  const two = await session.waitForHosts(2);
  const pids = Object.values(two.windows).map((w) => w.pid);
  if (new Set(pids).size !== 2) throw new Error("two windows share a host: " + JSON.stringify(two.windows));
  for (const pid of pids) {
    const cmdline = fs.readFileSync(`/proc/${pid}/cmdline`, "utf8");
    if (!cmdline.includes("ostrel-webext-host")) throw new Error(`pid ${pid} is not a host: ${cmdline}`);
  }
  await expectBlack(second, at("www.evil"), await mark());
  await session.devtools.send("Target.closeTarget", { targetId: second.targetId });
  const after = await session.waitForHosts(1);
  const [gone] = Object.keys(two.windows).filter((id) => !(id in after.windows)).map((id) => two.windows[id].pid);
  await cs.waitFor(`the closed window's host (pid ${gone}) to end`, () => !alive(gone), 10000);
  const kept = Object.values(after.windows)[0].pid;
  if (!alive(kept)) throw new Error("the remaining window's host ended too");

  step = "a window whose host dies gets a new one and stays protected";
  process.kill(kept, "SIGKILL");
  const [windowId] = Object.keys(after.windows);
  await cs.waitFor("a new host for the window", async () => {
    const w = (await session.state()).windows[windowId];
    return w && w.ready && w.pid !== kept && w.connects === 2;
  }, 15000, 200);
  await expectBlack(tab, at("again.evil"), await mark());

  step = "a paused filter lets the next navigation through";
  cs.setFilterValue(reg, env, "BHOPaused", "REG_DWORD", 1);
  since = await mark();
  await expectUntouched(tab, at("paused.evil"));
  cs.setFilterValue(reg, env, "BHOPaused", "REG_DWORD", 0);
  await expectBlack(tab, at("resumed.evil"), since);

  step = "an address over 65,536 characters is scanned cut to that length";
  const long = at("long.evil", "/" + "a".repeat(70000));
  since = await mark();
  await session.navigate(tab, long);
  const cut = await cs.waitFor("the host's answer to the long address", () => firstAnswerSince(since));
  if (cut.in !== "navigate" || !cut.url.endsWith("var3=" + long.slice(0, 65536)))
    throw new Error("the long address was answered with " + JSON.stringify(cut).slice(0, 300));

  step = "closing Chromium";
  await session.close();
  // The hosts' last words (a sanitizer's leak report comes at exit) count too.
  await Promise.race([session.stderrClosed, cs.sleep(10000)]);
  cs.checkHostOutput(session.stderr(), "Chromium");
}

// A process is gone once it has exited, even if no one has reaped it yet.
function alive(pid) {
  try {
    const stat = fs.readFileSync(`/proc/${pid}/stat`, "utf8");
    return !/^\d+ \(.*\) Z/.test(stat);
  } catch (e) {
    return false;
  }
}

main().then(
  () => {
    clearTimeout(watchdog);
    console.log("PASSED: black, grey with continue, clean, two windows, window close, host restart, pause, long address in Chromium");
    process.exit(0);
  },
  (error) => {
    console.error(`FAILED while ${step}: ${error.message}`);
    if (session) {
      const lines = session.stderr().split("\n").filter((l) => !/dbus|DBus|UPower/.test(l));
      if (server) console.error("-- requests served (last) --\n" + server.log().split("\n").slice(-15).join("\n"));
      console.error("-- Chromium's standard error (last lines) --\n" + lines.slice(-40).join("\n"));
      session.state().then(
        (s) => console.error("-- the extension's log (last entries) --\n" + s.log.slice(-15).map((e) => JSON.stringify(e)).join("\n")),
        () => {}).finally(() => process.exit(1));
      setTimeout(() => process.exit(1), 3000);
    } else {
      process.exit(1);
    }
  });
