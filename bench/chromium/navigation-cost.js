// What the filter's extension costs a clean page in headless Chromium:
// 50 navigations to a page of a local server, once without the extension
// and once with it (its host loaded, its list's rules in place), and the
// median of the page's own timings: navigation start to the response's
// first byte (the request's way out, where the rules apply) and to the end
// of the load event. Prints both and the difference.
//   node bench/chromium/navigation-cost.js [BUILD]   (BUILD: the build folder, build/ by default)
"use strict";
const fs = require("fs");
const http = require("http");
const path = require("path");
const cs = require("../../host/webext/driver/chromium-session.js");

const COUNT = Number(process.env.OSTREL_NAVIGATIONS || 50);
const need = cs.programsOf(process.argv[2] || path.resolve(__dirname, "../../build"));
const median = (values) => values.slice().sort((a, b) => a - b)[Math.floor(values.length / 2)];

async function measure(session, page, port) {
  const times = { response: [], load: [] };
  for (let i = 0; i < COUNT + 3; ++i) {
    const address = `http://www.shop.localhost:${port}/page?${i}`;
    await session.navigate(page, address);
    const t = await cs.waitFor("the page to load", async () => {
      const v = await session.devtools.evaluate(page.sessionId, `(() => { const n = performance.getEntriesByType("navigation")[0];
        return location.href === ${JSON.stringify(address)} && n && n.loadEventEnd > 0 ? {response: n.responseStart, load: n.loadEventEnd} : null; })()`);
      return v;
    }, 10000, 20);
    if (i < 3) continue;  // warming up
    times.response.push(t.response);
    times.load.push(t.load);
  }
  return { response: median(times.response), load: median(times.load) };
}

async function main() {
  const chromium = cs.findChromium();
  if (!chromium) throw new Error("chromium is not installed");
  const server = http.createServer((req, res) => res.end("<!doctype html><title>shop</title><p>a clean page</p>"));
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  const port = server.address().port;
  const results = {};
  for (const withFilter of [false, true]) {
    const profile = cs.privateProfile();
    let session;
    if (withFilter) {
      const site = path.join(profile.root, "site");
      fs.mkdirSync(site);
      for (const page of ["grey.html", "black.html", "warning.js"]) fs.copyFileSync(path.join(need("OSTREL_WEB_DIR"), page), path.join(site, page));
      fs.copyFileSync(path.join(need("OSTREL_WEB_DIR"), "phishx.dbf"), path.join(site, "phishx.dbf"));
      fs.copyFileSync(path.join(need("OSTREL_WEB_DIR"), "mdatax.dat"), path.join(site, "mdatax.dat"));
      const serve = await cs.startServer(need("OSTREL_SERVE"), site, profile.env);
      cs.run(need("OSTREL_REGSVR"), [need("OSTREL_MODULE")], profile.env);
      cs.pointFilterAt(need("OSTREL_REG"), profile.env, serve.base, cs.buildNumber(need("OSTREL_SOURCE_DIR")));
      session = await cs.startChromium({ chromium, installer: need("OSTREL_WEBEXT_INSTALL"), extensionDir: need("OSTREL_EXTENSION_DIR"), profile });
      await cs.waitFor("the list's rules in place", async () => (await session.state()).log.some((e) => e.rulesApplied), 30000, 200);
    } else {
      // An extension that does nothing, so that only the filter's differs.
      const none = path.join(profile.root, "none");
      fs.mkdirSync(none);
      fs.writeFileSync(path.join(none, "manifest.json"), JSON.stringify({ manifest_version: 3, name: "none", version: "1" }));
      session = new cs.Session(cs.launchChromium({ chromium, userDataDir: profile.userDataDir, extensionDir: none, env: profile.env }));
      const first = await cs.waitFor("a page", async () => (await session.pages())[0], 20000, 100);
      session.firstPage = await session.attachPage(first.targetId);
    }
    results[withFilter ? "with the filter" : "without"] = await measure(session, session.firstPage, port);
    await session.close();
  }
  server.close();
  const a = results["without"], b = results["with the filter"];
  console.table(results);
  console.log(`median of ${COUNT}: the filter adds ${(b.response - a.response).toFixed(2)} ms to the first byte and ${(b.load - a.load).toFixed(2)} ms to the load`);
}

main().then(() => process.exit(0), (e) => {
  console.error("navigation-cost.js: " + e.message);
  process.exit(1);
});
