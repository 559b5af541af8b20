// The views of the shelf: the five catalogues, the local files, the personal shelf and
// the search results. Each reads its catalogue file and hands its groups to the grid,
// or shows a friendly empty state.
(function (L) {
  "use strict";
  var M = L.model;
  var h = L.h;
  var views = {};
  M.CATEGORIES.forEach(function (c, i) {
    views[c.key] = {key: c.key, title: c.label, glyph: c.glyph, folder: "data", file: c.file, key1: i + 1,
                    category: c.key};
  });
  // Audio and 杂项 (software) covers are square.
  views.audio.square = views.mics.square = true;
  views.local = {key: "local", title: "本地文件", glyph: "▤", folder: "data", file: M.LOCAL.file, local: true};
  var SHELF = M.SHELF;
  Object.keys(SHELF).forEach(function (k) {
    views[k] = {key: k, title: SHELF[k], glyph: {fav: "★", bought: "¥", done: "✓", read: "◉", running: "↓"}[k],
                folder: "current", shelfGroup: SHELF[k]};
  });
  views.search = {key: "search", title: "搜索结果", glyph: "⌕", folder: "current", file: M.SEARCH_FILE};
  L.views = views;
  L.SHELF = SHELF;

  L.state.view = null;
  var generation = 0;

  // The catalogue name the host resolves for an item of the view.
  L.catalogueOf = function (view) {
    return view.shelfGroup ? M.shelfFile(L.state.user) : view.file;
  };

  function empty(icon, title, line, button, run) {
    L.state.preparing = false;
    L.$("empty-bar").hidden = true;
    L.$("empty-icon").textContent = icon;
    L.$("empty-title").textContent = title;
    L.$("empty-line").textContent = line;
    var b = L.$("empty-button");
    b.hidden = !button;
    b.textContent = button || "";
    b.onclick = run || null;
    L.$("empty").hidden = false;
    L.$("scroller").setAttribute("aria-busy", "false");
    L.grid.setGroups([], null);
  }
  L.emptyState = empty;

  // The first run: while the updater installs the catalogues a view that has none yet
  // shows the shelf being prepared, with the update's progress; a failed update says so.
  function firstRun() {
    return M.firstRunState(lumora.get("FirstRun"), lumora.get("UpdatedFile"),
                           lumora.get("TotalUpdateFile"), lumora.get("UpdateResult"));
  }
  function showFirstRun(state, key) {
    if (state.kind === "failed") {
      empty("⚠", "书架准备失败", state.line, "重试", function () { L.showView(key); });
      return;
    }
    empty("◌", "正在准备书架", state.line, null);
    var bar = L.$("empty-bar");
    bar.hidden = false;
    bar.classList.toggle("indeterminate", state.percent < 0);
    if (state.percent >= 0) bar.setAttribute("aria-valuenow", String(state.percent));
    else bar.removeAttribute("aria-valuenow");
    bar.firstChild.style.width = state.percent < 0 ? "" : state.percent + "%";
    L.state.preparing = true;
  }
  // The update moved on: the preparing view follows it, and once the update is over
  // the view reads its catalogue again.
  L.updateProgressed = function () {
    if (!L.state.preparing || !L.state.view) return;
    var state = firstRun();
    if (state && state.kind === "preparing") showFirstRun(state, L.state.view.key);
    else L.refreshView();
  };

  L.showView = function (key, opts) {
    var view = views[key];
    if (!view) return Promise.resolve();
    var again = L.state.view === view;
    L.state.view = view;
    var mine = ++generation;
    L.$("view-title").textContent = key === "search" && L.state.lastKeyword ?
      "搜索“" + L.state.lastKeyword + "”" : view.title;
    L.$("btn-clear").hidden = key !== "search";
    // A view read again keeps its count until the new one is known.
    if (!again) L.$("view-count").textContent = "";
    L.$("btn-add").hidden = !view.local;
    // In a local view the search box filters as the user types (Enter still searches).
    L.$("search-box").placeholder = view.local ? "筛选本地文件，回车搜索书库" : "搜索杂志、图书、音频…  /";
    document.querySelectorAll("#nav button[data-view]").forEach(function (b) {
      if (b.dataset.view === key) b.setAttribute("aria-current", "page"); else b.removeAttribute("aria-current");
    });
    if (!(opts && opts.keepDrawer)) L.item.closeDrawer();
    // An OPDS catalogue's search is its own: the categories' chips do not apply to it.
    L.$("chips").hidden = !!view.opds;
    if (view.opds) { L.opds.show(view); return Promise.resolve(); }
    L.opds.left();
    if (view.shelfGroup && !L.state.signedIn) {
      L.$("view-count").textContent = "";
      empty("◇", "登录后查看你的书架", "收藏、已购、下载和阅读记录都在这里。", "登录", L.account.open);
      return Promise.resolve();
    }
    var file = view.shelfGroup ? M.shelfFile(L.state.user) : view.file;
    if (key === "search" && opts && opts.pending) {
      L.$("view-count").textContent = "";
      empty("…", "正在搜索“" + opts.pending + "”…", "", null);
      return Promise.resolve();
    }
    if (key === "search" && opts && opts.failed) {
      L.$("view-count").textContent = "";
      empty("⚠", "搜索失败", "搜索结果无法保存：磁盘已满或文件无法写入。", "重试", L.search.retry);
      return Promise.resolve();
    }
    L.$("empty").hidden = true;
    // A large catalogue is shown part by part as it is read, in the file's order; a view in another order waits for the reader's places of its items.
    var order = M.storedOrder(L.storage(), view.key);
    var shownParts = false, latest = null, shownAt = 0, showing = null;
    function showPart() {
      shownAt = performance.now();
      if (mine !== generation || !latest || latest.done) return;
      var groups = shownGroups(view, latest);
      var count = groups.reduce(function (n, g) { return n + g.items.length; }, 0);
      if (!count) return;
      L.$("empty").hidden = true;
      L.$("view-count").textContent = "已读 " + count + " 项…";
      L.grid.setGroups(groups, view, shownParts);
      shownParts = true;
    }
    var waitingFor = null;  // the order whose places the view waits for
    // Readers (and the view's tests) learn that the grid is still being filled.
    var grid = L.$("scroller");
    grid.setAttribute("aria-busy", "true");
    return L.readCatalogue(view.folder, file, {
      order: order,
      stale: function () { return mine !== generation; },
      // (the shelf, search results and the filtered local files are shown whole).
      onPart: order === "group" && !view.shelfGroup && !view.local && key !== "search" ? function (cat) {
        latest = cat;
        // The first part at once; the later ones together, a few times a second (each
        // showing lays out what the grid gained). While a part is shown and painted the
        // reader waits for it, so that the two never compete for a small machine's
        // processors; the parts in between are taken at once.
        if (showing) return showing;
        if (shownParts && performance.now() - shownAt < 150) return null;
        showing = new Promise(function (taken) {
          var show = function () { showPart(); L.afterPaint(function () { showing = null; taken(); }); };
          if (!shownParts) show(); else L.nextFrame(show);
        });
        return showing;
      } : null,
      onPlaces: function (placed) {
        if (mine === generation && placed === waitingFor) {
          waitingFor = null;
          showWhole();
          grid.setAttribute("aria-busy", "false");
        }
      }
    }).then(function (cat) {
      if (mine !== generation || !cat || key !== "search") return cat;
      // Search results in groups by the catalogue they come from, read for the purpose.
      return categorised(cat).then(function (groups) { cat.groups = groups; return cat; });
    }).then(function (cat) {
      if (mine !== generation) return;
      if (latest) latest.done = true;
      finish(cat);
      if (!waitingFor) grid.setAttribute("aria-busy", "false");
    });
    function showWhole() {
      L.$("empty").hidden = true;
      L.grid.setGroups(wholeGroups, view, shownParts);
      shownParts = true;
    }
    var wholeGroups = null;
    function finish(cat) {
      if (view.shelfGroup && cat) L.account.noteShelf(cat);
      if (!cat) {
        L.$("view-count").textContent = "";
        // Before the host named the data folder nothing can be read yet: no failure.
        if (!lumora.get("MyAppDataDir")) { empty("◌", "正在打开书架…", "", null); return; }
        var first = view.folder === "data" ? firstRun() : null;
        if (first) { showFirstRun(first, key); return; }
        empty("⚠", "加载失败", "目录文件不存在或无法读取。", "重试", function () { L.showView(key); });
        return;
      }
      var groups = withoutRemoved(shownGroups(view, cat)).filter(function (g) { return g.items.length > 0; });
      var all = groups;
      if (view.local) groups = M.filterGroups(groups, L.$("search-box").value);
      var count = groups.reduce(function (n, g) { return n + g.items.length; }, 0);
      L.$("view-count").textContent = "共 " + count + " 项";
      if (!count) {
        if (view.local && all.length) empty("⌕", "没有匹配“" + L.$("search-box").value.trim() + "”的本地文件",
                                            "换个词试试，或清空搜索框。", "清空", L.search.clearFilter);
        else if (view.local) empty("▤", "还没有本地文件", "把文件拖进窗口，或 添加文件", "添加文件", L.addFiles);
        else if (key === "fav") empty("☆", "还没有收藏", "在封面上点 ☆ 收藏", null);
        else if (key === "search") empty("⌕", "没有找到“" + (L.state.lastKeyword || "") + "”", "试试别的关键词，或选上更多分类。",
                                         "搜索全部分类", L.search.widen);
        else empty(view.glyph, "这里还没有内容", "稍后再来看看。", null);
        return;
      }
      L.$("empty").hidden = true;
      wholeGroups = groups;
      // Sorting a large catalogue would hold the page up: its places come from the
      // reader, and the view says what it waits for until they are there.
      var sorted = order === "group" || count < 5000 ||
        groups.every(function (g) { return g.places && g.places[order]; });
      if (sorted) { showWhole(); return; }
      waitingFor = order;
      empty("◌", "正在排序 " + count + " 项…", "", null);
      grid.setAttribute("aria-busy", "true");
      L.$("view-count").textContent = "共 " + count + " 项";
    }
  };
  // The groups of |cat| that |view| shows: its own group on the shelf, none empty.
  function shownGroups(view, cat) {
    return cat.groups.filter(function (g) {
      return g && g.items.length > 0 && (!view.shelfGroup || g.id === view.shelfGroup);
    });
  }
  // The search results' groups: the categories searched, in their order, from their own
  // catalogues (the results file keeps all in one group).
  function categorised(cat) {
    var chosen = L.search.chosen();
    var sources = M.CATEGORIES.concat([M.LOCAL]).filter(function (c) { return chosen.indexOf(c.token) >= 0; });
    return Promise.all(sources.map(function (c) { return L.readCatalogue("data", c.file); })).then(function (cats) {
      L.state.searchCategory = new Map();
      var list = sources.map(function (c, i) {
        var ids = new Set((cats[i] && cats[i].items || []).map(function (it) { return it.id; }));
        return {label: c.label, key: c.key, ids: ids};
      });
      var groups = M.groupByCategory(cat.items, list);
      groups.forEach(function (g) {
        var s = list.filter(function (x) { return x.label === g.id; })[0];
        if (s) g.items.forEach(function (it) { L.state.searchCategory.set(it.id, s.key); });
      });
      return groups;
    });
  }
  // The items whose removal waits for its undo are shown no more.
  function withoutRemoved(groups) {
    return groups.map(function (g) {
      var items = g.items.filter(function (it) { return !L.item.removing(it.id); });
      if (items.length === g.items.length) return g;
      var copy = {};
      Object.keys(g).forEach(function (k) { copy[k] = g[k]; });
      copy.items = items;
      return copy;
    });
  }

  L.refreshView = function () { if (L.state.view) return L.showView(L.state.view.key, {keepDrawer: true}); };

  L.addFiles = function () { L.send("openfile", ""); };

  // A button of the side navigation that shows view |v|.
  L.navButton = function (v, badgeId) {
    return h("button", {type: "button", "data-view": v.key, title: v.title,
      onclick: function () { L.showView(v.key); }},
      [h("span", {"aria-hidden": "true", text: v.glyph}), h("span", {text: v.title}),
       badgeId ? h("span", {class: "badge", id: badgeId}) : null]);
  };

  // The side navigation.
  L.buildNav = function () {
    var nav = L.$("nav");
    nav.textContent = "";
    var add = function (v, badgeId) { nav.appendChild(L.navButton(v, badgeId)); };
    nav.appendChild(h("h3", {text: "书库"}));
    M.CATEGORIES.forEach(function (c) { add(views[c.key]); });
    nav.appendChild(h("h3", {text: "我的"}));
    ["local", "fav", "bought", "done", "read", "running"].forEach(function (k) {
      add(views[k], k === "running" ? "running-count" : null);
    });
  };
})(window.Lumora);
