// The warning pages' one script: shows the blocked address the filter put
// in the query (var3) and, when the filter allows it (var4, the
// click-through key), offers the "continue" link, which is the blocked
// address with the key appended. The filter escapes var3 so that standard
// percent-decoding gives the address back whole. The address is only ever
// set as text, never as markup, and only an http or https address with a
// well-formed key becomes a link.
(function () {
  "use strict";

  function decode(value) {
    try {
      return decodeURIComponent(value);
    } catch (e) {
      return value; // not valid UTF-8 escapes: shown as it came
    }
  }

  // The query runs from "?" to "#" (location.search); its fields are
  // separated by "&"; a name is what comes before the first "=".
  var fields = {};
  window.location.search.substring(1).split("&").forEach(function (field) {
    var equals = field.indexOf("=");
    var name = equals < 0 ? field : field.substring(0, equals);
    fields[name] = equals < 0 ? "" : field.substring(equals + 1);
  });

  var blocked = fields.var3 !== undefined ? decode(fields.var3) : "";
  var key = fields.var4 !== undefined ? decode(fields.var4) : "";
  document.getElementById("blocked").textContent = blocked || "(no address was given)";

  if (/^https?:\/\//i.test(blocked) && /^\([0-9a-f]+\)$/i.test(key)) {
    var link = document.getElementById("continue");
    link.href = blocked + key;
    document.getElementById("way-on").hidden = false;
  }
})();
