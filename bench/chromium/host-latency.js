// How fast a window's host answers, spoken to as Chromium speaks to it
// (native messaging over pipes), with the module registered and the sample
// list loaded: the answer for a listed address, for a 65,536-character one,
// and for the newest of a tab's 5,000 queued navigations, and the cost of a
// clean address (answered with nothing, so timed through a listed probe
// behind a run of them). Prints medians and the slowest.
//   node bench/chromium/host-latency.js [BUILD]   (BUILD: the build folder, build/ by default)
"use strict";
const childProcess = require("child_process");
const fs = require("fs");
const path = require("path");
const cs = require("../../host/webext/driver/chromium-session.js");

const need = cs.programsOf(process.argv[2] || path.resolve(__dirname, "../../build"));
const frame = (object) => {
  const body = Buffer.from(JSON.stringify(object));
  const length = Buffer.alloc(4);
  length.writeUInt32LE(body.length);
  return Buffer.concat([length, body]);
};

// The host's answers, in order, as they come.
function speak(host) {
  let buffer = Buffer.alloc(0);
  const waiting = [];
  const answers = [];
  host.stdout.on("data", (chunk) => {
    buffer = Buffer.concat([buffer, chunk]);
    while (buffer.length >= 4 && buffer.length >= 4 + buffer.readUInt32LE(0)) {
      const message = JSON.parse(buffer.subarray(4, 4 + buffer.readUInt32LE(0)).toString());
      buffer = buffer.subarray(4 + buffer.readUInt32LE(0));
      if (message.type === "rules") continue;
      if (waiting.length) waiting.shift()(message);
      else answers.push(message);
    }
  });
  return {
    send: (object) => host.stdin.write(frame(object)),
    sendMany: (objects) => host.stdin.write(Buffer.concat(objects.map(frame))),
    next: () => (answers.length ? Promise.resolve(answers.shift()) : new Promise((resolve) => waiting.push(resolve))),
  };
}

const stats = (ms) => {
  const s = ms.slice().sort((a, b) => a - b);
  return { median: s[Math.floor(s.length / 2)].toFixed(3), p99: s[Math.floor(s.length * 0.99)].toFixed(3), slowest: s[s.length - 1].toFixed(3) };
};

async function main() {
  const profile = cs.privateProfile();
  const env = profile.env;
  const site = path.join(profile.root, "site");
  fs.mkdirSync(site);
  for (const file of ["grey.html", "black.html", "warning.js", "phishx.dbf", "mdatax.dat"])
    fs.copyFileSync(path.join(need("OSTREL_WEB_DIR"), file), path.join(site, file));
  const server = await cs.startServer(need("OSTREL_SERVE"), site, env);
  cs.run(need("OSTREL_REGSVR"), [need("OSTREL_MODULE")], env);
  cs.pointFilterAt(need("OSTREL_REG"), env, server.base, cs.buildNumber(need("OSTREL_SOURCE_DIR")));

  const host = childProcess.spawn(need("OSTREL_WEBEXT_HOST"), [], { env, stdio: ["pipe", "pipe", "inherit"] });
  cs.atExit(() => host.kill("SIGKILL"));
  const channel = speak(host);
  await channel.next(); // hello
  channel.send({ type: "window", windowId: 1 });
  await cs.waitFor("the filter to download its list", () => cs.listDownloaded(need("OSTREL_REG"), env), 30000, 200);

  const evil = (i) => `http://www${i}.evil.localhost/login?n=${i}`;
  const timeAnswer = async (send) => {
    const started = process.hrtime.bigint();
    send();
    await channel.next();
    return Number(process.hrtime.bigint() - started) / 1e6;
  };
  const rows = {};
  const listed = [];
  const only = process.env.OSTREL_ONLY_LONG ? 0 : 1;
  for (let i = 0; i < 300 * only + 20; ++i) listed.push(await timeAnswer(() => channel.send({ type: "before-navigate", tabId: 1, url: evil(i) })));
  rows["a listed address"] = stats(listed.slice(only ? 20 : 0));

  const long = [];
  for (let i = 0; i < Number(process.env.OSTREL_LONG_RUNS || 30); ++i)
    long.push(await timeAnswer(() => channel.send({ type: "before-navigate", tabId: 1, url: evil(i) + "&" + "a".repeat(65536 - evil(i).length - 1) })));
  rows["a listed address of 65,536 characters"] = stats(long);

  const clean = [];
  for (let run = 0; run < 20 * only + 1; ++run) {
    const messages = [];
    for (let i = 0; i < 100; ++i) messages.push({ type: "before-navigate", tabId: 100 + i, url: `http://www.shop${i}.example/page?${run}` });
    messages.push({ type: "before-navigate", tabId: 1, url: evil(run) });
    const total = await timeAnswer(() => channel.sendMany(messages));
    clean.push(total / 101);
  }
  rows["a clean address (per message, 100 behind a listed probe)"] = stats(clean);

  const queued = [];
  for (let run = 0; run < 10 * only + 1; ++run) {
    const messages = [];
    for (let i = 0; i < 5000; ++i) messages.push({ type: "before-navigate", tabId: 2, url: `http://page${i}.example/?${run}` });
    messages.push({ type: "before-navigate", tabId: 2, url: evil(run) });
    queued.push(await timeAnswer(() => channel.sendMany(messages)));
  }
  rows["the newest of 5,000 queued navigations of a tab"] = stats(queued);

  console.log("milliseconds from the message written to the answer read:");
  console.table(rows);
  host.stdin.end();
  await Promise.race([new Promise((resolve) => host.once("exit", resolve)), cs.sleep(5000)]);
}

main().then(() => process.exit(0), (e) => {
  console.error("host-latency.js: " + e.message);
  process.exit(1);
});
