// The main job's session in headless Chromium: reads the sample addresses
// (and "continue", which clicks the warning page's link, and "post ADDRESS",
// a page whose form posts a password there) one a line from standard input,
// browses them in one tab, and tells where the tab ended.
// The first grey warning page is saved as a screenshot. Run by
// scripts/run-browser.sh --chromium inside its private profile (HOME and the
// XDG folders already point there).
//   node run-sample.js --user-data-dir DIR --installer PATH --reg PATH
//                      --extension DIR --server URL --screenshot FILE
"use strict";
const fs = require("fs");
const cs = require("./chromium-session.js");

const options = {};
for (let i = 2; i + 1 < process.argv.length; i += 2) options[process.argv[i].replace(/^--/, "")] = process.argv[i + 1];
for (const name of ["user-data-dir", "installer", "reg", "extension", "server", "screenshot"])
  if (!options[name]) {
    console.error(`run-sample.js: --${name} is missing`);
    process.exit(2);
  }

function describe(address, location, server) {
  if (location.startsWith(server + "grey.html?") || location.startsWith(server + "black.html?")) {
    const kind = location.startsWith(server + "grey.html?") ? "grey" : "black";
    const offers = /&var4=\([0-9a-f]+\)$/.test(location) ? "which offers to continue" : "which offers no way on";
    return `sent to the ${kind} warning page, ${offers}`;
  }
  if (address === "continue") return "click-through verified, the address reloaded without its key";
  return location === address ? "allowed" : "ended elsewhere";
}

// A page that posts a login form with a password to address as it loads.
function formPosting(address) {
  return "data:text/html," + encodeURIComponent(`<form method="post" action="${address.replace(/"/g, "&quot;")}">` +
    `<input name="user" value="me"><input type="password" name="password" value="s3cret"></form>` +
    `<script>document.forms[0].submit()</script>`);
}

async function main() {
  const chromium = cs.findChromium();
  if (!chromium) throw new Error("chromium is not installed (apt-get install chromium)");
  const lines = fs.readFileSync(0, "utf8").split("\n").map((l) => l.trim()).filter(Boolean);
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

  const tab = session.firstPage;
  let shot = false;
  for (const line of lines) {
    if (line.startsWith("#")) {
      console.log(line);
      continue;
    }
    const since = await session.mark();
    const post = /^post (\S+)$/.exec(line);
    if (line === "continue") await session.click(tab, "#continue");
    else if (post) await session.navigate(tab, formPosting(post[1]));
    else await session.navigate(tab, line);
    const location = await session.waitForLocation(tab, "the tab to settle", () => true, since, 20000);
    console.log(`[tab] ${line === "continue" ? "continue -> " + location : line}`);
    console.log(`    ${describe(post ? post[1] : line, location, options.server)}`);
    if (post) console.log("    whether its POST reached the server: the count under the server's log below");
    console.log(`    now at ${location}`);
    if (!shot && location.startsWith(options.server + "grey.html?")) {
      await session.screenshot(tab, options.screenshot);
      console.log(`# -- The grey warning page as Chromium shows it: saved to ${options.screenshot}`);
      shot = true;
    }
  }
  await session.close();
}

main().then(
  () => process.exit(0),
  (error) => {
    console.error("run-sample.js: " + error.message);
    process.exit(1);
  });
