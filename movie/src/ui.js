// Small helpers of the page: elements built with text only (data never becomes markup),
// toasts, panels that Escape closes, the item menu, and file reading.
window.Lumora = (function () {
  "use strict";
  var L = {model: window.LumoraModel, state: {}};

  // An element; |text| always goes in as text.
  L.h = function (tag, props, children) {
    var e = document.createElement(tag);
    if (props) Object.keys(props).forEach(function (k) {
      var v = props[k];
      if (k === "text") e.textContent = v;
      else if (k === "class") e.className = v;
      else if (k.slice(0, 2) === "on") e.addEventListener(k.slice(2), v);
      else if (v !== undefined && v !== null && v !== false) e.setAttribute(k, v === true ? "" : v);
    });
    (children || []).forEach(function (c) {
      if (c !== null && c !== undefined) e.appendChild(typeof c === "string" ? document.createTextNode(c) : c);
    });
    return e;
  };
  L.$ = function (id) { return document.getElementById(id); };
  // The page's local storage, or null where it may not be used.
  L.storage = function () {
    try { return window.localStorage; } catch (e) { return null; }
  };

  // The host's command, logged for tests in L.sent. The sign-in's text carries the
  // password: "logon" is logged without it (and an OPDS catalogue's addition without its
  // password), so the page keeps no password once sent.
  // Calls |fn| with the next frame, or after 100 ms where the page paints none (hidden).
  L.nextFrame = function (fn) {
    var called = false;
    var once = function () { if (!called) { called = true; fn(); } };
    requestAnimationFrame(once);
    setTimeout(once, 100);
  };
  // Calls |fn| once the next frame is painted (or as nextFrame, for a hidden page).
  L.afterPaint = function (fn) { L.nextFrame(function () { setTimeout(fn, 0); }); };
  // A function that calls |fn| with the next frame, once however often it is called
  // before: many changes together are drawn once.
  L.perFrame = function (fn) {
    var queued = false;
    return function () {
      if (queued) return;
      queued = true;
      requestAnimationFrame(function () { queued = false; fn(); });
    };
  };

  L.sent = [];
  L.send = function (command, args) {
    if (args === null) { L.toast("内容过长或含有“|”，无法发送", {error: true}); return false; }
    L.sent.push([command, command === "logon" ? "" :
                 command === "opds" ? String(args).replace(/\|password=[^|]*$/, "|password=") : args]);
    if (L.sent.length > 200) L.sent.shift();
    lumora.fscommand(command, args);
    return true;
  };

  // Toasts: at most three; errors and offers (opts.stay) stay until closed; hovering pauses.
  L.toast = function (text, opts) {
    opts = opts || {};
    var box = L.$("toasts");
    while (box.children.length >= 3) box.removeChild(box.firstChild);
    var t = L.h("div", {class: "toast" + (opts.error ? " error" : ""), role: opts.error ? "alert" : "status"},
                [L.h("span", {text: text})]);
    if (opts.action) t.appendChild(L.h("button", {type: "button", text: opts.action.label, onclick: function () {
      t.remove(); opts.action.run(); }}));
    t.appendChild(L.h("button", {type: "button", text: "✕", "aria-label": "关闭", onclick: function () {
      t.remove(); if (opts.onclose) opts.onclose(); }}));
    box.appendChild(t);
    if (!opts.error && !opts.stay) {
      var left = 5000, started = Date.now(), timer = null;
      var arm = function () { started = Date.now(); timer = setTimeout(function () { t.remove(); }, left); };
      t.addEventListener("mouseenter", function () { clearTimeout(timer); left -= Date.now() - started; });
      t.addEventListener("mouseleave", arm);
      arm();
    }
    return t;
  };

  // Panels on a stack: Escape closes the topmost. Popovers (the menu and the band's
  // panels) show one at a time, close on a click outside them and their button, and
  // never open under a dialog's scrim; a modal dialog closes them and keeps the focus.
  // A panel's button (opts.owner, or the one that names it in aria-controls) shows it
  // as expanded.
  var open = [];
  function isPopover(id) { return id === "menu" || L.$(id).classList.contains("popover"); }
  function topModal() {
    for (var i = open.length - 1; i >= 0; i--) if (open[i].scrim) return L.$(open[i].id);
    return null;
  }
  L.openPanel = function (id, opts) {
    opts = opts || {};
    var p = L.$(id);
    var popover = isPopover(id);
    if (popover && topModal()) return false;
    L.closePanel(id);
    if (popover || opts.modal) open.filter(function (o) { return o.popover; }).forEach(function (o) { L.closePanel(o.id); });
    var owner = opts.owner || document.querySelector('[aria-controls="' + id + '"]');
    p.hidden = false;
    if (opts.modal) p.setAttribute("aria-modal", "true");
    if (owner) owner.setAttribute("aria-expanded", "true");
    open.push({id: id, scrim: opts.modal, popover: popover, owner: owner, onclose: opts.onclose,
               back: opts.back || document.activeElement});
    L.$("scrim").hidden = !topModal();
    // The first focus: a field, else the primary button, else the first button.
    var f = p.querySelector("input:not([disabled])") || p.querySelector("button.primary:not([disabled])") ||
            p.querySelector("button:not([disabled])");
    if (f && !opts.noFocus) f.focus();
    return true;
  };
  L.closePanel = function (id) {
    for (var i = open.length - 1; i >= 0; i--) if (open[i].id === id) {
      var o = open.splice(i, 1)[0];
      L.$(id).hidden = true;
      if (o.owner) o.owner.setAttribute("aria-expanded", "false");
      if (o.onclose) o.onclose();
      if (o.back && o.back.focus && document.contains(o.back)) o.back.focus();
    }
    L.$("scrim").hidden = !topModal();
  };
  // A press outside a popover and its button closes the popover.
  L.closeOutside = function (target) {
    open.filter(function (o) { return o.popover; }).forEach(function (o) {
      if (!L.$(o.id).contains(target) && !(o.owner && o.owner.contains(target))) L.closePanel(o.id);
    });
  };
  // The focus stays inside the topmost modal dialog: Tab and Shift+Tab go round it, and
  // focus that lands outside it comes back.
  function focusables(p) {
    return Array.prototype.slice.call(p.querySelectorAll("button, input, [tabindex]")).filter(function (e) {
      return !e.disabled && e.tabIndex >= 0 && e.getClientRects().length > 0;
    });
  }
  document.addEventListener("keydown", function (e) {
    var p = e.key === "Tab" && topModal();
    if (!p) return;
    var f = focusables(p), at = f.indexOf(document.activeElement);
    if (!f.length) { e.preventDefault(); return; }
    if (e.shiftKey && at <= 0) { f[f.length - 1].focus(); e.preventDefault(); }
    else if (!e.shiftKey && (at < 0 || at === f.length - 1)) { f[0].focus(); e.preventDefault(); }
  });
  document.addEventListener("focusin", function (e) {
    var p = topModal();
    if (p && !p.contains(e.target)) { var f = focusables(p); if (f.length) f[0].focus(); }
  });
  L.closeTop = function () {
    if (!open.length) return false;
    L.closePanel(open[open.length - 1].id);
    return true;
  };
  L.isOpen = function (id) { return open.some(function (o) { return o.id === id; }); };
  L.togglePanel = function (id, opts) { if (L.isOpen(id)) L.closePanel(id); else L.openPanel(id, opts); };

  // A menu of [label, action, enabled, checked] entries ("-" for a rule) at a point.
  // |opts.owner| is the button that opened it: it shows the menu as expanded and gets
  // the focus back when the menu closes. Entries with a |checked| flag are radio items,
  // and the checked one takes the focus first. The arrow keys, Home and End move
  // between entries; Enter or Space chooses; Escape and Tab close the menu.
  L.menu = function (entries, x, y, opts) {
    opts = opts || {};
    var m = L.$("menu");
    m.textContent = "";
    m.setAttribute("aria-label", opts.label || "菜单");
    var first = null;
    entries.forEach(function (e) {
      if (e === "-") { m.appendChild(L.h("hr", {role: "separator"})); return; }
      var radio = typeof e[3] === "boolean";
      var b = L.h("button", {type: "button", role: radio ? "menuitemradio" : "menuitem", text: e[0],
        disabled: e[2] === false, "aria-checked": radio ? String(e[3]) : null, tabindex: "-1",
        onclick: function () { L.closePanel("menu"); e[1](); }});
      if (radio && e[3] && e[2] !== false) first = b;
      m.appendChild(b);
    });
    var owner = opts.owner || null;
    if (!L.openPanel("menu", {noFocus: true, back: owner, owner: owner, onclose: function () {
      if (owner) owner.setAttribute("aria-expanded", "false");
      L.menuOwner = null;
    }})) return;
    L.menuOwner = owner;
    if (owner) owner.setAttribute("aria-expanded", "true");
    var r = m.getBoundingClientRect();
    m.style.left = Math.max(0, Math.min(x, innerWidth - r.width - 4)) + "px";
    m.style.top = Math.max(0, Math.min(y, innerHeight - r.height - 4)) + "px";
    (first || m.querySelector("button:not([disabled])") || m).focus();
  };
  L.menuKey = function (e) {
    var items = Array.prototype.slice.call(L.$("menu").querySelectorAll("button:not([disabled])"));
    var at = items.indexOf(document.activeElement);
    var next = null;
    if (e.key === "ArrowDown") next = items[(at + 1) % items.length];
    else if (e.key === "ArrowUp") next = items[(at - 1 + items.length) % items.length];
    else if (e.key === "Home") next = items[0];
    else if (e.key === "End") next = items[items.length - 1];
    else if (e.key === "Tab") { L.closePanel("menu"); e.preventDefault(); return; }
    else return;
    e.preventDefault();
    if (next) next.focus();
  };

  // Reads a file of one of the two folders as bytes: resolves to a Uint8Array, or
  // rejects when it is missing or unreadable.
  // The host rewrites these files while the page runs (the shelf after every command,
  // the search results): each read carries a query of its own, which the player ignores,
  // so that the web view's cache never hands back an older copy.
  var reads = 0;
  L.readFile = function (folder, relative) {
    return new Promise(function (resolve, reject) {
      var x = new XMLHttpRequest();
      x.open("GET", L.model.fileUrl(folder, relative) + "?read=" + (++reads));
      x.responseType = "arraybuffer";
      x.timeout = 15000;
      x.onload = function () {
        if ((x.status === 200 || x.status === 0) && x.response) resolve(new Uint8Array(x.response));
        else reject(new Error("status " + x.status));
      };
      x.onerror = x.ontimeout = function () { reject(new Error("unreadable")); };
      x.send();
    });
  };
  // Catalogues are parsed by a worker of their own, one per read, so that a large one
  // never holds the page up; it is made from the text of the model's parts it needs
  // (#model-script) and the worker's, both in this page. Where no worker can run, the page parses them itself.
  // One worker is kept ready, its scripts already run, for the next read.
  var workerUrl = null, spare = null;
  function makeWorker() {
    try {
      if (workerUrl === null) {
        var text = L.$("model-script").textContent + "\n" + L.$("reader-script").textContent;
        workerUrl = URL.createObjectURL(new Blob([text], {type: "text/javascript"}));
      }
      var worker = new Worker(workerUrl);
      // A worker that failed while kept is never handed out.
      worker.onerror = function (e) { e.preventDefault(); worker.broken = true; };
      return worker;
    } catch (e) {
      return null;
    }
  }
  function newWorker() {
    var worker = spare && !spare.broken ? spare : makeWorker();
    spare = worker ? makeWorker() : null;
    return worker;
  }
  function parseHere(bytes) { return L.model.parseCatalogue(L.model.decodeXmlBytes(bytes)); }

  // A catalogue file as {category, groups, items}, or null when it is missing or no
  // catalogue. |opts|, all optional:
  //   onPart(cat)   the catalogue as read so far, while it is being read; the reader
  //                 goes on once the promise it may return settles;
  //   order         the order ("date", "name") the caller shows first: each group gains
  //                 `places` for it, then for the other, and onPlaces(order) is called;
  //   stale()       true once the caller has no more use for this read, which then ends.
  L.readCatalogue = function (folder, relative, opts) {
    opts = opts || {};
    function here() {
      return L.readFile(folder, relative).then(parseHere, function () { return null; });
    }
    var worker = newWorker();
    if (!worker) return here();
    return new Promise(function (resolve) {
      var cat = {category: "", groups: [], items: []};
      var ended = false, placed = 0;
      // The reader waits for each part (and the end) to be taken before it reads on.
      function took() { worker.postMessage({kind: "took"}); }
      function stop(value) {
        worker.terminate();
        if (!ended) { ended = true; resolve(value); }
      }
      worker.onerror = function (e) {
        e.preventDefault();
        // A worker that cannot run (or failed) leaves the reading to the page.
        if (!ended) { worker.terminate(); ended = true; resolve(here()); }
      };
      worker.onmessage = function (e) {
        if (opts.stale && opts.stale()) { stop(null); return; }
        var m = e.data;
        if (m.type === "part") {
          var names = L.model.ITEM_FIELDS, width = names.length;
          m.groups.forEach(function (part) {
            var g = cat.groups[part.index];
            if (!g) g = cat.groups[part.index] = {id: part.id, items: []};
            for (var k = 0; k < part.fields.length; k += width) {
              var item = {group: part.id};
              for (var f = 0; f < width; f++) item[names[f]] = part.fields[k + f];
              g.items.push(item);
              cat.items.push(item);
            }
          });
          var wait = opts.onPart ? opts.onPart(cat) : null;
          if (wait) wait.then(took); else took();
        } else if (m.type === "end") {
          if (!m.ok) { stop(null); return; }
          cat.category = m.category;
          // Groups without items were never named in a part.
          for (var i = 0; i < cat.groups.length; i++) if (!cat.groups[i]) cat.groups[i] = {id: "", items: []};
          ended = true;
          resolve(cat);
          // The places are sorted once the whole catalogue is shown.
          L.afterPaint(took);
        } else if (m.type === "places") {
          m.places.forEach(function (p, i) {
            var g = cat.groups[i];
            if (g) { g.places = g.places || {}; g.places[m.order] = p; }
          });
          if (opts.onPlaces) opts.onPlaces(m.order);
          if (++placed === 2) worker.terminate();
        }
      };
      // Each read its own address, as for readFile: never an older copy from a cache.
      worker.postMessage({url: L.model.fileUrl(folder, relative) + "?read=" + (++reads),
                          order: opts.order || "group"});
    });
  };

  // An OPDS page file of the data folder, read by a worker as catalogues are (a page of
  // thousands of entries never holds the page up): resolves to the page, null when the
  // file is no page, undefined when it cannot be read.
  L.readOpdsPage = function (relative) {
    var url = L.model.fileUrl("data", relative) + "?read=" + (++reads);
    function here() {
      return L.readFile("data", relative).then(function (bytes) {
        return L.model.readOpdsPage(L.model.decodeXmlBytes(bytes));
      }, function () { return undefined; });
    }
    var worker = newWorker();
    if (!worker) return here();
    return new Promise(function (resolve) {
      worker.onerror = function (e) { e.preventDefault(); worker.terminate(); resolve(here()); };
      worker.onmessage = function (e) {
        worker.terminate();
        resolve(e.data.readable ? e.data.page : undefined);
      };
      worker.postMessage({url: url, kind: "opds"});
    });
  };
  return L;
})();
