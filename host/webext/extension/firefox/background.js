// The filter's bridge into Firefox: its own part, on the shared bridge
// (bridge.js). Firefox lets a blocking webRequest listener hold a request
// while it waits, so every main_frame and sub_frame request, each redirect
// hop included, waits for the window's host ("request"), whose filter
// decides as in BeforeNavigate2: a listed address is cancelled before any
// byte leaves and the tab sent to the warning page with a fresh GET (a
// redirect would re-send a form's body); what the filter allows goes on
// untouched. A host that goes away leaves its requests to the host started
// in its place; one that does not answer within ANSWER_MS lets the request
// go, and the toolbar badge says the filter is not protecting until a host
// answers again; the scan after the navigation catches up then. A window's
// host that is still starting (a new window's first request waits for the
// host to load the module and its list) is given STARTING_MS in all.
"use strict";

const ANSWER_MS = 2000;
const STARTING_MS = 15000;

// Whether the host of the tab's window has said hello.
function hostReady(tabId) {
  const windowId = tabWindow.get(tabId);
  return windowId !== undefined && !!self.ostrel.windows[windowId]?.ready;
}

const pending = new Map(); // requestId -> {resolve, timer, message}: requests waiting for their host
let nextRequest = 0;
let unprotected = false;

function protecting(yes) {
  if (unprotected === !yes) return;
  unprotected = !yes;
  browser.browserAction.setBadgeText({ text: yes ? "" : "off" });
  browser.browserAction.setBadgeBackgroundColor({ color: "#b00020" });
  log({ protecting: yes });
}

function settle(requestId, answer) {
  const waiting = pending.get(requestId);
  if (!waiting) return false;
  pending.delete(requestId);
  clearTimeout(waiting.timer);
  waiting.resolve(answer);
  protecting(true);
  return true;
}

bridge.onAnswer = (windowId, message) => {
  if (message.type === "rules") return true; // Chromium's; here every request waits for the host
  const id = message.requestId;
  if (typeof id !== "string") return false;
  switch (message.type) {
    case "allow":
      settle(id, {});
      return true;
    case "superseded": // a newer navigation of the tab came; this one will not be shown
      settle(id, { cancel: true });
      return true;
    case "navigate":
    case "stop":
      // Cancelled here; the shared part sends the tab where the filter says.
      settle(id, { cancel: true });
      return false;
    default:
      return false;
  }
};

// A window whose host went away (it crashed, or was killed while it
// decided) cannot answer what it was asked: the requests go again to the
// host started in its place, which the shared part holds them for, still
// within their time limit.
bridge.onHostGone = (windowId) => {
  for (const waiting of pending.values()) if (tabWindow.get(waiting.message.tabId) === windowId) send(windowId, waiting.message);
  protecting(false);
};

browser.webRequest.onBeforeRequest.addListener(
  (d) => {
    if (d.tabId < 0 || !/^https?:/i.test(d.url)) return {};
    const requestId = `${d.requestId}.${++nextRequest}`; // a redirect hop keeps the request's id
    return new Promise((resolve) => {
      const asked = Date.now();
      const expire = () => {
        const waiting = pending.get(requestId);
        if (!waiting) return;
        if (!hostReady(d.tabId) && Date.now() - asked < STARTING_MS) {
          waiting.timer = setTimeout(expire, ANSWER_MS);
          return;
        }
        pending.delete(requestId);
        log({ tabId: d.tabId, unanswered: d.url.slice(0, 300) });
        protecting(false);
        resolve({});
      };
      const message = navigationMessage("request", d);
      message.requestId = requestId;
      pending.set(requestId, { resolve, timer: setTimeout(expire, ANSWER_MS), message });
      sendForTab(d.tabId, message);
    });
  },
  { urls: ["<all_urls>"], types: ["main_frame", "sub_frame"] },
  ["blocking"]
);
