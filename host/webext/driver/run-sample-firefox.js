// The main job's session in headless Firefox ESR (see sample-job.js for
// what it browses and prints), with the filter's add-on installed for the
// run; the first black warning page is saved as a screenshot. Run by
// scripts/run-browser.sh --firefox inside its private profile (HOME and the
// XDG folders already point there).
//   node run-sample-firefox.js --profile-dir DIR --installer PATH --reg PATH
//                              --extension DIR --server URL --screenshot FILE
"use strict";
const fx = require("./firefox-session.js");
const job = require("./sample-job.js");

const options = job.parseOptions("run-sample-firefox.js", ["profile-dir", "installer", "reg", "extension", "server", "screenshot"]);

async function main() {
  const firefox = fx.findFirefox();
  if (!firefox) throw new Error("firefox-esr is not installed (apt-get install firefox-esr)");
  const profile = { env: process.env, profileDir: options["profile-dir"] };
  const session = await fx.startFilterFirefox({ firefox, installer: options.installer, extensionDir: options.extension, profile });
  console.log(`# -- Firefox started; its window has its filter host (pid ${(await session.readyHost()).pid}).`);
  try {
    await fx.waitFor("the filter to download its list", () => fx.listDownloaded(options.reg, process.env), 30000, 200);
    console.log("# -- The filter downloaded the database from the sample update site.");
  } catch (e) {
    console.log("# -- No database arrived within 30 s: see the server's log below.");
  }

  const tab = {
    navigate: (url) => session.navigate(url),
    click: (selector) => session.click(selector),
    mark: () => session.mark(),
    settle: (since) => session.waitForLocation("the tab to settle", () => true, since, 20000),
    screenshot: (file) => session.screenshot(file),
    close: () => session.close(),
  };
  await job.browse(tab, { browserName: "Firefox", server: options.server, shotKind: "black", shotFile: options.screenshot });
}

job.runJob("run-sample-firefox.js", main);
