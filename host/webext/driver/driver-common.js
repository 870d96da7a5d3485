// What the browser drivers (headless Chromium over DevTools, headless Firefox
// over Marionette) share: bounded waits, a private profile (its own HOME, XDG
// folders and TMPDIR, so neither your registry nor your browser profile is
// touched), cleanup of every process and folder on any way out, running the
// project's tools, ostrel-serve on 127.0.0.1, and the filter's settings in
// the private registry. Every wait is bounded and fails with a message saying
// what did not happen.
"use strict";
const childProcess = require("child_process");
const fs = require("fs");
const os = require("os");
const path = require("path");

const FILTER_KEY = "HKCU\\SOFTWARE\\Ostrel\\AntiPhish";

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Polls probe() until it gives something truthy; throws "timed out: what".
async function waitFor(what, probe, timeoutMs = 10000, everyMs = 100) {
  const deadline = Date.now() + timeoutMs;
  let last;
  for (;;) {
    try {
      const value = await probe();
      if (value) return value;
    } catch (e) {
      last = e;
    }
    if (Date.now() > deadline)
      throw new Error(`timed out after ${timeoutMs} ms waiting for ${what}` + (last ? ` (last error: ${last.message})` : ""));
    await sleep(everyMs);
  }
}

// The first of these programs that exists, or null.
function findProgram(candidates) {
  return candidates.find((c) => c && fs.existsSync(c)) || null;
}

// Processes and folders to clean up on any way out, failures included.
const cleanups = [];
function atExit(fn) {
  cleanups.push(fn);
}
function cleanUp() {
  while (cleanups.length) {
    try {
      cleanups.pop()();
    } catch (e) {
      // keep cleaning up the rest
    }
  }
}
process.on("exit", cleanUp);
for (const signal of ["SIGINT", "SIGTERM"]) process.on(signal, () => process.exit(130));

// A temporary folder "PREFIX-XXXXXX" with HOME, the XDG folders, TMPDIR and
// one folder for the browser's own profile (named browserDir) under it.
function privateProfile({ prefix, browserDir, keep = false }) {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), prefix + "-"));
  const dirs = {};
  for (const d of ["home", "config", "cache", "data", "runtime", "tmp", browserDir]) {
    dirs[d] = path.join(root, d);
    fs.mkdirSync(dirs[d], { mode: 0o700 });
  }
  const env = Object.assign({}, process.env, {
    HOME: dirs.home,
    XDG_CONFIG_HOME: dirs.config,
    XDG_CACHE_HOME: dirs.cache,
    XDG_DATA_HOME: dirs.data,
    XDG_RUNTIME_DIR: dirs.runtime,
    TMPDIR: dirs.tmp,
    no_proxy: "127.0.0.1,localhost,.localhost",
    NO_PROXY: "127.0.0.1,localhost,.localhost",
  });
  for (const v of ["http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"]) delete env[v];
  if (!keep) atExit(() => fs.rmSync(root, { recursive: true, force: true }));
  return { root, dirs, env };
}

// Runs a program to its end; throws with its output when it fails.
function run(program, args, env) {
  const r = childProcess.spawnSync(program, args, { env, encoding: "utf8", timeout: 30000 });
  if (r.status !== 0)
    throw new Error(`${path.basename(program)} ${args.join(" ")} failed (${r.error || "status " + r.status}): ${r.stderr}${r.stdout}`);
  return r.stdout;
}

// Kills a child started with detached: true and every process of its group.
function killGroup(child) {
  if (child.exitCode !== null || child.signalCode !== null) return;
  try {
    process.kill(-child.pid, "SIGKILL");
  } catch (e) {
    child.kill("SIGKILL");
  }
}

// ostrel-serve over a folder on a free port of 127.0.0.1.
async function startServer(serve, folder, env) {
  const child = childProcess.spawn(serve, [folder, "--port", "0"], { env, stdio: ["ignore", "pipe", "pipe"], detached: true });
  atExit(() => killGroup(child));
  let out = "";
  child.stdout.on("data", (d) => (out += d));
  child.stderr.on("data", (d) => (out += d));
  const port = await waitFor("ostrel-serve to listen", () => {
    if (child.exitCode !== null) throw new Error("ostrel-serve exited: " + out);
    const m = /http:\/\/127\.0\.0\.1:(\d+)\//.exec(out);
    return m && m[1];
  });
  return { port, base: `http://127.0.0.1:${port}/`, log: () => out };
}

// The filter's settings in the private registry, as a user would set them.
function setFilterValue(reg, env, name, type, data) {
  run(reg, ["add", FILTER_KEY, "/v", name, "/t", type, "/d", String(data), "/f"], env);
}

// The database version the filter recorded: none (0xffffffff) until it has
// downloaded and loaded its list.
function listDownloaded(reg, env) {
  const r = childProcess.spawnSync(reg, ["query", FILTER_KEY, "/v", "PDBUN"], { env, encoding: "utf8", timeout: 10000 });
  const m = /PDBUN\s+\S+\s+(\S+)/.exec(r.stdout || "");
  return !!m && m[1] !== "0xffffffff";
}

// Points the filter at a local update site; the build number is recorded as
// already run, so a first-run reset does not replace these addresses.
function pointFilterAt(reg, env, server, buildNumber) {
  setFilterValue(reg, env, "GreyRedirectUri", "REG_SZ", server + "grey.html");
  setFilterValue(reg, env, "BlackRedirectUri", "REG_SZ", server + "black.html");
  setFilterValue(reg, env, "MDRemoteUri", "REG_SZ", server + "mdatax.dat?");
  setFilterValue(reg, env, "DBRemoteUpdUri", "REG_SZ", server + "phishx.dbf?");
  setFilterValue(reg, env, "BHOVersion", "REG_DWORD", buildNumber);
}

// The project's build number, as the filter compares it on a first run.
function buildNumber(sourceRoot) {
  const text = fs.readFileSync(path.join(sourceRoot, "CMakeLists.txt"), "utf8");
  const m = /project\([^)]* VERSION \d+\.\d+\.(\d+)/.exec(text);
  if (!m) throw new Error("no build number in CMakeLists.txt");
  return m[1];
}

// The programs and folders the tests and benchmarks take from their
// environment (OSTREL_MODULE and the rest), as a build folder lays them out;
// a variable set in the environment wins.
function programsOf(buildDir) {
  const source = path.resolve(__dirname, "../../..");
  const build = path.resolve(buildDir);
  const paths = {
    OSTREL_MODULE: path.join(build, "src/com/OstrelAntiPhishingBHO.so"),
    OSTREL_REGSVR: path.join(build, "host/ostrel-regsvr"),
    OSTREL_SERVE: path.join(build, "host/ostrel-serve"),
    OSTREL_REG: path.join(build, "tools/ostrel-reg"),
    OSTREL_DB: path.join(build, "tools/ostrel-db"),
    OSTREL_WEBEXT_INSTALL: path.join(build, "host/ostrel-webext-install"),
    OSTREL_WEBEXT_HOST: path.join(build, "host/ostrel-webext-host"),
    OSTREL_WEB_DIR: path.join(build, "host/web"),
    OSTREL_EXTENSION_DIR: path.join(build, "host/chromium-extension"),
    OSTREL_FIREFOX_EXTENSION_DIR: path.join(build, "host/firefox-extension"),
    OSTREL_SOURCE_DIR: source,
  };
  return (name) => {
    const value = process.env[name] || paths[name];
    if (!value) throw new Error(`${name} is not set`);
    return value;
  };
}

// What a browser test takes from its environment (OSTREL_MODULE and the
// rest, set by CTest): a missing one fails the test at once.
function fromEnvironment(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set`);
  return value;
}

// A browser test's start: skipped, loudly (exit 77), where the browser is
// not installed; and no step may hang the run, whatever happens inside.
// Gives the watchdog's timer, to clear once the test has passed.
function browserTest({ browser, missing, limitSeconds }) {
  if (!browser) {
    console.log(`SKIPPED LOUDLY: ${missing}`);
    process.exit(77);
  }
  return setTimeout(() => {
    console.error(`FAILED: the test ran over ${limitSeconds} s`);
    process.exit(1);
  }, limitSeconds * 1000);
}

// The hosts write to the browser's standard error: nothing there may be a
// sanitizer's report or a host saying the extension sent it something it
// could not use.
function checkHostOutput(text, browser) {
  const bad = text.split("\n").filter((line) =>
    /AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer|runtime error:/.test(line) ||
    /ostrel-webext-host: .*(not valid JSON|not a JSON object|; ignored|ended inside a message|over the limit|cannot be read|too long for a message)/.test(line));
  if (bad.length) throw new Error(`${browser}'s standard error shows:\n  ` + bad.join("\n  "));
}

module.exports = {
  checkHostOutput,
  fromEnvironment,
  browserTest,
  programsOf,
  FILTER_KEY,
  sleep,
  waitFor,
  findProgram,
  atExit,
  privateProfile,
  run,
  killGroup,
  startServer,
  setFilterValue,
  listDownloaded,
  pointFilterAt,
  buildNumber,
};
