// OPDS catalogues in the shelf: each catalogue of OpdsCatalogues under 书库 with its own
// name. A view asks the host for a feed page ("opds" open or search, a ticket per
// request), shows 正在加载… until OpdsPage names the page file, then reads it: feeds to
// open as tiles of a group 目录 (their path in a row of crumbs above the grid), books as
// cards of a group 书目. Pages of a listing are asked for one at a time, as the grid's
// end comes near or while the cards do not fill it, and appended.
(function (L) {
  "use strict";
  var M = L.model;
  var h = L.h;
  var T = M.opdsTexts;
  var catalogues = [];
  var pending = new Map();  // ticket -> {view, listing, url, first}
  var tickets = 0;
  var NAV_GROUP = "目录", BOOK_GROUP = "书目";

  function keyOf(id) { return "opds-" + id; }
  function newTicket() { return "p" + Date.now().toString(36) + "-" + (++tickets); }
  function shown(view) { return L.state.view === view; }

  // A fresh listing of the trail's last place: its cards go, its first page is asked for.
  function start(view) {
    var st = view.state;
    var place = st.trail[st.trail.length - 1];
    st.listing = M.newOpdsListing(place.url);
    st.nav = [];
    st.books = [];
    st.error = "";
    st.ended = false;
    ask(view, place.url, place.terms);
    render(view, false);
  }
  // Asks the host for one page of the view's listing.
  function ask(view, url, terms) {
    var st = view.state, listing = st.listing, ticket = newTicket();
    var id = view.opds.id;
    var text = terms !== undefined ? T.search(id, terms, ticket) : T.open(id, url, ticket);
    var first = listing.pages === 0;
    if (!L.send("opds", text)) {
      M.opdsPageFailed(listing, url);
      st.error = "请求无法发送";
      if (first) listing.ended = true;
      render(view, false);
      return;
    }
    pending.set(ticket, {view: view, listing: listing, url: url, first: first});
  }

  // The host's OpdsPage: the page file of a request, or why there is none.
  function onPage(value) {
    var a = M.parseOpdsPage(value);
    var p = a && pending.get(a.ticket);
    if (!p) return;
    pending.delete(a.ticket);
    var current = function () { return p.view.state && p.view.state.listing === p.listing; };
    if (!current()) return;
    if (!a.ok) { failed(p, a.message); return; }
    L.readOpdsPage(a.path).then(function (page) {
      if (!current()) return;
      if (page === undefined) failed(p, "目录页无法读取");
      else if (!page) failed(p, "不是 OPDS 目录");
      else arrived(p, page);
    });
  }
  function failed(p, message) {
    var st = p.view.state;
    M.opdsPageFailed(p.listing, p.url);
    if (p.first) p.listing.ended = true;
    st.error = message;
    st.errorFirst = p.first;
    render(p.view, false);
    if (!p.first && shown(p.view))
      L.toast("下一页加载失败：" + message, {error: true, action: {label: "重试", run: function () { more(p.view); }}});
  }
  function arrived(p, page) {
    var st = p.view.state, id = p.view.opds.id;
    st.error = "";
    page.entries.forEach(function (e) {
      var nav = !!e.nav && !e.acq;
      var card = M.opdsCard(id, e, nav ? NAV_GROUP : BOOK_GROUP);
      (nav ? st.nav : st.books).push(card);
    });
    M.opdsPageArrived(p.listing, page.next);
    render(p.view, !p.first);
  }
  // The next page of the view's listing, when there is one not asked for yet.
  function more(view) {
    var st = view.state;
    if (!st || !st.listing) return;
    if (st.error && !st.errorFirst) st.error = "";
    var url = M.opdsNextToAsk(st.listing);
    if (url) ask(view, url);
  }
  // The grid's end is near (two views away: the page comes while the cards before it
  // are still being read), or its cards do not fill it: the next page is asked for.
  function fillCheck() {
    var view = L.state.view;
    if (!view || !view.opds || !view.state || view.state.error) return;
    var s = L.$("scroller");
    if (s.hidden) return;
    if (s.scrollTop + 3 * s.clientHeight >= s.scrollHeight) more(view);
  }

  // The crumbs of the view's trail; drawn again only when the trail changed (a page more
  // of the same listing leaves them as they are).
  var crumbsShown = "";
  function drawCrumbs(view) {
    var box = L.$("crumbs");
    var trail = view && view.opds && view.state ? view.state.trail : [];
    var key = (view ? view.key : "") + "\u0001" + trail.map(function (p) { return p.title; }).join("\u0001");
    if (key === crumbsShown && !box.hidden === trail.length >= 2) return;
    crumbsShown = key;
    box.textContent = "";
    box.hidden = trail.length < 2;
    trail.forEach(function (place, i) {
      if (i) box.appendChild(h("span", {class: "sep", "aria-hidden": "true", text: "›"}));
      if (i === trail.length - 1) { box.appendChild(h("span", {"aria-current": "location", text: place.title})); return; }
      box.appendChild(h("button", {type: "button", class: "link", text: place.title, onclick: function () {
        view.state.trail = trail.slice(0, i + 1);
        start(view);
      }}));
    });
  }

  // Shows the view's listing as it is now; |growing|: its cards are those shown before
  // with a page more.
  function render(view, growing) {
    if (!shown(view)) return;
    var st = view.state, listing = st.listing;
    drawCrumbs(view);
    var busy = listing.pending;
    L.$("scroller").setAttribute("aria-busy", String(busy));
    var count = st.nav.length + st.books.length;
    if (!count) {
      L.$("view-count").textContent = "";
      if (st.error) L.emptyState("⚠", "加载失败", st.error, "重试", function () { start(view); });
      else if (busy) L.emptyState("◌", "正在加载…", "", null);
      else L.emptyState("◎", "这里还没有内容", "这个目录是空的。", null);
      L.$("scroller").setAttribute("aria-busy", String(busy));
      return;
    }
    L.$("empty").hidden = true;
    L.$("view-count").textContent = "共 " + count + " 项" + (listing.ended ? "" : "…");
    var groups = [];
    if (st.nav.length) groups.push({id: NAV_GROUP, items: st.nav});
    if (st.books.length) groups.push({id: BOOK_GROUP, items: st.books});
    L.grid.setGroups(groups, view, growing);
    requestAnimationFrame(fillCheck);
  }

  // The catalogues' entries in the navigation, under 书库 after its categories.
  function drawNav() {
    document.querySelectorAll("#nav button.nav-opds").forEach(function (b) { b.remove(); });
    var after = document.querySelector('#nav button[data-view="' + M.CATEGORIES[M.CATEGORIES.length - 1].key + '"]');
    if (!after) return;
    catalogues.forEach(function (c) {
      var b = L.navButton(L.views[keyOf(c.id)]);
      b.classList.add("nav-opds");
      after.after(b);
      after = b;
    });
    var v = L.state.view;
    if (v) document.querySelectorAll("#nav button[data-view]").forEach(function (b) {
      if (b.dataset.view === v.key) b.setAttribute("aria-current", "page");
    });
  }

  var opds = {
    init: function () {
      L.$("scroller").addEventListener("scroll", function () { requestAnimationFrame(fillCheck); }, {passive: true});
      window.addEventListener("resize", function () { requestAnimationFrame(fillCheck); });
      if (lumora.get("OpdsCatalogues")) opds.catalogues(lumora.get("OpdsCatalogues"));
    },
    // OpdsCatalogues: the views follow the list; a view of a catalogue removed goes.
    catalogues: function (value) {
      catalogues = M.parseOpdsCatalogues(value);
      var keys = new Set(catalogues.map(function (c) { return keyOf(c.id); }));
      Object.keys(L.views).forEach(function (k) { if (L.views[k].opds && !keys.has(k)) delete L.views[k]; });
      catalogues.forEach(function (c) {
        var v = L.views[keyOf(c.id)];
        if (!v) v = L.views[keyOf(c.id)] = {key: keyOf(c.id), glyph: "◎", folder: "data"};
        // A catalogue whose address changed is listed afresh.
        if (v.opds && v.opds.url !== c.url) v.state = null;
        v.title = c.name;
        v.opds = c;
      });
      drawNav();
      if (L.settings.opdsListed) L.settings.opdsListed(catalogues);
      var now = L.state.view;
      if (now && now.opds && !keys.has(now.key)) L.showView("maga");
    },
    list: function () { return catalogues; },
    page: onPage,
    // Shows an OPDS view: its listing as it was, or its catalogue's first page.
    show: function (view) {
      L.$("search-box").placeholder = "搜索 " + view.title;
      if (!view.state) {
        view.state = {trail: [{title: view.title, url: ""}]};
        start(view);
      } else render(view, false);
    },
    // Leaves an OPDS view (or enters another view): the crumbs go.
    left: function () { L.$("crumbs").hidden = true; },
    // A feed entry opened: its feed becomes the view's place.
    openNav: function (item) {
      var view = L.state.view;
      if (!view || !view.opds || !view.state) return;
      view.state.trail.push({title: item.name, url: item.opds.nav});
      start(view);
      L.grid.focus();
    },
    // The search box of an OPDS view: the catalogue's search, a place of its own.
    search: function (terms) {
      var view = L.state.view;
      if (!view || !view.opds || !view.state) return;
      view.state.trail = view.state.trail.slice(0, 1).concat([{title: "搜索“" + terms + "”", terms: terms}]);
      start(view);
    }
  };
  L.opds = opds;
})(window.Lumora);
