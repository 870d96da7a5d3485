// What the browsers' navigation-cost benchmarks share: a clean page on a
// local server, the filter registered in a private profile and pointed at
// the sample update site, the timed navigations (3 to warm up, then
// OSTREL_NAVIGATIONS, 50 by default) and their medians, printed without
// and with the filter. Each browser's script gives how to start it either
// way and how to time one navigation.
"use strict";
const fs = require("fs");
const http = require("http");
const path = require("path");
const common = require("../../host/webext/driver/driver-common.js");

const COUNT = Number(process.env.OSTREL_NAVIGATIONS || 50);
const WARM_UP = 3;
const median = (values) => values.slice().sort((a, b) => a - b)[Math.floor(values.length / 2)];

// The programs of the build folder named on the command line (build/ by default).
const programs = () => common.programsOf(process.argv[2] || path.resolve(__dirname, "../../build"));

// The filter registered in the profile, its settings pointing at the
// sample update site (warning pages, list and metadata as built) on
// ostrel-serve.
async function serveSampleFilter(need, profile) {
  const site = path.join(profile.root, "site");
  fs.mkdirSync(site);
  for (const file of ["grey.html", "black.html", "warning.js", "phishx.dbf", "mdatax.dat"])
    fs.copyFileSync(path.join(need("OSTREL_WEB_DIR"), file), path.join(site, file));
  const serve = await common.startServer(need("OSTREL_SERVE"), site, profile.env);
  common.run(need("OSTREL_REGSVR"), [need("OSTREL_MODULE")], profile.env);
  common.pointFilterAt(need("OSTREL_REG"), profile.env, serve.base, common.buildNumber(need("OSTREL_SOURCE_DIR")));
}

// browser: { privateProfile(), start(profile, withFilter) -> session,
//            time(session, address) -> {response, load} once loaded,
//            close(session) }
async function compare(browser) {
  const server = http.createServer((req, res) => res.end("<!doctype html><title>shop</title><p>a clean page</p>"));
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  const port = server.address().port;
  const results = {};
  for (const withFilter of [false, true]) {
    const session = await browser.start(browser.privateProfile(), withFilter);
    const times = { response: [], load: [] };
    for (let i = 0; i < COUNT + WARM_UP; ++i) {
      const t = await browser.time(session, `http://www.shop.localhost:${port}/page?${i}`);
      if (i < WARM_UP) continue;
      times.response.push(t.response);
      times.load.push(t.load);
    }
    results[withFilter ? "with the filter" : "without"] = { response: median(times.response), load: median(times.load) };
    await browser.close(session);
  }
  server.close();
  const a = results["without"], b = results["with the filter"];
  console.table(results);
  console.log(`median of ${COUNT}: the filter adds ${(b.response - a.response).toFixed(2)} ms to the first byte and ${(b.load - a.load).toFixed(2)} ms to the load`);
}

// Runs the comparison; exits 0, or 1 with the script's name and the failure.
function run(script, browser) {
  compare(browser).then(() => process.exit(0), (e) => {
    console.error(`${script}: ${e.message}`);
    process.exit(1);
  });
}

module.exports = { programs, serveSampleFilter, run };
