// Many items at once: the grid's selection (by item id, whatever cards are drawn), and
// the queue of a 下载所选 that keeps the host's list of shelf downloads within its ten.
// One part of the movie's model (see part.js).
(typeof module === "object" ? require("./part.js")(module) : LumoraModelPart)([], function () {
  "use strict";

  // The host lists at most ten shelf downloads and refuses an eleventh.
  var LISTED_MAX = 10;

  // The selection after |event|, over |order| (the view's items in the grid's order):
  // {ids: Set of item ids, anchor: the place of the last card clicked, -1 none}. Events:
  // {type: "click", at} (a plain click: the anchor moves, the selection stays),
  // {type: "toggle", at}, {type: "range", at} (the items from the anchor to |at| join),
  // {type: "all"}, {type: "clear"}. A place outside |order| changes nothing.
  function selectionAfter(sel, order, event) {
    var ids = new Set(sel.ids);
    var anchor = sel.anchor;
    var at = event.at;
    var inside = typeof at === "number" && at >= 0 && at < order.length;
    if (event.type === "all") {
      ids = new Set();
      for (var i = 0; i < order.length; i++) ids.add(order[i].id);
    } else if (event.type === "clear") {
      ids = new Set();
      anchor = -1;
    } else if (!inside) {
      return {ids: ids, anchor: anchor};
    } else if (event.type === "toggle") {
      var id = order[at].id;
      if (ids.has(id)) ids.delete(id); else ids.add(id);
      anchor = at;
    } else if (event.type === "range") {
      var from = anchor >= 0 && anchor < order.length ? anchor : at;
      for (var k = Math.min(from, at); k <= Math.max(from, at); k++) ids.add(order[k].id);
      anchor = at;
    } else if (event.type === "click") {
      anchor = at;
    }
    return {ids: ids, anchor: anchor};
  }

  // The items of |items| to queue: each id once (|seen| carries the ids met before, so
  // that a selection may be gone through in pieces), those |canDownload| refuses counted
  // as skipped.
  function pickBatch(items, canDownload, seen) {
    var out = [], skipped = 0;
    seen = seen || new Set();
    items.forEach(function (it) {
      if (seen.has(it.id)) return;
      seen.add(it.id);
      if (canDownload(it)) out.push(it); else skipped++;
    });
    return {items: out, skipped: skipped};
  }

  // How many downloads the host lists now: every one asked for and not yet ended or
  // removed (a paused one stays listed).
  function countListed(downloads) {
    var n = 0;
    downloads.forEach(function (d) { if (d.listed) n++; });
    return n;
  }
  // How many of |waiting| queued items may be asked for now.
  function startCount(listed, waiting) {
    return Math.max(0, Math.min(waiting, LISTED_MAX - listed));
  }

  // The outcome of one 下载所选: its items still to end, and how the others ended.
  // It stays open while its items are still being queued.
  function newTally() {
    return {pending: new Set(), size: 0, ok: 0, failed: 0, cancelled: 0, open: true};
  }
  function tallyAdd(t, id) {
    if (t.pending.has(id)) return;
    t.pending.add(id);
    t.size++;
  }
  // True when the batch tells its items' ends in its summary, not one by one.
  function tallyTells(t) { return t.size > 1; }
  // Item |id| ended: "ok", "failed" or "cancelled". False when it is no (longer a)
  // pending member of the tally.
  function tallyEnd(t, id, outcome) {
    if (!t.pending.delete(id)) return false;
    if (outcome === "ok") t.ok++;
    else if (outcome === "failed") t.failed++;
    else t.cancelled++;
    return true;
  }
  function tallyOver(t) { return !t.open && t.pending.size === 0; }
  // The one line told when a batch of more than one item has ended whole; null before
  // that, and for a batch of one (whose own messages tell it).
  function batchSummary(t) {
    if (!tallyOver(t) || !tallyTells(t)) return null;
    return "已下载 " + t.ok + " 项，失败 " + t.failed + " 项" + (t.cancelled ? "，取消 " + t.cancelled + " 项" : "");
  }

  return {LISTED_MAX: LISTED_MAX, selectionAfter: selectionAfter, pickBatch: pickBatch,
    countListed: countListed, startCount: startCount, newTally: newTally, tallyAdd: tallyAdd,
    tallyEnd: tallyEnd, tallyTells: tallyTells, tallyOver: tallyOver, batchSummary: batchSummary};
});
