// The main job's browsing, whatever the browser: reads the sample addresses
// (and "continue", which clicks the warning page's link, and "post ADDRESS",
// a page whose form posts a password there) one a line from standard input,
// browses them in one tab, and tells where the tab ended each time. The
// first warning page of the kind asked for is saved as a screenshot. Each
// browser's script (run-sample.js, run-sample-firefox.js) gives the tab:
//   { navigate(url), click(selector), mark(), settle(since) -> location,
//     screenshot(file), close() }
"use strict";
const fs = require("fs");

// --name value pairs; every name in required must be there.
function parseOptions(script, required) {
  const options = {};
  for (let i = 2; i + 1 < process.argv.length; i += 2) options[process.argv[i].replace(/^--/, "")] = process.argv[i + 1];
  for (const name of required)
    if (!options[name]) {
      console.error(`${script}: --${name} is missing`);
      process.exit(2);
    }
  return options;
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

// Browses the addresses on standard input in tab; saves the first warning
// page of kind shotKind ("grey" or "black") to shotFile.
async function browse(tab, { browserName, server, shotKind, shotFile }) {
  const lines = fs.readFileSync(0, "utf8").split("\n").map((l) => l.trim()).filter(Boolean);
  let shot = false;
  for (const line of lines) {
    if (line.startsWith("#")) {
      console.log(line);
      continue;
    }
    const since = await tab.mark();
    const post = /^post (\S+)$/.exec(line);
    if (line === "continue") await tab.click("#continue");
    else if (post) await tab.navigate(formPosting(post[1]));
    else await tab.navigate(line);
    const location = await tab.settle(since);
    console.log(`[tab] ${line === "continue" ? "continue -> " + location : line}`);
    console.log(`    ${describe(post ? post[1] : line, location, server)}`);
    if (post) console.log("    whether its POST reached the server: the count under the server's log below");
    console.log(`    now at ${location}`);
    if (!shot && location.startsWith(`${server}${shotKind}.html?`)) {
      await tab.screenshot(shotFile);
      console.log(`# -- The ${shotKind} warning page as ${browserName} shows it: saved to ${shotFile}`);
      shot = true;
    }
  }
  await tab.close();
}

// Runs main, and exits 0 when it ends, 1 with its message when it fails.
function runJob(script, main) {
  main().then(
    () => process.exit(0),
    (error) => {
      console.error(`${script}: ${error.message}`);
      process.exit(1);
    });
}

module.exports = { parseOptions, describe, formPosting, browse, runJob };
