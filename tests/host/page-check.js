// Runs the warning pages' script (web/warning.js) against an address, with
// just enough of a page around it, and prints what the page shows and where
// its "continue" link goes, as JSON. Setting markup (innerHTML) fails the
// run: the page may only ever set the address as text.
//   node page-check.js SCRIPT ADDRESS
"use strict";
const fs = require("fs");
const vm = require("vm");

const [script, address] = process.argv.slice(2);
const element = (id) => {
  const e = { id, hidden: id === "way-on" };
  Object.defineProperty(e, "innerHTML", {
    set() {
      throw new Error("markup set on #" + id);
    },
  });
  return e;
};
const elements = { blocked: element("blocked"), continue: element("continue"), "way-on": element("way-on") };
const context = {
  window: { location: new URL(address) },
  document: { getElementById: (id) => elements[id] },
};
vm.runInNewContext(fs.readFileSync(script, "utf8"), context);
process.stdout.write(
  JSON.stringify({
    shown: elements.blocked.textContent,
    link: elements["way-on"].hidden ? null : elements.continue.href,
  }) + "\n"
);
