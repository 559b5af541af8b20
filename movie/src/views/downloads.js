// Downloads: "down" asks for one, "DLRatio0".."DLRatio10" carry "id|NNN", DownloadResult
// "id|code|message" says how one ended (before RetValDownloadEnd), "downloading" pauses
// and resumes (the host continues from what it has), DownloadPartial "id|NNN" says how far
// one of "正在下载" got before the program last ended. A download shows as running only
// from its first report: until then the host has given no sign that it took it. Rows
// are independent. Items of a 下载所选 wait here as queued until L.batch asks for them.
(function (L) {
  "use strict";
  var M = L.model;
  var h = L.h;
  var list = new Map();  // id -> {id, name, url, photo, state, percent, message, listed, toast}
  var partial = new Map();  // id -> percent kept from an earlier run (DownloadPartial)
  var paintQueued = false;
  var QUEUED_ROWS = 50;

  function paint() {
    if (paintQueued) return;
    paintQueued = true;
    setTimeout(function () { paintQueued = false; draw(); }, 250);
  }
  function apply(d, event) {
    var next = M.downloadAfter(d, event);
    d.state = next.state;
    d.percent = next.percent;
    d.message = next.message;
    d.listed = next.listed;
  }
  function record(id) {
    var d = list.get(id);
    // One the movie did not ask for, reported by the host: the host lists it.
    if (!d) { d = {id: id, name: id, url: "", photo: "", state: "running", percent: -1, message: "", listed: true}; list.set(id, d); }
    return d;
  }

  // The record of |it| with what the item says of itself (name, address, cover, and for
  // an OPDS item the "down" text to send again).
  function recordItem(it) {
    var d = record(it.id);
    d.name = it.name || d.name;
    d.url = it.DLurl || d.url;
    d.photo = it.photo || d.photo;
    if (it.opds) {
      d.again = L.item.downText(it);
      // With no one signed in the book goes into the data folder's downloads/, which no
      // shelf lists: the record keeps where, to open it.
      d.file = L.state.signedIn ? "" : M.opdsDownloadedFile(lumora.get("MyAppDataDir"), it.name, it.DLurl);
    }
    return d;
  }
  function label(d) { return d.name || d.id; }
  function closeToast(d) {
    if (d.toast) d.toast.remove();
    d.toast = null;
  }

  // A progress bar: one without a percentage (waiting) moves to and fro at a width of
  // its own, which an inline width would hide.
  L.progressBar = function (d) {
    var bar = h("div", {class: "bar", role: "progressbar", "aria-label": label(d),
                        "aria-valuemin": "0", "aria-valuemax": "100"}, [h("i", {})]);
    L.showProgress(bar, d);
    return bar;
  };
  // Shows the progress of |d| on |bar|, made by L.progressBar, in place. A queued one
  // has not started: its bar stays empty and still.
  L.showProgress = function (bar, d) {
    var waiting = d.state === "waiting" || (d.state !== "queued" && d.percent < 0);
    bar.className = "bar" + (waiting ? " indeterminate" : "");
    if (waiting) bar.removeAttribute("aria-valuenow");
    else bar.setAttribute("aria-valuenow", String(Math.max(0, d.percent)));
    bar.firstChild.style.width = waiting ? "" : Math.max(0, d.percent) + "%";
  };

  // The panel's row of |d|. A row is made anew only when its download's state or name
  // changes (its buttons with it); progress moves in place, so that a button is never
  // taken from under the pointer. Beyond |made.left| rows made in one draw, a row new to
  // the list waits for the next frame, so that many downloads listed at once never hold
  // the page.
  var rows = new Map();  // id -> {key: state and name, el, its bar and state text}
  var ROWS_A_FRAME = 15;
  function rowOf(d, made) {
    var state = M.downloadStateText(d);
    var key = [d.state, label(d), d.state === "failed" ? state : ""].join("\u0001");
    var known = rows.get(d.id);
    if (known && known.key === key) {
      if (known.bar) L.showProgress(known.bar, d);
      if (known.text.textContent !== state) { known.text.textContent = state; known.text.title = state; }
      return known.el;
    }
    if (made.left <= 0 && !known) {
      made.more = true;
      return null;
    }
    made.left--;
    var btns = h("div", {class: "btns"});
    var add = function (text, run) { btns.appendChild(h("button", {type: "button", text: text, onclick: run})); };
    if (d.state === "running") add("暂停", function () { downloads.pause(d.id); });
    if (d.state === "paused") add("继续", function () { downloads.resume(d.id); });
    if (d.state === "failed") add("重试", function () { downloads.resume(d.id); });
    if (d.state !== "done") add("取消", function () { downloads.cancel(d.id); });
    // One the shelf does not list opens its file; the others are in 已下载.
    else if (d.file) add("打开", function () { L.send("exec", d.file); });
    else add("打开", function () { L.showView("done"); L.closePanel("downloads"); });
    var el = h("div", {class: "dlrow", "data-id": d.id, "data-state": d.state}, [
      h("div", {class: "thumb", style: "background: hsl(" + M.tileHue(d.id) + ",38%,42%)"}),
      h("div", {class: "name", text: label(d), title: label(d)}), btns,
      // A failed download has no progress to show: the host's end report says 100.
      h("div", {}, [d.state === "failed" ? null : L.progressBar(d),
                    h("span", {class: "state" + (d.state === "failed" ? " failed" : ""), text: state, title: state})])]);
    rows.set(d.id, {key: key, el: el, bar: el.querySelector(".bar"), text: el.querySelector(".state")});
    return el;
  }

  // The counts on the band, and the panel's rows while it shows.
  function draw() {
    var box = L.$("dl-list");
    var shows = !L.$("downloads").hidden;
    var els = [];
    var running = 0, sum = 0, n = 0, queued = 0, made = {left: ROWS_A_FRAME, more: false};
    if (shows) {
      // The rows of downloads under way are made first, then those of the queue shown;
      // finished ones with what is left.
      var inQueue = 0;
      list.forEach(function (d) { if (d.state !== "queued" && d.state !== "done" && d.state !== "failed") rowOf(d, made); });
      list.forEach(function (d) { if (d.state === "queued" && ++inQueue <= QUEUED_ROWS) rowOf(d, made); });
    }
    list.forEach(function (d) {
      if (d.state === "running") running++;
      if (d.state !== "done" && d.state !== "failed") { sum += Math.max(0, d.percent); n++; }
      // A long queue shows its first rows, and how many more wait.
      if (!shows || (d.state === "queued" && ++queued > QUEUED_ROWS)) return;
      var el = rowOf(d, made);
      if (el) els.push(el);
    });
    if (made.more) drawSoon();
    if (shows) {
      rows.forEach(function (r, id) { if (!list.has(id)) rows.delete(id); });
      if (queued > QUEUED_ROWS) els.push(h("p", {class: "dlmore", text: "另有 " + (queued - QUEUED_ROWS) + " 项等待中"}));
      // Only the rows that went, came or changed are touched: the rows gone are taken
      // out, then each place gets its row unless it already holds it.
      var keep = new Set(els);
      Array.from(box.children).forEach(function (el) { if (!keep.has(el)) el.remove(); });
      els.forEach(function (el, i) {
        var there = box.children[i];
        if (there !== el) box.insertBefore(el, there || null);
      });
    }
    L.$("dl-empty").hidden = list.size > 0;
    L.$("dl-count").textContent = running ? String(running) : "";
    var rc = document.getElementById("running-count");
    if (rc) rc.textContent = running ? String(running) : "";
    L.$("dl-ring").style.setProperty("--p", n ? String(Math.round(sum / n)) : "0");
  }
  // A download's state changed: its card now, the panel with the next frame (many
  // changes together are drawn once).
  var drawSoon = L.perFrame(function () { draw(); });
  function changed(id) {
    drawSoon();
    L.grid.refreshItem(id);
  }

  // The shelf is read again after each download's end; ends that come while it is being
  // read (many downloads ending together) are followed by one read more, not one each.
  var reading = false, readAgain = false;
  function shelfChanged() {
    if (reading) { readAgain = true; return; }
    reading = true;
    L.account.loadShelf().then(function (marked) {
      // A host that does not say how a download ended: one that reached "已下载" is done.
      list.forEach(function (d) {
        if ((d.state === "running" || d.state === "waiting") && L.account.isDone(d.id))
          ended({id: d.id, ok: true, message: ""});
      });
      // A shelf group lists what the shelf holds; other views show only the cards of the
      // items whose marks changed again (all of them when many did).
      if (L.state.view && L.state.view.shelfGroup) L.refreshView();
      else if (marked.size > 20) L.grid.repaint();
      else marked.forEach(function (id) { L.grid.refreshItem(id); });
    }).then(done, function (e) { done(); throw e; });
    function done() {
      reading = false;
      if (readAgain) { readAgain = false; shelfChanged(); }
    }
  }

  // The host's word on how a download ended.
  function ended(result) {
    var d = record(result.id);
    if (d.state === "done") return;
    apply(d, {type: "result", ok: result.ok, message: result.message});
    closeToast(d);
    // An item of a 下载所选 is told in the batch's summary; its place goes to the next.
    if (L.batch.ended(d.id, result.ok ? "ok" : "failed")) {
      // Nothing of its own to tell.
    } else if (result.ok && d.file) {
      L.toast("下载完成：“" + label(d) + "”", {action: {label: "打开", run: function () { L.send("exec", d.file); }}});
    } else if (result.ok) {
      L.toast("下载完成，已移到 已下载", {action: {label: "查看", run: function () { L.showView("done"); }}});
    } else {
      d.toast = L.toast("“" + label(d) + "”下载失败：" + d.message,
                        {error: true, action: {label: "重试", run: function () { downloads.resume(d.id); }}});
    }
    changed(d.id);
  }

  var downloads = {
    init: function () { L.$("btn-downloads").addEventListener("click", downloads.toggle); draw(); },
    toggle: function () { L.togglePanel("downloads"); if (L.isOpen("downloads")) draw(); },
    get: function (id) { return list.get(id) || null; },
    // The file of a finished download the shelf does not list ("" none).
    fileOf: function (id) {
      var d = list.get(id);
      return d && d.state === "done" && d.file || "";
    },
    // "down" was sent for |it|.
    started: function (it) {
      var d = recordItem(it);
      apply(d, {type: "asked"});
      closeToast(d);
      L.toast("已请求下载“" + label(d) + "”");
      changed(it.id);
    },
    // An item of the shelf's "正在下载" group: one not listed yet is resumable; a listed
    // one learns its name and address.
    known: function (it) {
      var d = list.get(it.id);
      if (!d) list.set(it.id, {id: it.id, name: it.name, url: it.DLurl, photo: it.photo,
                               percent: partial.has(it.id) ? partial.get(it.id) : 0, state: "paused", message: ""});
      else {
        if (!d.url) d.url = it.DLurl;
        if (!d.name || d.name === d.id) d.name = it.name || d.name;
      }
      paint();
    },
    onVariable: function (name, value) {
      if (M.isDLRatioName(name)) {
        var p = M.parseDLRatio(value);
        if (!p) return;
        var d = record(p.id);
        var before = d.state;
        apply(d, {type: "ratio", percent: p.percent});
        if (before !== d.state) changed(p.id); else { paint(); L.grid.refreshItem(p.id); }
      } else if (name === "DownloadPartial") {
        var k = M.parseDLRatio(value);
        if (!k) return;
        partial.set(k.id, k.percent);
        var known = list.get(k.id);
        if (known) { apply(known, {type: "partial", percent: k.percent}); paint(); }
      } else if (name === "DownloadResult") {
        var r = M.parseDownloadResult(value);
        if (r) ended(r);
      } else if (name === "RetValDownloadEnd" && value === "true") {
        shelfChanged();
      }
    },
    pause: function (id) {
      var d = list.get(id);
      if (!d || !L.send("downloading", M.texts.pause(id))) return;
      apply(d, {type: "paused"});
      changed(id);
    },
    // Resumes a paused download or tries a failed one again: the host continues from
    // the bytes it kept.
    resume: function (id) {
      var d = list.get(id);
      if (!d) return;
      if (!d.url) { L.toast("没有下载地址，无法继续", {error: true}); return; }
      // A failed book of an OPDS catalogue (or any of them with no one signed in, whose
      // downloads the shelf does not list) is asked for again as it was at first.
      if (d.again && (d.state === "failed" || !L.state.signedIn)) { if (!L.send("opds", d.again)) return; }
      else if (!L.send("downloading", M.texts.resume(id, d.name || id, d.url))) return;
      closeToast(d);
      apply(d, {type: "asked"});
      changed(id);
    },
    // Cancelling removes the item from the shelf's "正在下载" group; the host stops
    // its transfer first. A queued one was never asked for: it only leaves the queue.
    cancel: function (id) {
      var d = list.get(id);
      if (!(d && d.state === "queued")) {
        // With no one signed in only books of OPDS catalogues download: the host stops and
        // discards the transfer of an item of "正在下载" whatever the catalogue named.
        if (!L.state.signedIn && !(d && d.again)) return;
        var shelf = L.state.signedIn ? M.shelfFile(L.state.user) : "";
        if (!L.send("Del", M.texts.itemRef(shelf, M.SHELF.running, id))) return;
      }
      if (d) closeToast(d);
      list.delete(id);
      L.batch.ended(id, "cancelled");
      changed(id);
    },
    forget: function (id) { list.delete(id); L.batch.ended(id, "cancelled"); draw(); },
    // Items of a 下载所选 ({id, name, DLurl, photo}) wait for a place: one draw for all.
    queue: function (items) {
      items.forEach(function (it) {
        var d = recordItem(it);
        apply(d, {type: "queued"});
      });
      paint();
    },
    // "down" was sent for a queued item.
    asked: function (id) {
      var d = list.get(id);
      if (!d) return;
      apply(d, {type: "asked"});
      paint();
    },
    all: function () { return list; }
  };
  L.downloads = downloads;
})(window.Lumora);
