// Many items at once: the selection of the view's items (Ctrl+click, Shift+click, Space,
// Ctrl+A, Escape), its bar (已选 N 项, 下载所选, 取消选择), and the queue of a 下载所选:
// its items wait as queued and are asked for one by one while the host lists fewer
// than ten downloads, each time one of those ends, fails or is cancelled. The selection
// is kept by item id in the view's order (the grid's items), never on the cards the
// grid draws and fills again.
(function (L) {
  "use strict";
  var M = L.model;
  var sel = {ids: new Set(), anchor: -1};
  var waiting = [], next = 0;  // queued items ({id, text}) in order; the first not asked yet
  var tallies = [];  // the 下载所选 not yet ended whole
  var pumpQueued = false;
  // A selection is gone through in pieces of this many items, each a task of its own,
  // so that a large one never holds the page up.
  var SLICE = 25;

  function showBar() {
    var n = sel.ids.size;
    L.$("selbar").hidden = n === 0;
    L.$("sel-count").textContent = n ? "已选 " + n + " 项" : "";
    L.grid.markSelected();
    // The grid's height changed with the bar: the rows in view are made.
    L.grid.schedule();
  }
  function change(event) {
    sel = M.selectionAfter(sel, L.grid.items(), event);
    showBar();
  }

  // Items queued and not asked for yet are asked for while the host lists fewer than
  // ten; those cancelled meanwhile are passed over.
  function pump() {
    pumpQueued = false;
    if (ask()) L.grid.repaint();
  }
  function ask() {
    if (next >= waiting.length) return 0;
    if (!L.state.signedIn) {
      // Signed out: what waits of the shelf is no one's to download (books of OPDS
      // catalogues need no one signed in).
      var left = waiting.slice(next);
      waiting = left.filter(function (e) { return e.command === "opds"; }); next = 0;
      left.forEach(function (e) {
        var d = L.downloads.get(e.id);
        if (e.command !== "opds" && d && d.state === "queued") L.downloads.cancel(e.id);
      });
      if (!waiting.length) return 0;
    }
    var room = M.startCount(M.countListed(L.downloads.all()), waiting.length - next);
    var started = 0;
    while (room > 0 && next < waiting.length) {
      var e = waiting[next++];
      var d = L.downloads.get(e.id);
      if (!d || d.state !== "queued") continue;
      if (!L.send(e.command, e.text)) continue;
      L.downloads.asked(e.id);
      room--;
      started++;
    }
    if (next >= waiting.length) { waiting = []; next = 0; }
    return started;
  }
  function schedulePump() {
    if (pumpQueued) return;
    pumpQueued = true;
    setTimeout(pump, 0);
  }
  function told(t) {
    var text = M.batchSummary(t);
    if (!text) return;
    if (t.failed) L.toast(text, {error: true, action: {label: "查看", run: function () { L.downloads.toggle(); }}});
    else L.toast(text, {action: {label: "查看", run: function () { L.showView("done"); }}});
  }

  var batch = {
    init: function () {
      L.$("sel-download").addEventListener("click", batch.downloadSelected);
      L.$("sel-clear").addEventListener("click", batch.clear);
    },
    has: function (id) { return sel.ids.has(id); },
    size: function () { return sel.ids.size; },
    // A click on the card at |at| of the grid's items: true when it selected (Ctrl or
    // Shift held), false for a plain click, which only marks where a range starts.
    click: function (at, e) {
      if (e.ctrlKey || e.metaKey) change({type: "toggle", at: at});
      else if (e.shiftKey) {
        change({type: "range", at: at});
        // Shift+click also extends the page's text selection: none is wanted here.
        var s = window.getSelection && window.getSelection();
        if (s) s.removeAllRanges();
      } else { sel = M.selectionAfter(sel, L.grid.items(), {type: "click", at: at}); return false; }
      return true;
    },
    toggle: function (at) { change({type: "toggle", at: at}); },
    range: function (at) { change({type: "range", at: at}); },
    all: function () { change({type: "all"}); },
    clear: function () { if (sel.ids.size || sel.anchor >= 0) change({type: "clear"}); },
    // The grid shows other items: a new view starts with nothing selected; the same view
    // read again keeps those of its items still there.
    viewChanged: function (same) {
      // Nothing selected: nothing to look for among the items (a catalogue of many read
      // in parts comes here at each part).
      if (!sel.ids.size) { if (!same) sel.anchor = -1; return; }
      if (!same) { batch.clear(); return; }
      var there = new Set();
      L.grid.items().forEach(function (it) { if (sel.ids.has(it.id)) there.add(it.id); });
      if (there.size !== sel.ids.size) { sel = {ids: there, anchor: -1}; showBar(); }
    },
    // 下载所选: the selected items that 下载 would download, in the grid's order, queued
    // in pieces; the others (downloaded, under way, paid, without an address) skipped.
    downloadSelected: function () {
      if (!sel.ids.size) return;
      var chosen = L.grid.items().filter(function (it) { return sel.ids.has(it.id); });
      if (!chosen.every(function (it) { return it.opds; }) && !L.item.needUser("下载")) return;
      batch.clear();
      var tally = M.newTally();
      tallies.push(tally);
      var seen = new Set(), queued = 0, skipped = 0, at = 0;
      function slice() {
        var picked = M.pickBatch(chosen.slice(at, at + SLICE), function (it) {
          return L.item.mainKind(it) === "download" && L.item.downText(it) !== null;
        }, seen);
        at += SLICE;
        skipped += picked.skipped;
        picked.items.forEach(function (it) {
          waiting.push({id: it.id, command: L.item.downCommand(it), text: L.item.downText(it)});
          M.tallyAdd(tally, it.id);
        });
        queued += picked.items.length;
        L.downloads.queue(picked.items);
        ask();
        L.grid.repaint();
        if (at < chosen.length) { setTimeout(slice, 0); return; }
        tally.open = false;
        if (!queued) L.toast("所选作品都已下载或无法下载");
        else L.toast("已加入下载 " + queued + " 项" + (skipped ? "，跳过 " + skipped + " 项" : ""));
        batch.settle();
      }
      // The selection bar goes with the next frame; the queue starts after it, so that
      // the two are not drawn in one long frame.
      L.afterPaint(slice);
    },
    // Item |id| ended ("ok", "failed", "cancelled"): true when it belonged to a
    // 下载所选 whose summary tells it. Its place in the host's list goes to the next.
    ended: function (id, outcome) {
      var member = false, tells = false;
      tallies.forEach(function (t) {
        if (M.tallyEnd(t, id, outcome)) { member = true; tells = tells || M.tallyTells(t); }
      });
      if (member) batch.settle();
      schedulePump();
      return tells;
    },
    // Signed out: the items still queued are no one's to download.
    signedOut: function () { schedulePump(); },
    // The 下载所选 that have ended whole are told, once each.
    settle: function () {
      tallies = tallies.filter(function (t) {
        if (!M.tallyOver(t)) return true;
        told(t);
        return false;
      });
    }
  };
  L.batch = batch;
})(window.Lumora);
