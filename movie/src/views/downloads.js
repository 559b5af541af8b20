// Downloads: "down" starts one, "DLRatio0".."DLRatio10" carry "id|NNN", "downloading"
// pauses and resumes, RetValDownloadEnd says one has ended. Rows are independent.
(function (L) {
  "use strict";
  var M = L.model;
  var h = L.h;
  var list = new Map();  // id -> {id, name, url, photo, percent (-1 unknown), state}
  var paintQueued = false;

  function paint() {
    if (paintQueued) return;
    paintQueued = true;
    setTimeout(function () { paintQueued = false; draw(); }, 250);
  }
  function draw() {
    var box = L.$("dl-list");
    box.textContent = "";
    var running = 0, sum = 0, n = 0;
    list.forEach(function (d) {
      if (d.state === "running") running++;
      if (d.state !== "done") { sum += Math.max(0, d.percent); n++; }
      var state = d.state === "done" ? "已完成" : d.state === "paused" ? "已暂停 " + Math.max(0, d.percent) + "%" :
                  d.percent < 0 ? "等待中" : d.percent + "% · 下载中";
      var btns = h("div", {class: "btns"});
      if (d.state === "running") btns.appendChild(h("button", {type: "button", text: "暂停", onclick: function () { downloads.pause(d.id); }}));
      if (d.state === "paused") btns.appendChild(h("button", {type: "button", text: "继续", onclick: function () { downloads.resume(d.id); }}));
      if (d.state !== "done") btns.appendChild(h("button", {type: "button", text: "取消", onclick: function () { downloads.cancel(d.id); }}));
      else btns.appendChild(h("button", {type: "button", text: "打开", onclick: function () { L.showView("done"); L.closePanel("downloads"); }}));
      box.appendChild(h("div", {class: "dlrow", "data-id": d.id}, [
        h("div", {class: "thumb", style: "background: hsl(" + M.tileHue(d.id) + ",38%,42%)"}),
        h("div", {class: "name", text: d.name || d.id, title: d.name || d.id}), btns,
        h("div", {}, [h("div", {class: "bar" + (d.percent < 0 && d.state === "running" ? " indeterminate" : "")},
                        [h("i", {style: "width:" + Math.max(0, d.percent) + "%"})]),
                      h("span", {class: "state", text: state})])]));
    });
    L.$("dl-empty").hidden = list.size > 0;
    L.$("dl-count").textContent = running ? String(running) : "";
    var rc = document.getElementById("running-count");
    if (rc) rc.textContent = running ? String(running) : "";
    L.$("dl-ring").style.setProperty("--p", n ? String(Math.round(sum / n)) : "0");
  }

  var downloads = {
    init: function () { L.$("btn-downloads").addEventListener("click", downloads.toggle); draw(); },
    toggle: function () { L.togglePanel("downloads"); },
    get: function (id) { return list.get(id) || null; },
    started: function (it) {
      var d = list.get(it.id);
      if (!d) { d = {id: it.id, name: it.name, url: it.DLurl, photo: it.photo, percent: -1, state: "running"}; list.set(it.id, d); }
      else { d.state = "running"; d.url = it.DLurl || d.url; }
      L.toast("开始下载“" + (it.name || it.id) + "”");
      draw();
      L.grid.refreshItem(it.id);
    },
    // An item of the shelf's "正在下载" group seen at sign-in: resumable.
    known: function (it) {
      if (!list.has(it.id)) list.set(it.id, {id: it.id, name: it.name, url: it.DLurl, photo: it.photo, percent: 0, state: "paused"});
      paint();
    },
    onVariable: function (name, value) {
      if (M.isDLRatioName(name)) {
        var p = M.parseDLRatio(value);
        if (!p) return;
        var d = list.get(p.id);
        if (!d) { d = {id: p.id, name: p.id, url: "", percent: -1, state: "running"}; list.set(p.id, d); }
        if (d.state === "paused") return;  // a late report of a paused transfer
        d.percent = p.percent;
        if (p.percent >= 100) d.state = "done";
        paint();
        L.grid.refreshItem(p.id);
      } else if (name === "RetValDownloadEnd" && value === "true") {
        L.toast("下载完成，已移到 已下载", {action: {label: "查看", run: function () { L.showView("done"); }}});
        L.account.loadShelf().then(function () {
          if (L.state.view && L.state.view.shelfGroup) L.refreshView(); else L.grid.relayout();
        });
      }
    },
    pause: function (id) {
      var d = list.get(id);
      if (!d || !L.send("downloading", M.texts.pause(id))) return;
      d.state = "paused";
      draw();
      L.grid.refreshItem(id);
    },
    resume: function (id) {
      var d = list.get(id);
      if (!d) return;
      if (!d.url) { L.toast("没有下载地址，无法继续", {error: true}); return; }
      if (!L.send("downloading", M.texts.resume(id, d.name || id, d.url))) return;
      d.state = "running";
      draw();
      L.grid.refreshItem(id);
    },
    // Cancelling removes the item from the shelf's "正在下载" group; the host stops
    // its transfer first.
    cancel: function (id) {
      if (!L.state.signedIn) return;
      if (!L.send("Del", M.texts.itemRef(M.shelfFile(L.state.user), "正在下载", id))) return;
      list.delete(id);
      draw();
      L.grid.refreshItem(id);
    },
    forget: function (id) { list.delete(id); draw(); },
    all: function () { return list; }
  };
  L.downloads = downloads;
})(window.Lumora);
