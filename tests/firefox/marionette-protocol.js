// The Marionette client against a stand-in server on 127.0.0.1 that speaks
// the wire format by hand: packets cut anywhere (inside the length, inside a
// UTF-8 character) or run together, lengths in bytes not characters, errors
// and results as Firefox sends them, and every way a call can end without an
// answer. Needs no Firefox.
"use strict";
const assert = require("assert");
const net = require("net");
const fx = require(process.env.OSTREL_FIREFOX_DRIVER || "../../host/webext/driver/firefox-session.js");

const packet = (value) => {
  const body = Buffer.from(JSON.stringify(value), "utf8");
  return Buffer.concat([Buffer.from(`${body.length}:`), body]);
};

// A server whose handler gets each command [0, id, name, params] and the
// socket; it greets with `hello` and writes what handler returns, if anything.
async function standIn(handler, hello = { applicationType: "gecko", marionetteProtocol: 3 }) {
  const received = [];
  const server = net.createServer((socket) => {
    socket.write(packet(hello));
    let buffer = Buffer.alloc(0);
    socket.on("data", (chunk) => {
      buffer = Buffer.concat([buffer, chunk]);
      for (;;) {
        const colon = buffer.indexOf(":");
        if (colon < 0) return;
        const length = Number(buffer.subarray(0, colon).toString());
        if (buffer.length < colon + 1 + length) return;
        const command = JSON.parse(buffer.subarray(colon + 1, colon + 1 + length).toString("utf8"));
        buffer = buffer.subarray(colon + 1 + length);
        received.push(command);
        handler(command, socket);
      }
    });
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  return { port: server.address().port, received, close: () => server.close() };
}

// Writes bytes in the given pieces, a moment apart, so the client sees them
// as separate reads.
async function dribble(socket, bytes, cuts) {
  let from = 0;
  for (const cut of [...cuts, bytes.length]) {
    socket.write(bytes.subarray(from, cut));
    from = cut;
    await new Promise((resolve) => setTimeout(resolve, 20));
  }
}

const tests = [];
const test = (name, fn) => tests.push({ name, fn });

test("results come back whole however the bytes are cut, by byte length", async () => {
  const text = "é€😀 ok"; // 2-, 3- and 4-byte characters: length in bytes differs from characters
  const server = await standIn(async ([, id, name, params], socket) => {
    if (name === "Echo") {
      const bytes = packet([1, id, null, { value: params.text + text }]);
      // Cut inside the length digits, right after the colon, and inside the 4-byte character.
      const inEmoji = bytes.indexOf(Buffer.from("😀")) + 2;
      await dribble(socket, bytes, [1, bytes.indexOf(":") + 1, inEmoji]);
    } else if (name === "Two") {
      // Two answers in one write: the second for a call made later.
      socket.write(Buffer.concat([packet([1, id, null, { a: 1, b: 2 }]), packet([1, id + 1, null, { value: [1, 2] }])]));
    }
  });
  const client = await fx.Marionette.connect(server.port);
  assert.strictEqual(await client.send("Echo", { text: "ü" }), "ü" + text);
  const [first, second] = await Promise.all([client.send("Two"), client.send("Three")]);
  assert.deepStrictEqual(first, { a: 1, b: 2 }, "a result with more than a value stays an object");
  assert.deepStrictEqual(second, [1, 2], "a lone value is unwrapped");
  assert.deepStrictEqual(server.received.map((c) => [c[0], c[2]]), [[0, "Echo"], [0, "Two"], [0, "Three"]]);
  assert.strictEqual(server.received[0][3].text, "ü");
  client.close();
  server.close();
});

test("an error answer rejects that call with Firefox's words; others go on", async () => {
  const server = await standIn(([, id, name], socket) => {
    if (name === "Bad") socket.write(packet([1, id, { error: "no such element", message: "Unable to locate #x", stacktrace: "" }, null]));
    else socket.write(packet([1, id, null, { value: name }]));
  });
  const client = await fx.Marionette.connect(server.port);
  await assert.rejects(client.send("Bad"), /Bad: no such element: Unable to locate #x/);
  assert.strictEqual(await client.send("Good"), "Good");
  client.close();
  server.close();
});

test("no call waits forever: a silent server times out, a closed one fails every call", async () => {
  let hangUp = null;
  const server = await standIn((command, socket) => {
    if (command[2] === "HangUp") hangUp = socket;
  });
  const client = await fx.Marionette.connect(server.port);
  const started = Date.now();
  await assert.rejects(client.send("Silent", {}, 300), /Silent: no answer from Firefox within 300 ms/);
  assert.ok(Date.now() - started < 2000);
  const pending = client.send("Pending", {}, 10000);
  const hung = client.send("HangUp", {}, 10000);
  await new Promise((resolve) => setTimeout(resolve, 100));
  hangUp.destroy();
  await assert.rejects(pending, /connection closed/);
  await assert.rejects(hung, /connection closed/);
  await assert.rejects(client.send("After"), /connection closed/, "a call after the close fails at once");
  server.close();
});

test("a late answer to a timed-out call is not taken for a later call's", async () => {
  const server = await standIn(([, id, name], socket) => {
    if (name === "Slow") setTimeout(() => socket.write(packet([1, id, null, { value: "slow" }])), 300);
    if (name === "Next") setTimeout(() => socket.write(packet([1, id, null, { value: "next" }])), 400);
  });
  const client = await fx.Marionette.connect(server.port);
  await assert.rejects(client.send("Slow", {}, 100), /no answer/);
  assert.strictEqual(await client.send("Next", {}, 2000), "next");
  client.close();
  server.close();
});

test("connecting fails clearly: wrong protocol, no greeting, garbage", async () => {
  const old = await standIn(() => {}, { applicationType: "gecko", marionetteProtocol: 2 });
  await assert.rejects(fx.Marionette.connect(old.port), /protocol 2, not 3/);
  old.close();

  const mute = net.createServer(() => {});
  await new Promise((resolve) => mute.listen(0, "127.0.0.1", resolve));
  await assert.rejects(fx.Marionette.connect(mute.address().port, 300), /no Marionette greeting on port \d+ within 300 ms/);
  mute.close();

  const garbage = net.createServer((socket) => socket.write("HTTP/1.1 400 Bad Request\r\n\r\n"));
  await new Promise((resolve) => garbage.listen(0, "127.0.0.1", resolve));
  await assert.rejects(fx.Marionette.connect(garbage.address().port, 2000), /packet without a length: "HTTP/);
  garbage.close();

  const notJson = net.createServer((socket) => socket.write("5:hello"));
  await new Promise((resolve) => notJson.listen(0, "127.0.0.1", resolve));
  await assert.rejects(fx.Marionette.connect(notJson.address().port, 2000), /not JSON: "hello"/);
  notJson.close();

  const nobody = net.createServer();
  await new Promise((resolve) => nobody.listen(0, "127.0.0.1", resolve));
  const port = nobody.address().port;
  await new Promise((resolve) => nobody.close(resolve));
  await assert.rejects(fx.Marionette.connect(port, 2000), /ECONNREFUSED/);
});

(async () => {
  let failed = 0;
  for (const { name, fn } of tests) {
    try {
      await fn();
      console.log(`ok: ${name}`);
    } catch (e) {
      failed++;
      console.error(`FAILED: ${name}\n  ${e.stack}`);
    }
  }
  process.exit(failed ? 1 : 0);
})();
