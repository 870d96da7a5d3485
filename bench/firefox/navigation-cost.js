// What the filter's add-on costs a clean page in headless Firefox ESR: 50
// navigations to a page of a local server, once with an add-on that does
// nothing and once with the filter's (every request waits for its host's
// answer), and the median of the page's own timings: navigation start to
// the response's first byte (the request held for the verdict) and to the
// end of the load event. Prints both and the difference.
//   node bench/firefox/navigation-cost.js [BUILD]   (BUILD: the build folder, build/ by default)
"use strict";
const fs = require("fs");
const path = require("path");
const fx = require("../../host/webext/driver/firefox-session.js");
const bench = require("../common/navigation-cost.js");

const need = bench.programs();
// Timings at full precision (Firefox rounds them to a millisecond by default).
const PREFS = { "privacy.reduceTimerPrecision": false };

// An add-on that does nothing, so that only the filter's differs.
function emptyAddon(folder) {
  fs.mkdirSync(folder);
  fs.writeFileSync(path.join(folder, "manifest.json"), JSON.stringify({ manifest_version: 2, name: "none", version: "1",
    browser_specific_settings: { gecko: { id: "none@ostrel.test" } } }));
  return folder;
}

bench.run("navigation-cost.js", {
  privateProfile: () => fx.privateProfile(),
  async start(profile, withFilter) {
    const firefox = fx.findFirefox();
    if (!firefox) throw new Error("firefox-esr is not installed");
    if (withFilter) {
      await bench.serveSampleFilter(need, profile);
      const session = await fx.startFilterFirefox({ firefox, installer: need("OSTREL_WEBEXT_INSTALL"),
        extensionDir: need("OSTREL_FIREFOX_EXTENSION_DIR"), profile, prefs: PREFS });
      await fx.waitFor("the filter to download its list", () => fx.listDownloaded(need("OSTREL_REG"), profile.env), 30000, 200);
      return session;
    }
    const session = await fx.startFirefox({ firefox, profile, prefs: PREFS, session: { pageLoadStrategy: "none" } });
    await session.installAddon(emptyAddon(path.join(profile.root, "none")));
    return session;
  },
  async time(session, address) {
    await session.navigate(address);
    return fx.waitFor("the page to load", () => session.execute(`const n = performance.getEntriesByType("navigation")[0];
      return location.href === arguments[0] && n && n.loadEventEnd > 0 ? {response: n.responseStart, load: n.loadEventEnd} : null;`, [address]),
    10000, 20);
  },
  close: (session) => session.close(),
});
