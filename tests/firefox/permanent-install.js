// Installing the filter's add-on for good, as the README tells a user: the
// packed add-on the build makes (ostrel-antiphish.xpi) is refused while
// Firefox requires signatures, is installed once xpinstall.signatures.required
// is false, is still there and protecting after Firefox restarts, and once
// removed its host ends; the installer's --uninstall removes the host
// manifest. Exit 77 (skipped, loudly) only when Firefox is not installed.
//   node permanent-install.js   (paths of the programs in the environment, as for end-to-end.js)
"use strict";
const fs = require("fs");
const http = require("http");
const path = require("path");
const fx = require(process.env.OSTREL_FIREFOX_DRIVER || "../../host/webext/driver/firefox-session.js");

const need = fx.fromEnvironment;

const firefox = fx.findFirefox();
const watchdog = fx.browserTest({ browser: firefox, limitSeconds: 100,
  missing: "firefox-esr is not installed (apt-get install firefox-esr); the add-on's install was not tried" });

const alive = (pid) => {
  try {
    process.kill(pid, 0);
    return true;
  } catch (e) {
    return false;
  }
};

let step = "setting up";
async function main() {
  const profile = fx.privateProfile();
  const env = profile.env;
  const xpi = path.join(path.dirname(need("OSTREL_FIREFOX_EXTENSION_DIR")), "ostrel-antiphish.xpi");
  if (!fs.existsSync(xpi)) throw new Error(`the build made no ${xpi}`);

  const update = path.join(profile.root, "site");
  fs.mkdirSync(update);
  for (const page of ["grey.html", "black.html", "warning.js"]) fs.copyFileSync(path.join(need("OSTREL_WEB_DIR"), page), path.join(update, page));
  fs.writeFileSync(path.join(update, "list.txt"), "b ^([a-z]+\\.)*evil\\.localhost(:|/|$)\n");
  fx.run(need("OSTREL_DB"), ["encrypt", path.join(update, "list.txt"), path.join(update, "phishx.dbf")], env);
  fx.run(need("OSTREL_DB"), ["metadata", "DB_VERSION=1", "POLL_INTERVAL=0", path.join(update, "mdatax.dat")], env);
  const server = await fx.startServer(need("OSTREL_SERVE"), update, env);
  const reached = [];
  const site = http.createServer((req, res) => {
    reached.push(req.headers.host);
    res.end("<!doctype html><title>site</title>");
  });
  await new Promise((resolve) => site.listen(0, "127.0.0.1", resolve));
  fx.atExit(() => site.close());
  fx.run(need("OSTREL_REGSVR"), [need("OSTREL_MODULE")], env);
  fx.pointFilterAt(need("OSTREL_REG"), env, server.base, fx.buildNumber(need("OSTREL_SOURCE_DIR")));
  fx.run(need("OSTREL_WEBEXT_INSTALL"), ["--browser", "firefox"], env);
  const manifest = path.join(profile.dirs.home, ".mozilla/native-messaging-hosts/org.ostrel.antiphish.json");
  if (!fs.existsSync(manifest)) throw new Error("the installer wrote no host manifest for Firefox");

  const start = async (signaturesRequired) => {
    const s = new fx.FilterSession(await fx.launchFirefox({ firefox, profile, systemAccess: true,
      prefs: { "xpinstall.signatures.required": signaturesRequired } }));
    await s.newSession({ pageLoadStrategy: "none" });
    return s;
  };

  step = "installing the packed add-on while Firefox requires signatures";
  let session = await start(true);
  const refused = await session.installAddon(xpi, false).then(() => null, (e) => e);
  if (!refused) throw new Error("Firefox installed the unsigned add-on while it requires signatures");
  if (!/signed/i.test(refused.message)) throw new Error("the add-on was refused for another reason: " + refused.message);
  await session.close();

  step = "installing it with xpinstall.signatures.required false";
  session = await start(false);
  if ((await session.installAddon(xpi, false)) !== fx.FILTER_ADDON_ID) throw new Error("the packed add-on has another id");
  await session.close();

  step = "Firefox restarted: the add-on is still there, its host running, and it protects";
  session = await start(false);
  const host = await fx.waitFor("the window's host to say hello", () => session.readyHost(), 20000, 200);
  await fx.waitFor("the filter to download its list", () => fx.listDownloaded(need("OSTREL_REG"), env), 30000, 200);
  const listed = `http://www.evil.localhost:${site.address().port}/login`;
  const since = await session.mark();
  await session.navigate(listed);
  await session.waitForLocation("the black page", (h) => h === server.base + "black.html?var1=ZORTBHO&var2=black&var3=" + listed, since);
  if (reached.length) throw new Error(`the listed site was reached: ${reached}`);

  step = "removing the add-on ends its host; the installer removes the host manifest";
  await session.uninstallAddon(fx.FILTER_ADDON_ID);
  await fx.waitFor(`the host ${host.pid} to end`, () => !alive(host.pid), 10000, 100);
  await session.close();
  fx.run(need("OSTREL_WEBEXT_INSTALL"), ["--browser", "firefox", "--uninstall"], env);
  if (fs.existsSync(manifest)) throw new Error("the host manifest is still there");
}

main().then(
  () => {
    clearTimeout(watchdog);
    console.log("PASSED: the packed add-on installs for good where signatures are not required, protects after a restart, and is removed");
    process.exit(0);
  },
  (error) => {
    console.error(`FAILED while ${step}: ${error.message}`);
    process.exit(1);
  });
