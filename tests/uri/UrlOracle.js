// The browser-grade reading of addresses for UriDifferentialTest: reads a
// JSON array of addresses from the file named first and prints one line per
// address: "1 <http> <protocol> <hostname> <port>" (tab-separated) when
// new URL() accepts it, "0 <http>" when it refuses. <http> is 1 when the
// address, cleaned as browsers clean it, starts with "http:" or "https:".
const fs = require('fs');
const out = [];
for (const a of JSON.parse(fs.readFileSync(process.argv[2], 'utf8'))) {
  const cleaned = a.replace(/^[\u0000-\u0020]+|[\u0000-\u0020]+$/g, '').replace(/[\t\n\r]/g, '');
  const http = /^https?:/i.test(cleaned) ? 1 : 0;
  try {
    const u = new URL(a);
    out.push(['1', http, u.protocol, u.hostname, u.port].join('\t'));
  } catch (e) {
    out.push(`0\t${http}`);
  }
}
process.stdout.write(out.join('\n') + '\n');
