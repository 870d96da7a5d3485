// The filter's bridge into a browser (Chromium or Firefox), shared by both
// extensions; each adds its own part (background.js) on top. A browser
// window has one helper object, so each window gets its own native host
// process (one connectNative port), and every navigation of the window's
// tabs and their frames is told to that host. The host answers with what
// the filter decided: "navigate" (to a warning page, or the address reloaded
// after a click-through) or "stop"; a browser's part handles the answers
// of its own ("allow", "rules", ...) through bridge.onAnswer.
"use strict";

const HOST = "org.ostrel.antiphish";
const MAX_URL = 65536; // longer addresses are sent cut, marked truncated
const LOG_SIZE = 500;
const RETRY_WINDOW_MS = 60000; // connects within this span count as quick retries
const RETRY_FIRST_MS = 500;
const RETRY_MAX_MS = 60000;
const HELD_MAX = 200; // events kept for a window whose host is being restarted
const SAME_ANSWER_MS = 3000; // the same warning page asked twice for a tab is opened once

// What a browser's part adds: fields of the "window" message (a promise),
// its own answers (true when handled), and what to forget with a tab.
const bridge = {
  windowFields: () => Promise.resolve({}),
  onAnswer: (windowId, message) => false,
  onHostGone: (windowId) => {},
  forgetTab: (tabId) => {},
};

// Read by the end-to-end tests; windows[id] = {pid, ready, connects}.
self.ostrel = { windows: {}, log: [] };
let logSeq = 0;

function log(entry) {
  entry.n = ++logSeq;
  self.ostrel.log.push(entry);
  if (self.ostrel.log.length > LOG_SIZE) self.ostrel.log.shift();
}

const hosts = new Map(); // windowId -> {port, recent: [connect times], timer}
const tabWindow = new Map(); // tabId -> windowId
const lastCommitted = new Map(); // tabId -> address, where "stop" sends the tab back
const waiting = new Map(); // tabId -> messages held until the tab's window is known
const removedWindows = new Set(); // so a late reconnect never revives a closed window
const lastAnswer = new Map(); // tabId -> {url, at}: the last address a "navigate" sent the tab to

function connect(windowId) {
  if (hosts.has(windowId) && hosts.get(windowId).port) return;
  const host = hosts.get(windowId) || { port: null, recent: [], timer: null, held: [] };
  hosts.set(windowId, host);
  const now = Date.now();
  host.recent = host.recent.filter((t) => now - t < RETRY_WINDOW_MS).concat(now);
  const state = self.ostrel.windows[windowId] || { pid: null, ready: false, connects: 0 };
  state.ready = false;
  state.pid = null;
  state.connects += 1;
  self.ostrel.windows[windowId] = state;

  const port = chrome.runtime.connectNative(HOST);
  host.port = port;
  port.onMessage.addListener((message) => onHostMessage(windowId, message));
  port.onDisconnect.addListener(() => {
    const why = chrome.runtime.lastError ? chrome.runtime.lastError.message : "host exited";
    log({ window: windowId, disconnected: why });
    if (host.port === port) host.port = null;
    if (self.ostrel.windows[windowId]) {
      self.ostrel.windows[windowId].ready = false;
      self.ostrel.windows[windowId].pid = null;
    }
    bridge.onHostGone(windowId);
    if (!removedWindows.has(windowId)) reconnectLater(windowId, host);
  });
  // Posted before the host's hello: the pipe keeps it until the host reads.
  bridge.windowFields().then((fields) => {
    if (host.port === port) send(windowId, Object.assign({ type: "window", windowId }, fields));
  });
  // What happened while the window had no host is scanned by the new one.
  for (const message of host.held.splice(0)) send(windowId, message);
}

// A host that keeps failing is retried ever more slowly, never in a tight loop,
// but never given up while its window is open.
function reconnectLater(windowId, host) {
  const delay = Math.min(RETRY_FIRST_MS * 2 ** (host.recent.length - 1), RETRY_MAX_MS);
  clearTimeout(host.timer);
  host.timer = setTimeout(() => {
    host.timer = null;
    chrome.windows.get(windowId, () => {
      if (chrome.runtime.lastError || removedWindows.has(windowId)) return; // closed meanwhile
      connect(windowId);
    });
  }, delay);
}

function send(windowId, message) {
  const host = hosts.get(windowId);
  if (!host || !host.port) {
    if (host && host.held.length < HELD_MAX) host.held.push(message);
    else log({ window: windowId, dropped: message.type, why: "no host" });
    return;
  }
  log({ window: windowId, out: message.type, tabId: message.tabId, url: message.url && message.url.slice(0, 300), scan: message.scan });
  try {
    host.port.postMessage(message);
  } catch (e) {
    log({ window: windowId, dropped: message.type, why: String(e) });
  }
}

function windowRemoved(windowId) {
  removedWindows.add(windowId);
  const host = hosts.get(windowId);
  hosts.delete(windowId);
  delete self.ostrel.windows[windowId];
  for (const [tabId, w] of tabWindow) if (w === windowId) forgetTab(tabId);
  if (!host) return;
  clearTimeout(host.timer);
  if (host.port) {
    log({ window: windowId, out: "window-removed" });
    host.port.postMessage({ type: "window-removed" });
    host.port.disconnect(); // the host sees its input end and exits after OnQuit
  }
}

function forgetTab(tabId) {
  tabWindow.delete(tabId);
  lastCommitted.delete(tabId);
  waiting.delete(tabId);
  lastAnswer.delete(tabId);
  bridge.forgetTab(tabId);
}

// Sends a tab's event to its window's host, in order. webNavigation events
// name no window: a tab not yet seen by a tabs event is looked up first, and
// its events wait (not lost) until the lookup answers.
function sendForTab(tabId, message) {
  if (waiting.has(tabId)) {
    waiting.get(tabId).push(message);
    return;
  }
  if (tabWindow.has(tabId)) {
    send(tabWindow.get(tabId), message);
    return;
  }
  waiting.set(tabId, [message]);
  chrome.tabs.get(tabId, (tab) => {
    const held = waiting.get(tabId) || [];
    waiting.delete(tabId);
    if (chrome.runtime.lastError || !tab) {
      log({ tabId, dropped: held.length, why: chrome.runtime.lastError?.message || "no tab" });
      return;
    }
    tabWindow.set(tabId, tab.windowId);
    connect(tab.windowId);
    for (const m of held) send(tab.windowId, m);
  });
}

function navigationMessage(type, details) {
  const message = { type, tabId: details.tabId, frameId: details.frameId || 0, url: details.url };
  if (message.url.length > MAX_URL) {
    let cut = message.url.slice(0, MAX_URL);
    if (/[\ud800-\udbff]$/.test(cut)) cut = cut.slice(0, -1); // never half a character
    message.url = cut;
    message.truncated = true;
  }
  return message;
}

function onHostMessage(windowId, message) {
  if (message.type !== "rules") log(Object.assign({ window: windowId, in: message.type }, message));
  if (bridge.onAnswer(windowId, message)) return;
  const state = self.ostrel.windows[windowId];
  if (message.type === "hello") {
    if (state) {
      state.pid = message.pid;
      state.ready = true;
    }
  } else if (message.type === "navigate" && Number.isInteger(message.tabId) && typeof message.url === "string") {
    const last = lastAnswer.get(message.tabId);
    if (last && last.url === message.url && Date.now() - last.at < SAME_ANSWER_MS) return; // on its way there
    lastAnswer.set(message.tabId, { url: message.url, at: Date.now() });
    update(message.tabId, message.url);
  } else if (message.type === "stop" && Number.isInteger(message.tabId)) {
    // A navigation cannot be abandoned in place: go back to what was shown.
    update(message.tabId, lastCommitted.get(message.tabId) || "about:blank");
  } else {
    log({ window: windowId, ignored: JSON.stringify(message).slice(0, 200) });
  }
}

function update(tabId, url) {
  chrome.tabs.update(tabId, { url }, () => {
    if (chrome.runtime.lastError) log({ tabId, updateFailed: chrome.runtime.lastError.message });
  });
}

// Listeners are registered at the top level so that events wake the worker.
chrome.windows.onCreated.addListener((w) => connect(w.id));
chrome.windows.onRemoved.addListener(windowRemoved);

chrome.tabs.onCreated.addListener((tab) => tabWindow.set(tab.id, tab.windowId));
chrome.tabs.onAttached.addListener((tabId, info) => {
  const from = tabWindow.get(tabId);
  if (from !== undefined && from !== info.newWindowId) send(from, { type: "tab-removed", tabId });
  tabWindow.set(tabId, info.newWindowId);
});
chrome.tabs.onRemoved.addListener((tabId, info) => {
  if (!info.isWindowClosing) send(info.windowId, { type: "tab-removed", tabId });
  forgetTab(tabId);
});
chrome.tabs.onReplaced.addListener((addedTabId, removedTabId) => {
  const windowId = tabWindow.get(removedTabId);
  if (windowId !== undefined) {
    send(windowId, { type: "tab-removed", tabId: removedTabId });
    tabWindow.set(addedTabId, windowId);
  }
  forgetTab(removedTabId);
});

chrome.webNavigation.onCommitted.addListener((d) => {
  if (ours(d.url)) return;
  if (d.frameId === 0) {
    lastCommitted.set(d.tabId, d.url);
    lastAnswer.delete(d.tabId);
  }
  sendForTab(d.tabId, navigationMessage("committed", d));
});
chrome.webNavigation.onCompleted.addListener((d) => {
  if (!ours(d.url)) sendForTab(d.tabId, navigationMessage("completed", d));
});

function ours(url) {
  return url.startsWith(chrome.runtime.getURL(""));
}

(chrome.action || chrome.browserAction).onClicked.addListener((tab) => {
  if (tab && tab.windowId !== undefined) send(tab.windowId, { type: "tools" });
});

// The windows and tabs already open when the worker starts (the browser
// started on an address, or the worker restarted): what each tab and frame
// shows or is loading is scanned, since its events came before us. The
// browser's first navigation may still be on its way at the first pass,
// so two more follow.
function scanOpenTabs() {
  chrome.tabs.query({}, (tabs) => {
    for (const tab of tabs) {
      if (!tabWindow.has(tab.id)) tabWindow.set(tab.id, tab.windowId);
      connect(tab.windowId);
      const web = (url) => /^https?:/i.test(url || "");
      // A navigation a rule blocked leaves the tab with no address, only the pending one.
      if (!tab.url && web(tab.pendingUrl) && tab.status === "complete")
        sendForTab(tab.id, { type: "blocked", tabId: tab.id, frameId: 0, url: tab.pendingUrl, scan: true });
      else if (web(tab.pendingUrl))
        sendForTab(tab.id, { type: "before-navigate", tabId: tab.id, frameId: 0, url: tab.pendingUrl, scan: true });
      if (web(tab.url)) sendForTab(tab.id, { type: "committed", tabId: tab.id, frameId: 0, url: tab.url, scan: true });
      chrome.webNavigation.getAllFrames({ tabId: tab.id }, (frames) => {
        if (chrome.runtime.lastError || !frames) return;
        for (const f of frames)
          if (f.frameId !== 0 && web(f.url))
            sendForTab(tab.id, Object.assign(navigationMessage("committed", Object.assign({ tabId: tab.id }, f)), { scan: true }));
      });
    }
  });
}
scanOpenTabs();
setTimeout(scanOpenTabs, 1000);
setTimeout(scanOpenTabs, 3000);
