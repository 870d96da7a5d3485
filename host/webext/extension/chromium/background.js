// The filter's bridge into Chromium: its own part, on the shared bridge
// (bridge.js). Chromium sends a request before any extension can wait for
// an answer, so the hosts also give the list's rules ("rules"): requests to
// the hosts the list names, and addresses carrying a click-through key, are
// blocked before they leave, and each blocked navigation is handed to the
// host ("blocked"), whose filter decides as for any other; what it lets
// through ("allow") goes on once, through a rule for that tab and address
// alone. Everything else goes to the host as the navigation's events.
"use strict";
importScripts("bridge.js");

const FRAMES = ["main_frame", "sub_frame"];
const HOSTS_PER_RULE = 5000;
const MAX_PATH_RULES = 20000; // Chromium allows 30,000 dynamic rules
const ALLOW_MS = 15000; // an allowance not used by then is withdrawn

const allowances = new Map(); // "tab frame url" -> {ruleId, at, timer}: blocked addresses let through once
let nextAllowRuleId = 1;

// The digest of the rules in place; they outlive the browser, the digest
// with them.
let rulesDigest = "";
const rulesParts = new Map(); // digest -> parts received so far
const digestLoaded = chrome.storage.local.get("rulesDigest").then((v) => (rulesDigest = v.rulesDigest || ""), () => {});

bridge.windowFields = () => digestLoaded.then(() => ({ rulesDigest }));
bridge.forgetTab = (tabId) => {
  for (const [key, a] of allowances) if (a.tabId === tabId) withdraw(key);
};
bridge.onAnswer = (windowId, message) => {
  if (message.type === "rules") {
    log({ window: windowId, in: "rules", digest: message.digest, part: message.part, parts: message.parts });
    onRules(message);
    return true;
  }
  if (message.type === "allow" && Number.isInteger(message.tabId) && Number.isInteger(message.frameId) && typeof message.url === "string") {
    allow(message.tabId, message.frameId, message.url);
    return true;
  }
  return false;
};

// The rules come in parts; once a digest is whole it replaces the rules in
// place, unless they are those already.
function onRules(message) {
  const { digest, part, parts } = message;
  if (typeof digest !== "string" || !Number.isInteger(part) || !Number.isInteger(parts) || part < 0 || part >= parts) return;
  if (digest === rulesDigest) return;
  const got = rulesParts.get(digest) || new Array(parts).fill(null);
  if (got.length !== parts) return;
  got[part] = message;
  rulesParts.set(digest, got);
  if (got.some((p) => p === null)) return;
  rulesParts.clear();
  applyRules(digest, got).catch((e) => log({ rulesFailed: String(e) }));
}

// A urlFilter is literal text but for *, ^ and |: a path is cut before
// them, and a shorter path still catches every address the longer one did.
function literalFilter(text) {
  const cut = text.search(/[*^|]/);
  return cut < 0 ? text : text.slice(0, cut);
}

function rulesFrom(parts) {
  const hosts = parts.flatMap((p) => (Array.isArray(p.hosts) ? p.hosts.filter((h) => typeof h === "string") : []));
  const paths = parts.flatMap((p) => (Array.isArray(p.paths) ? p.paths.filter((e) => Array.isArray(e) && e.length === 2) : []));
  const rules = [];
  const block = (condition) => rules.push({ id: rules.length + 1, priority: 1, action: { type: "block" }, condition: Object.assign({ resourceTypes: FRAMES }, condition) });
  // A path the list names may be written with escapes the filter decodes:
  // on those hosts, any address with an escape is blocked for the filter to read.
  const pathHosts = [...new Set(paths.map((e) => e[0]))];
  const wholeHosts = hosts.concat(paths.slice(MAX_PATH_RULES).map((e) => e[0]));
  for (let i = 0; i < wholeHosts.length; i += HOSTS_PER_RULE) block({ requestDomains: wholeHosts.slice(i, i + HOSTS_PER_RULE) });
  for (let i = 0; i < pathHosts.length; i += HOSTS_PER_RULE) block({ requestDomains: pathHosts.slice(i, i + HOSTS_PER_RULE), urlFilter: "%" });
  for (const [host, path] of paths.slice(0, MAX_PATH_RULES)) {
    const text = literalFilter(path);
    block(text.length > 1 ? { requestDomains: [host], urlFilter: text } : { requestDomains: [host] });
  }
  if (typeof parts[0].marker === "string" && parts[0].marker) block({ regexFilter: parts[0].marker });
  return { rules, hosts: hosts.length, paths: paths.length };
}

// Chromium refuses a whole update for one rule it cannot take, naming that
// rule: it is left out (its entries are still caught after the fact) and
// the rest put in place.
async function applyRules(digest, parts) {
  const { rules, hosts, paths } = rulesFrom(parts);
  const old = await chrome.declarativeNetRequest.getDynamicRules();
  for (let tries = 0; ; ++tries) {
    try {
      await chrome.declarativeNetRequest.updateDynamicRules({ removeRuleIds: old.map((r) => r.id), addRules: rules });
      break;
    } catch (e) {
      const refused = /\bid (\d+)\b/.exec(String(e));
      const at = refused ? rules.findIndex((r) => r.id === Number(refused[1])) : -1;
      if (at < 0 || tries >= 20) throw e;
      log({ ruleLeftOut: String(e).slice(0, 300) });
      rules.splice(at, 1);
    }
  }
  rulesDigest = digest;
  await chrome.storage.local.set({ rulesDigest: digest });
  log({ rulesApplied: digest, rules: rules.length, hosts, paths });
}

// A blocked navigation the filter allows goes on, once: an allow rule for
// this tab and this very address, withdrawn when the navigation commits or
// after a while. A main frame is sent there again; a frame, with its page.
function allow(tabId, frameId, url) {
  const key = `${tabId} ${frameId} ${url}`;
  withdraw(key);
  const ruleId = nextAllowRuleId++;
  const condition = { tabIds: [tabId], urlFilter: `|${url}|`, resourceTypes: [frameId === 0 ? "main_frame" : "sub_frame"] };
  chrome.declarativeNetRequest.updateSessionRules({ addRules: [{ id: ruleId, priority: 2, action: { type: "allow" }, condition }] }).then(() => {
    const timer = setTimeout(() => withdraw(key), ALLOW_MS);
    allowances.set(key, { tabId, ruleId, at: Date.now(), timer });
    if (frameId === 0) update(tabId, url);
    else chrome.tabs.reload(tabId, () => void chrome.runtime.lastError);
  }, (e) => log({ tabId, allowFailed: String(e) }));
}

function withdraw(key) {
  const a = allowances.get(key);
  if (!a) return;
  allowances.delete(key);
  clearTimeout(a.timer);
  chrome.declarativeNetRequest.updateSessionRules({ removeRuleIds: [a.ruleId] }).catch(() => {});
}

chrome.webNavigation.onBeforeNavigate.addListener((d) => {
  if (ours(d.url)) return;
  sendForTab(d.tabId, navigationMessage("before-navigate", d));
});
// An allowance is used once its navigation commits.
chrome.webNavigation.onCommitted.addListener((d) => withdraw(`${d.tabId} ${d.frameId} ${d.url}`));
chrome.webNavigation.onErrorOccurred.addListener((d) => {
  if (d.error !== "net::ERR_BLOCKED_BY_CLIENT" || ours(d.url)) return;
  // Allowed a moment ago and blocked all the same: the allowance did not
  // take (another extension's rule, say); asking again would loop.
  const a = allowances.get(`${d.tabId} ${d.frameId} ${d.url}`);
  if (a && Date.now() - a.at < ALLOW_MS) {
    log({ tabId: d.tabId, blockedAfterAllow: d.url.slice(0, 300) });
    return;
  }
  sendForTab(d.tabId, navigationMessage("blocked", d));
});

// Speculative loading would fetch pages before any navigation event.
chrome.privacy.network.networkPredictionEnabled.set({ value: false }, () => {
  if (chrome.runtime.lastError) log({ predictionLeftOn: chrome.runtime.lastError.message });
});

// Allowances of an earlier worker have no timers left to withdraw them.
chrome.declarativeNetRequest.getSessionRules().then((rules) => {
  if (rules.length) chrome.declarativeNetRequest.updateSessionRules({ removeRuleIds: rules.map((r) => r.id) });
}, () => {});

