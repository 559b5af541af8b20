// OPDS catalogues as the host hands them over: the list of catalogues (OpdsCatalogues),
// the answers to the "opds" command (OpdsResult, OpdsPage), the page files the host
// writes, the texts of the command, the paging of a listing and the cards its entries
// become.
// One part of the movie's model (see part.js).
(typeof module === "object" ? require("./part.js")(module) : LumoraModelPart)(["./xml_reader.js", "./commands.js"], function (M) {
  "use strict";

  // The host keeps at most 100 catalogues and a page of at most 10,000 entries; a listing
  // follows at most MAX_PAGES pages.
  var MAX_CATALOGUES = 100;
  var MAX_ENTRIES = 10000;
  var MAX_PAGES = 1000;
  var MAX_SUMMARY = 4096;
  var MAX_TEXT = 1024;
  var CATALOGUE_ID = /^o[0-9]{1,9}$/;
  var TICKET = /^[A-Za-z0-9-]{1,32}$/;

  // A field list "key=value|key=value" read into an object; the last field named |rest|
  // takes the remainder of the text, "|" and all (a host's message may hold one).
  function readFields(text, rest) {
    var out = {};
    var parts = String(text).split("|");
    for (var i = 0; i < parts.length; i++) {
      var eq = parts[i].indexOf("=");
      if (eq <= 0) continue;
      var key = parts[i].slice(0, eq);
      if (Object.prototype.hasOwnProperty.call(out, key)) continue;
      if (key === rest) { out[key] = [parts[i].slice(eq + 1)].concat(parts.slice(i + 1)).join("|"); break; }
      out[key] = parts[i].slice(eq + 1);
    }
    return out;
  }

  // Only http and https addresses are followed or shown; anything else is "".
  function webUrl(text) {
    var t = String(text || "").trim();
    return /^https?:\/\/[^\s]+$/i.test(t) && t.length <= 8192 ? t : "";
  }
  // A text shown on one line, of bounded length.
  function line(text, max) {
    var t = String(text || "").replace(/[\u0000-\u001f\u007f]+/g, " ").trim();
    return t.length > max ? t.slice(0, max - 1) + "…" : t;
  }

  // OpdsCatalogues: one catalogue a line, "id=ID|name=NAME|url=URL|user=USER". Lines
  // without a proper id or an http(s) address are left out, as are repeated ids.
  function parseCatalogueList(value) {
    var out = [];
    var seen = new Set();
    String(value || "").split("\n").forEach(function (l) {
      if (out.length >= MAX_CATALOGUES) return;
      var f = readFields(l.replace(/\r$/, ""));
      var id = f.id || "";
      var url = webUrl(f.url);
      if (!CATALOGUE_ID.test(id) || !url || seen.has(id)) return;
      seen.add(id);
      out.push({id: id, name: line(f.name, 64) || url, url: url, user: line(f.user, 256)});
    });
    return out;
  }

  // OpdsResult: "OP|0|ID" or "OP|CODE|MESSAGE": {op, ok, code, id, message}; null for a
  // text that is none.
  function parseResult(value) {
    var m = /^(add|remove)\|(-?[0-9]{1,9})\|([\s\S]*)$/.exec(String(value || ""));
    if (!m) return null;
    var code = parseInt(m[2], 10);
    var ok = code === 0;
    var message = ok ? "" : line(m[3], 200) || "错误代码 " + code;
    return {op: m[1], ok: ok, code: code, id: ok ? m[3] : "", message: message};
  }

  // OpdsPage: "ticket=T|code=0|path=PATH" or "ticket=T|code=CODE|message=MESSAGE":
  // {ticket, ok, code, path, message}. A path must lie in the folder of OPDS pages, with
  // no "..": anything else is no page (a failure, said so).
  function parsePageAnswer(value) {
    var f = readFields(value, "message");
    if (!TICKET.test(f.ticket || "")) return null;
    var code = /^-?[0-9]{1,9}$/.test(f.code || "") ? parseInt(f.code, 10) : null;
    var out = {ticket: f.ticket, ok: false, code: code, path: "", message: ""};
    if (code === 0) {
      var p = String(f.path || "");
      if (/^public\/opds\/[^\\]+\.xml$/.test(p) && p.split("/").indexOf("..") < 0 && p.indexOf("\0") < 0) {
        out.ok = true;
        out.path = p;
      } else out.message = "目录页的位置不对";
    } else {
      out.message = line(f.message, 200) || (code === null ? "未知错误" : "错误代码 " + code);
    }
    return out;
  }

  // A page file's text: {title, next, search, entries: [{id, title, authors, updated,
  // cover, summary, nav, acq, type, formats}]}, or null when it is no page (not well
  // formed, a DOCTYPE, another root). Addresses that are not http(s) count as none; an
  // entry with neither a feed to open nor a book to fetch is left out.
  function readPage(text) {
    var page = {title: "", next: "", search: false, entries: []};
    var rootName = "";
    var reader = M.elementReader(MAX_ENTRIES * 2 + 10, function (name, a, depth) {
      if (depth === 0) {
        rootName = name;
        page.title = line(a.title, MAX_TEXT);
        page.next = webUrl(a.next);
        page.search = a.search === "1";
      } else if (depth === 1 && name === "entry" && rootName === "opds") {
        if (page.entries.length >= MAX_ENTRIES) return;
        var e = {id: line(a.id, MAX_TEXT), title: line(a.title, MAX_TEXT), authors: line(a.authors, MAX_TEXT),
                 updated: line(a.updated, 64), cover: webUrl(a.cover),
                 summary: String(a.summary || "").slice(0, MAX_SUMMARY), nav: webUrl(a.nav),
                 acq: webUrl(a.acq), type: line(a.type, 128), formats: line(a.formats, 128)};
        if (e.nav || e.acq) page.entries.push(e);
      }
    });
    reader.feed(String(text));
    return reader.end() && rootName === "opds" ? page : null;
  }

  // A stable key of an entry of catalogue |catalogueId| (of its id, else of its book's
  // address): the catalogue's id and a 64-bit FNV-1a hash, an id the host may keep.
  function entryKey(catalogueId, entryId) {
    var h1 = 0x811c9dc5, h2 = 0xcbf29ce4;
    var text = String(entryId);
    for (var i = 0; i < text.length; i++) {
      var c = text.charCodeAt(i);
      h1 = Math.imul(h1 ^ c, 0x01000193) >>> 0;
      h2 = Math.imul(h2 ^ c ^ (h1 >>> 7), 0x01000193) >>> 0;
    }
    var hex = function (n) { return ("0000000" + n.toString(16)).slice(-8); };
    return catalogueId + "-" + hex(h1) + hex(h2);
  }

  // An entry of catalogue |catalogueId| as a card of the grid: the nine attributes of
  // the vendor's items (an OPDS book is free, its file its best acquisition) and the
  // entry itself under `opds`.
  function cardOf(catalogueId, entry, group) {
    var date = /^[0-9]{4}-[0-9]{2}-[0-9]{2}/.exec(entry.updated);
    return {id: entryKey(catalogueId, entry.id || entry.acq || entry.nav), name: entry.title || entry.id || "（无题）",
      photo: entry.cover, date: date ? date[0] : "", pay: "0", price: "0", DLurl: entry.acq, RDurl: "", BYurl: "",
      group: group,
      opds: {catalogue: catalogueId, entry: entry.id, authors: entry.authors, summary: entry.summary,
             formats: entry.formats, type: entry.type, nav: entry.nav, acq: entry.acq, updated: entry.updated}};
  }
  // True for a card that opens a feed rather than fetching a book.
  function isNavigation(item) { return !!(item && item.opds && item.opds.nav && !item.opds.acq); }

  // A listing (a catalogue's feed, a sub-feed or a search) and its pages: each `next` is
  // asked for once; one already asked in this listing ends it, so endless `next` loops
  // stop. {asked: Set of addresses, pending, pages}.
  function newListing(url) {
    var asked = new Set();
    if (url) asked.add(url);
    return {asked: asked, pending: true, pages: 0, next: "", ended: false};
  }
  // A page of the listing arrived (its `next`, "" for none).
  function pageArrived(listing, next) {
    listing.pending = false;
    listing.pages++;
    listing.next = next || "";
    if (!listing.next || listing.asked.has(listing.next) || listing.pages >= MAX_PAGES) {
      listing.next = "";
      listing.ended = true;
    }
  }
  // The address to ask for now, marked as asked; "" while a page is pending or when the
  // listing has ended.
  function nextToAsk(listing) {
    if (listing.pending || listing.ended || !listing.next) return "";
    var url = listing.next;
    listing.asked.add(url);
    listing.pending = true;
    return url;
  }
  // The page asked for failed: it may be asked for again (重试).
  function pageFailed(listing, url) {
    listing.pending = false;
    if (url) { listing.asked.delete(url); listing.next = url; }
  }

  // The texts of the "opds" command, cut to their fields in the host's code page; null
  // when one does not fit or holds "|" (an address's "|" goes escaped).
  // (looked up when used: in the page this part runs before the command texts' part, and
  // the reader's worker, which reads pages with it, has no command texts at all.)
  function fields(list) { return M.fieldList(list); }
  function escUrl(url) { return String(url || "").replace(/\|/g, "%7C"); }
  var opdsTexts = {
    add: function (name, url, user, password) {
      return fields([["op", "add"], ["name", M.cutToBytes(String(name).trim(), 127), 128],
                     ["url", escUrl(String(url).trim()), 2048], ["user", user, 256], ["password", password, 256]]);
    },
    remove: function (id) { return fields([["op", "remove"], ["id", id, 16]]); },
    open: function (id, url, ticket) {
      return fields([["op", "open"], ["id", id, 16], ["url", escUrl(url), 8192], ["ticket", ticket, 33]]);
    },
    search: function (id, terms, ticket) {
      return fields([["op", "search"], ["id", id, 16], ["terms", M.cutToBytes(String(terms).trim(), 255), 256],
                     ["ticket", ticket, 33]]);
    },
    down: function (id, url, name, key) {
      return fields([["op", "down"], ["id", id, 16], ["url", escUrl(url), 8192],
                     ["name", downName(name), 64], ["key", key, 64]]);
    }
  };
  // The name "down" sends: as the host keeps it (63 bytes), so that the file's name is
  // known, and one the host can name a file after ("/" would leave the folder, control
  // characters have no place in a name).
  function downName(name) {
    return M.cutToBytes(String(name).replace(/[|\u0000-\u001f\u007f]/g, " ").replace(/\//g, "_"), 63);
  }
  // The file a book downloaded with no one signed in becomes: the data folder's
  // downloads/ (|dataDir| ends with "/"), the name "down" sent, "-" and the last part of
  // the address it sent, as the host names it.
  function downloadedFile(dataDir, name, url) {
    var sent = escUrl(url);
    return dataDir + "downloads/" + downName(name) + "-" + sent.slice(sent.lastIndexOf("/") + 1);
  }

  return {parseOpdsCatalogues: parseCatalogueList, parseOpdsResult: parseResult,
    parseOpdsPage: parsePageAnswer, readOpdsPage: readPage, opdsEntryKey: entryKey, opdsCard: cardOf,
    isOpdsNavigation: isNavigation, newOpdsListing: newListing, opdsPageArrived: pageArrived,
    opdsNextToAsk: nextToAsk, opdsPageFailed: pageFailed, opdsTexts: opdsTexts,
    opdsDownloadedFile: downloadedFile, OPDS_MAX_PAGES: MAX_PAGES};
});
