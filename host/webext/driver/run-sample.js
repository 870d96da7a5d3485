// The main job's session in headless Chromium (see sample-job.js for what
// it browses and prints); the first grey warning page is saved as a
// screenshot. Run by scripts/run-browser.sh --chromium inside its private
// profile (HOME and the XDG folders already point there).
//   node run-sample.js --user-data-dir DIR --installer PATH --reg PATH
//                      --extension DIR --server URL --screenshot FILE
"use strict";
const cs = require("./chromium-session.js");
const job = require("./sample-job.js");

const options = job.parseOptions("run-sample.js", ["user-data-dir", "installer", "reg", "extension", "server", "screenshot"]);

async function main() {
  const chromium = cs.findChromium();
  if (!chromium) throw new Error("chromium is not installed (apt-get install chromium)");
  const profile = { env: process.env, userDataDir: options["user-data-dir"] };
  const session = await cs.startChromium({ chromium, installer: options.installer, extensionDir: options.extension, profile });
  const window = Object.keys((await session.state()).windows)[0];
  console.log(`# -- Chromium started; window ${window} has its filter host (pid ${(await session.state()).windows[window].pid}).`);
  try {
    await cs.waitFor("the filter to download its list", () => cs.listDownloaded(options.reg, process.env), 30000, 200);
    console.log("# -- The filter downloaded the database from the sample update site.");
  } catch (e) {
    console.log("# -- No database arrived within 30 s: see the server's log below.");
  }

  const page = session.firstPage;
  const tab = {
    navigate: (url) => session.navigate(page, url),
    click: (selector) => session.click(page, selector),
    mark: () => session.mark(),
    settle: (since) => session.waitForLocation(page, "the tab to settle", () => true, since, 20000),
    screenshot: (file) => session.screenshot(page, file),
    close: () => session.close(),
  };
  await job.browse(tab, { browserName: "Chromium", server: options.server, shotKind: "grey", shotFile: options.screenshot });
}

job.runJob("run-sample.js", main);
