// The texts exchanged with the host: the field lists of the commands sent to it, cut to
// their fields in the host's code page, and the host's messages made fit to show.
// One part of the movie's model (see part.js).
(typeof module === "object" ? require("./part.js")(module) : LumoraModelPart)(["./catalogues.js"], function (M) {
  "use strict";

  var SEARCH_FILE = M.SEARCH_FILE;

  // Bytes of |text| in the host's code page: one for ASCII, two for a Chinese
  // character, four for what lies beyond.
  function ansiLength(text) {
    var n = 0;
    for (var ch of text) { var c = ch.codePointAt(0); n += c < 0x80 ? 1 : c < 0x10000 ? 2 : 4; }
    return n;
  }
  // |text| cut between characters to at most |max| bytes of the code page.
  function cutToBytes(text, max) {
    var out = "";
    var n = 0;
    for (var ch of text) {
      var c = ch.codePointAt(0);
      var w = c < 0x80 ? 1 : c < 0x10000 ? 2 : 4;
      if (n + w > max) break;
      out += ch;
      n += w;
    }
    return out;
  }

  // A field list "key=value|key=value": null when a value holds the separator "|" or a
  // zero, or does not fit its field (limits in bytes of the code page, zero included).
  function fields(list) {
    var parts = [];
    for (var i = 0; i < list.length; i++) {
      var v = String(list[i][1]);
      if (v.indexOf("|") >= 0 || v.indexOf("\0") >= 0) return null;
      if (list[i][2] && ansiLength(v) > list[i][2] - 1) return null;
      parts.push(list[i][0] + "=" + v);
    }
    return parts.join("|");
  }

  var texts = {
    // "logon": user name, password and two unused fields.
    logon: function (name, password) {
      return fields([["username", name, 64], ["password", password, 64], ["remember", "0"],
                     ["auto", "0"]]);
    },
    // "addfav", "read", "Del": the item reference.
    itemRef: function (catalogue, group, id) {
      return fields([["type", "item", 64], ["file", catalogue, 256], ["group", group, 64],
                     ["id", id, 64]]);
    },
    down: function (catalogue, group, id, url) {
      return fields([["type", "item", 64], ["file", catalogue, 256], ["group", group, 64],
                     ["id", id, 64], ["url", url, 256]]);
    },
    pause: function (id) { return fields([["id", id, 64], ["state", "false", 12]]); },
    resume: function (id, name, url) {
      return fields([["id", id, 64], ["state", "true", 12],
                     ["name", cutToBytes(name, 63), 64], ["url", url, 256]]);
    },
    // "search": the results file, the keyword (cut to its field) and the categories.
    search: function (keyword, tokens) {
      return fields([["file", SEARCH_FILE, 256], ["key", cutToBytes(keyword, 63), 64],
                     ["type", tokens.join("&"), 256]]);
    },
    share: function (site, title) {
      var one = cutToBytes(title, 63);
      var two = cutToBytes(title.slice(one.length), 255);
      return fields([["site", site, 256], ["title", one, 64], ["more", two, 256]]);
    },
    settings: function (sound, autorun, web) {
      return fields([["sound", sound ? "1" : "0", 10], ["autorun", autorun ? "1" : "0", 10],
                     ["websetting", web ? "1" : "0", 10]]);
    }
  };
  var SHARE_SITES = ["新浪微博", "腾讯微博", "开心网"];

  // A text of the host shown as it is, on one line and of a bounded length.
  function plainMessage(text, max) {
    var t = String(text).replace(/[\u0000-\u001f\u007f]+/g, " ").trim();
    return t.length > max ? t.slice(0, max - 1) + "…" : t;
  }

  return {ansiLength: ansiLength, cutToBytes: cutToBytes, fieldList: fields, texts: texts, SHARE_SITES: SHARE_SITES,
    plainMessage: plainMessage};
});
