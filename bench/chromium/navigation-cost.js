// What the filter's extension costs a clean page in headless Chromium:
// 50 navigations to a page of a local server, once without the extension
// and once with it (its host loaded, its list's rules in place), and the
// median of the page's own timings: navigation start to the response's
// first byte (the request's way out, where the rules apply) and to the end
// of the load event. Prints both and the difference.
//   node bench/chromium/navigation-cost.js [BUILD]   (BUILD: the build folder, build/ by default)
"use strict";
const fs = require("fs");
const path = require("path");
const cs = require("../../host/webext/driver/chromium-session.js");
const bench = require("../common/navigation-cost.js");

const need = bench.programs();

bench.run("navigation-cost.js", {
  privateProfile: () => cs.privateProfile(),
  async start(profile, withFilter) {
    const chromium = cs.findChromium();
    if (!chromium) throw new Error("chromium is not installed");
    if (withFilter) {
      await bench.serveSampleFilter(need, profile);
      const session = await cs.startChromium({ chromium, installer: need("OSTREL_WEBEXT_INSTALL"), extensionDir: need("OSTREL_EXTENSION_DIR"), profile });
      await cs.waitFor("the list's rules in place", async () => (await session.state()).log.some((e) => e.rulesApplied), 30000, 200);
      return session;
    }
    // An extension that does nothing, so that only the filter's differs.
    const none = path.join(profile.root, "none");
    fs.mkdirSync(none);
    fs.writeFileSync(path.join(none, "manifest.json"), JSON.stringify({ manifest_version: 3, name: "none", version: "1" }));
    const session = new cs.Session(cs.launchChromium({ chromium, userDataDir: profile.userDataDir, extensionDir: none, env: profile.env }));
    const first = await cs.waitFor("a page", async () => (await session.pages())[0], 20000, 100);
    session.firstPage = await session.attachPage(first.targetId);
    return session;
  },
  async time(session, address) {
    const page = session.firstPage;
    await session.navigate(page, address);
    return cs.waitFor("the page to load", () => session.devtools.evaluate(page.sessionId, `(() => { const n = performance.getEntriesByType("navigation")[0];
      return location.href === ${JSON.stringify(address)} && n && n.loadEventEnd > 0 ? {response: n.responseStart, load: n.loadEventEnd} : null; })()`),
    10000, 20);
  },
  close: (session) => session.close(),
});
