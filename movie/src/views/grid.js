// The grid of covers: sections flattened into rows of fixed pitch in one scroller, only
// the rows on screen (and two more each side) made into elements, one update per frame.
// One Tab stop; the arrow keys move the active card, Space selects it. The view's order
// (remembered per view) sorts the items inside their groups; a jump scrolls to a group's
// section. Which items are selected L.batch knows; the cards only show it.
(function (L) {
  "use strict";
  var M = L.model;
  var h = L.h;
  var scroller, spacer;
  var source = [], groups = [], view = null, rows = [], flat = [], columns = 1, pitch = 0, cardW = 0, coverH = 0;
  var laid = null;  // the rows' layout, which a growing catalogue extends
  var shownKey = "";
  var order = "group";
  // An item's index in flat is kept on the item itself, under a key of the grid's own:
  // a map of every item, made again at every change, would cost a large catalogue dearly.
  var AT = Symbol("at");
  var shownFlat = flat;
  function placeOf(item) { return item && item[AT] !== undefined && shownFlat[item[AT]] === item ? item[AT] : -1; }
  var collapsed = {};
  var active = 0;
  var shown = new Map();  // row index -> element
  var size = "M";

  function sizeChosen() {
    try { return localStorage.getItem("lumora.cover") || ""; } catch (e) { return ""; }
  }

  var grid = {
    init: function () {
      scroller = L.$("scroller");
      spacer = L.$("spacer");
      scroller.addEventListener("scroll", grid.schedule, {passive: true});
      scroller.addEventListener("keydown", onKey);
      // The skip link past the band leads to the grid (or to what an empty view offers).
      document.querySelector("a.skip").addEventListener("click", function (e) {
        e.preventDefault();
        if (scroller.hidden) L.$("empty-button").focus(); else grid.focus();
      });
      document.querySelectorAll("#sizes button").forEach(function (b) {
        b.addEventListener("click", function () {
          try { localStorage.setItem("lumora.cover", b.dataset.size); } catch (e) { /* private */ }
          grid.relayout();
        });
      });
    },
    // |growing|: the groups are those shown before with more items read since; the rows
    // that did not change stay as they are.
    setGroups: function (g, v, growing) {
      source = g;
      view = v;
      // An empty view has no grid: a grid without rows would be no grid to a reader.
      scroller.hidden = !g.length;
      // An empty view shows no grid, but its buttons still name its order.
      var shownView = v || L.state.view;
      if (shownView) order = M.storedOrder(L.storage(), shownView.key);
      var keep = flat[active];
      var same = v === grid.lastView;
      arrange(!!growing && same);
      L.batch.viewChanged(same);
      if (v !== grid.lastView) { active = 0; scroller.scrollTop = 0; }
      else if (placeOf(keep) >= 0) active = placeOf(keep);
      active = Math.min(active, Math.max(0, flat.length - 1));
      grid.lastView = v;
      grid.relayout(!!growing && same);
      grid.onchange();
    },
    // Shows the view in |key|'s order ("group", "date", "name"), remembered for the view;
    // the grid starts again at its top.
    setOrder: function (key) {
      if (!M.isOrder(key)) return;
      order = key;
      var s = L.storage();
      try { if (s && view) s.setItem(M.orderStorageKey(view.key), key); } catch (e) { /* full or private */ }
      arrange();
      active = 0;
      scroller.scrollTop = 0;
      grid.relayout();
      grid.onchange();
    },
    order: function () { return order; },
    // The groups a jump can go to: [{group, count, top}], none when there is one group.
    sections: function () { return M.sectionsOf(rows); },
    // Scrolls |group|'s section to the top (opening it when it was folded) and makes its
    // first item the active card.
    jumpTo: function (group) {
      if (collapsed[group]) { collapsed[group] = false; grid.relayout(); }
      var top = M.jumpTop(rows, group, L.state.layout.pad);
      if (top === null) return false;
      scroller.scrollTop = top;
      var first = null;
      for (var i = 0; i < groups.length && !first; i++) if (groups[i].id === group) first = groups[i].items[0];
      if (placeOf(first) >= 0) active = placeOf(first);
      grid.update();
      markActive();
      return true;
    },
    onchange: function () {},
    relayout: function (keepRows) {
      size = sizeChosen() || L.state.layout.cover;
      document.querySelectorAll("#sizes button").forEach(function (b) {
        b.setAttribute("aria-pressed", String(b.dataset.size === size));
      });
      var lay = L.state.layout;
      var width = scroller.clientWidth - 2 * lay.pad;
      var base = M.COVERS[size];
      columns = M.columnsFor(width, base.w, lay.gap);
      cardW = Math.floor((width - (columns - 1) * lay.gap) / columns);
      // Audio and 杂项 covers are square frames; the others 3:4.
      coverH = view && view.square ? cardW : Math.round(cardW * base.h / base.w);
      pitch = coverH + 6 + 40 + 24 + lay.gap;
      document.documentElement.style.setProperty("--card-w", cardW + "px");
      document.documentElement.style.setProperty("--cover-h", coverH + "px");
      var gs = groups.map(function (g) { return {id: g.id, items: g.items, collapsed: !!collapsed[g.id]}; });
      var key = columns + " " + cardW + " " + coverH;
      // A catalogue growing as it is read lays out only the rows of what it gained.
      var f = (keepRows && key === shownKey && M.growRows(laid, gs, columns, pitch, 40)) ||
              M.flattenRows(gs, columns, pitch, 40);
      laid = f;
      var before = rows;
      rows = f.rows;
      spacer.style.height = (f.height + lay.pad) + "px";
      scroller.setAttribute("aria-rowcount", String(rows.length));
      // While a catalogue grows as it is read, rows that read the same at the same place
      // stay as they are, covers and all; otherwise (and with a new card size) every row
      // is made again, with what its cards show now.
      shown.forEach(function (el, i) {
        if (keepRows && key === shownKey && sameRow(before[i], rows[i], el)) return;
        recycle(el);
        shown.delete(i);
      });
      shownKey = key;
      grid.update();
      markActive();
    },
    schedule: L.perFrame(function () { grid.update(); }),
    update: function () {
      L.covers.scrolled(scroller.scrollTop);
      // A grid made afresh makes the rows in view first and those around them with the
      // next frame, so that its first cards come a frame sooner.
      var fresh = !shown.size;
      var range = M.visibleRows(rows, scroller.scrollTop - L.state.layout.pad, scroller.clientHeight, fresh ? 0 : 2);
      if (fresh && range.last > range.first) grid.schedule();
      shown.forEach(function (el, i) {
        if (i < range.first || i >= range.last) {
          recycle(el);
          shown.delete(i);
        }
      });
      for (var i = range.first; i < range.last; i++) if (!shown.has(i)) {
        var el = makeRow(rows[i], i);
        shown.set(i, el);
        spacer.appendChild(el);
      }
      activeDescendant();
    },
    // Shows the state of one item's cards (badges, progress, action) again with the
    // next frame: many changes together (downloads starting and ending) touch each card
    // once.
    refreshItem: function (id) {
      stale.add(id);
      paintSoon();
    },
    // Every card shown shows its state again (a download state of many items changed),
    // with the next frame.
    repaint: function () {
      staleAll = true;
      paintSoon();
    },
    // The cards shown say again whether their item is selected.
    markSelected: function () {
      spacer.querySelectorAll(".card").forEach(function (c) { showSelected(c, c.item); });
    },
    activeItem: function () { return flat[active] || null; },
    items: function () { return flat; },
    focus: function () { scroller.focus(); }
  };

  // The items whose cards show their state again, or all of them, with the next frame.
  var stale = new Set(), staleAll = false;
  var paintSoon = L.perFrame(function () {
    var all = staleAll, ids = stale;
    staleAll = false;
    stale = new Set();
    shown.forEach(function (el, i) {
      if (rows[i].kind !== "cards") return;
      Array.prototype.forEach.call(el.children, function (c) {
        if (c.item && (all || ids.has(c.item.id))) showState(c, c.item);
      });
    });
  });

  // True when |el|, made for row |a|, shows row |b| as it would be made now.
  function sameRow(a, b, el) {
    if (!a || !b || a.kind !== b.kind || a.top !== b.top) return false;
    if (a.kind === "header") return a.group === b.group && a.count === b.count && a.collapsed === b.collapsed;
    if (a.items.length !== b.items.length || el.dataset.base !== String(placeOf(b.items[0]))) return false;
    for (var i = 0; i < a.items.length; i++) if (a.items[i] !== b.items[i]) return false;
    return true;
  }

  function makeRow(row, index) {
    var top = row.top + L.state.layout.pad;
    if (row.kind === "header") {
      // A section header is a row of its own: one header cell across the columns.
      return h("div", {class: "headrow", role: "row", "aria-rowindex": String(index + 1),
                       style: "transform: translateY(" + top + "px)"},
        [h("div", {role: "rowheader", "aria-colspan": String(columns)}, [
          h("button", {type: "button", class: "sechead", "aria-expanded": String(!row.collapsed), tabindex: "-1",
            onclick: function () { collapsed[row.group] = !collapsed[row.group]; grid.relayout(); }},
            [h("span", {text: (row.collapsed ? "▸ " : "▾ ") + row.group}), h("small", {text: "共 " + row.count + " 项"})])])]);
    }
    // Card rows and their cards are made once and filled again as the grid scrolls: a
    // grid flung through a large catalogue makes no new elements after its first screens.
    var el = spareRows.pop() || h("div", {class: "row", role: "row"});
    el.setAttribute("aria-rowindex", String(index + 1));
    el.style.transform = "translateY(" + top + "px)";
    var base = placeOf(row.items[0]);
    el.dataset.base = String(base);
    row.items.forEach(function (item, k) { el.appendChild(fill(spareCards.pop() || newCard(), item, base + k)); });
    return el;
  }

  var spareRows = [], spareCards = [];
  // Takes a row out of the grid; its cards and itself wait to be filled again.
  function recycle(el) {
    L.covers.release(el);
    el.remove();
    if (!el.classList.contains("row")) return;
    while (el.firstChild) spareCards.push(el.removeChild(el.firstChild));
    spareRows.push(el);
  }

  function cardOf(e) { return e.target.closest(".card"); }
  // A card's lasting parts; what it shows is set by fill. Its handlers find the item of
  // the moment on the card itself.
  function newCard() {
    var c = h("div", {class: "card", role: "gridcell",
      // Ctrl+click and Shift+click select; a plain click opens the item.
      onclick: function (e) {
        active = c.index;
        markActive();
        if (!L.batch.click(c.index, e)) L.item.openDrawer(c.item);
      },
      oncontextmenu: function (e) { e.preventDefault(); active = c.index; markActive(); L.item.menuAt(c.item, e.clientX, e.clientY); }}, [
      h("span", {class: "check", "aria-hidden": "true", text: "✓"}),
      h("div", {class: "cover"}, [
        h("div", {class: "tile"}, [h("span", {class: "ttext"}), h("span", {class: "glyph"})]),
        h("button", {type: "button", class: "fav", tabindex: "-1", "aria-label": "收藏",
          onclick: function (e) { e.stopPropagation(); var it = cardOf(e).item; if (!L.account.isFav(it.id)) L.item.favourite(it); }})]),
      // The ⋯ menu sits beside the title, so that the meta row holds the date whole.
      h("div", {class: "chead"}, [h("div", {class: "ctitle"}),
        h("button", {type: "button", class: "more", text: "⋯", tabindex: "-1", "aria-label": "更多",
          onclick: function (e) { e.stopPropagation(); var r = e.target.getBoundingClientRect(); L.item.menuAt(cardOf(e).item, r.left, r.bottom); }})]),
      h("div", {class: "meta"}, [h("span", {class: "date"}), h("span", {class: "price"})])]);
    c.parts = {cover: c.querySelector(".cover"), tile: c.querySelector(".tile"), fav: c.querySelector(".fav"),
               title: c.querySelector(".ctitle"), date: c.querySelector(".date"), price: c.querySelector(".price")};
    return c;
  }

  // Shows |item| on card |c| at |index| of the grid.
  function fill(c, item, index) {
    c.item = item;
    c.index = index;
    c.className = "card" + (index === active ? " active" : "");
    showSelected(c, item);
    c.title = item.name;
    c.dataset.id = item.id;
    c.id = "card-" + index;
    var cover = c.parts.cover, tileEl = c.parts.tile, favEl = c.parts.fav;
    // What the last item left on the cover (its picture, badges, progress) goes.
    for (var k = cover.childNodes.length - 1; k >= 0; k--) {
      var part = cover.childNodes[k];
      if (part !== tileEl && part !== favEl) part.remove();
    }
    cover.className = "cover";
    delete cover.dataset.cover;
    delete cover.dataset.picture;
    delete cover.dataset.fell;
    // The generated tile stands for the picture until it is drawn over it, and for good
    // when there is none.
    // Dark enough for its white title to read (4.5:1) whatever the hue.
    tileEl.style.background = "hsl(" + M.tileHue(item.id) + ", 38%, 34%)";
    tileEl.firstChild.textContent = item.name || item.id;
    tileEl.lastChild.textContent = L.item.glyphOf(item);
    var url = M.coverUrl(item.photo);
    if (url) L.covers.load(cover, url, cardW, coverH);
    c.parts.title.textContent = item.name || item.id;
    c.parts.date.textContent = item.date;
    showState(c, item);
    return c;
  }

  // Shows on card |c| what changes of |item| while it stays on the card: its favourite,
  // its badges, its download's progress or failure, its main action and its price. The
  // picture stays as it is, and so do the progress and the main action's button while
  // they show the same kind of thing, so that a button is never taken from under the
  // pointer as a download moves on.
  function showState(c, item) {
    var cover = c.parts.cover, favEl = c.parts.fav;
    var part = function (cls) { return cover.querySelector(":scope > ." + cls); };
    // Two badges at most: ★ (or the ☆ that favourites, on hover) top right; ✓ downloaded,
    // else the folded corner of a read item, bottom right.
    var fav = L.account.isFav(item.id);
    favEl.className = "fav" + (fav ? " on" : "");
    favEl.setAttribute("aria-pressed", String(fav));
    favEl.title = fav ? "已收藏" : "收藏";
    favEl.textContent = fav ? "★" : "☆";
    favEl.hidden = !!item.opds;
    var badge = L.account.isDone(item.id) ? "badge-done" : L.account.isRead(item.id) ? "badge-read" : "";
    ["badge-done", "badge-read"].forEach(function (cls) { var p = part(cls); if (p && cls !== badge) p.remove(); });
    if (badge && !part(badge))
      cover.insertBefore(badge === "badge-done" ? h("span", {class: "badge-done", role: "img", "aria-label": "已下载", text: "✓"})
                                                : h("span", {class: "badge-read", role: "img", "aria-label": "已阅读"}),
                         part("cfail") || part("cprog") || part("main-action"));
    var dl = L.downloads.get(item.id);
    var failed = !!dl && dl.state === "failed";
    var moving = !!dl && !failed && dl.state !== "done";
    var fail = part("cfail"), prog = part("cprog"), mainEl = part("main-action");
    if (fail) fail.remove();
    if (prog && !moving) prog.remove();
    if (failed) {
      // The host's message, and 重试 at hand without hovering.
      cover.insertBefore(h("div", {class: "cfail", title: dl.message}, [
        h("span", {class: "ftitle", text: "! 下载失败"}),
        h("button", {type: "button", class: "retry", tabindex: "-1", text: "重试",
          onclick: function (e) { e.stopPropagation(); L.downloads.resume(item.id); }}),
        h("span", {class: "fmsg", text: dl.message})]), mainEl);
    } else if (moving) {
      if (!prog) {
        prog = h("div", {class: "cprog"}, [L.progressBar(dl), h("span", {class: "pill"})]);
        cover.insertBefore(prog, mainEl);
      } else L.showProgress(prog.firstChild, dl);
      prog.lastChild.textContent = dl.state === "paused" ? "⏸ " + Math.max(0, dl.percent) + "%" :
                                   dl.state === "waiting" || dl.percent < 0 ? "等待中" : dl.percent + "%";
    }
    var main = failed ? null : L.item.mainAction(item);
    if (mainEl && (!main || mainEl.textContent !== main[0])) { mainEl.remove(); mainEl = null; }
    if (main) {
      if (!mainEl) {
        mainEl = h("button", {type: "button", class: "main-action primary", tabindex: "-1", text: main[0]});
        cover.appendChild(mainEl);
      }
      mainEl.onclick = function (e) { e.stopPropagation(); main[1](); };
    }
    // An OPDS book shows its formats where a vendor's item shows its price.
    var price = item.opds ? {text: item.opds.formats, kind: "formats"} : M.priceLabel(item, L.account.isBought(item.id));
    c.parts.price.hidden = !!(view && view.local) || !price.text;
    c.parts.price.className = "price " + price.kind;
    c.parts.price.textContent = price.text;
  }

  function showSelected(c, item) {
    var on = !!item && L.batch.has(item.id);
    c.classList.toggle("selected", on);
    c.setAttribute("aria-selected", String(on));
  }

  // The shown groups: the view's groups in the chosen order, and every item's place.
  // |growing|: the groups are those arranged last, read further (items added to the last
  // one's end, maybe groups after it); only the items they gained are placed then.
  var arranged = [];  // per group arranged: {id, items, count, at} (at: its first place)
  function arrange(growing) {
    groups = M.orderGroups(source, order);
    if (!(growing && order === "group" && M.grewFrom(arranged, groups))) { flat = []; arranged = []; }
    else {
      // The last group's items from where it was, then the groups that came after it.
      var last = arranged[arranged.length - 1];
      flat = flat.slice();
      place(last.items, last.count);
      last.count = last.items.length;
    }
    for (var i = arranged.length; i < groups.length; i++) {
      arranged.push({id: groups[i].id, items: groups[i].items, count: groups[i].items.length, at: flat.length});
      place(groups[i].items, 0);
    }
    shownFlat = flat;
  }
  function place(items, from) {
    for (var j = from; j < items.length; j++) { items[j][AT] = flat.length; flat.push(items[j]); }
  }

  function markActive() {
    spacer.querySelectorAll(".card.active").forEach(function (c) { c.classList.remove("active"); });
    var item = flat[active];
    if (!item) return;
    var c = spacer.querySelector('.card[data-id="' + CSS.escape(item.id) + '"]');
    if (c) c.classList.add("active");
    activeDescendant();
  }
  // Readers hear the active card: the grid names it while it is made.
  function activeDescendant() {
    var id = "card-" + active;
    if (flat[active] && document.getElementById(id)) scroller.setAttribute("aria-activedescendant", id);
    else scroller.removeAttribute("aria-activedescendant");
  }

  // Keeps the active card on screen.
  function reveal() {
    var item = flat[active];
    if (!item) return;
    for (var i = 0; i < rows.length; i++) {
      if (rows[i].kind === "cards" && rows[i].items.indexOf(item) >= 0) {
        var top = rows[i].top + L.state.layout.pad;
        if (top < scroller.scrollTop) scroller.scrollTop = top - 8;
        else if (top + pitch > scroller.scrollTop + scroller.clientHeight) scroller.scrollTop = top + pitch - scroller.clientHeight;
        break;
      }
    }
    grid.update();
    markActive();
  }

  function onKey(e) {
    if (!flat.length) return;
    var perPage = Math.max(1, Math.floor(scroller.clientHeight / pitch)) * columns;
    var next = active;
    switch (e.key) {
      case "ArrowRight": next = active + 1; break;
      case "ArrowLeft": next = active - 1; break;
      case "ArrowDown": next = active + columns; break;
      case "ArrowUp": next = active - columns; break;
      case "Home": next = 0; break;
      case "End": next = flat.length - 1; break;
      case "PageDown": next = active + perPage; break;
      case "PageUp": next = active - perPage; break;
      case "Enter": {
        var m = L.item.mainAction(flat[active]);
        if (m) m[1](); else L.item.openDrawer(flat[active]);
        e.preventDefault();
        return;
      }
      case "ContextMenu": case "F10":
        if (e.key === "F10" && !e.shiftKey) return;
        var c = spacer.querySelector(".card.active");
        var r = c ? c.getBoundingClientRect() : {left: 100, bottom: 200};
        L.item.menuAt(flat[active], r.left, r.bottom);
        e.preventDefault();
        return;
      case "f": case "F": L.item.favourite(flat[active]); e.preventDefault(); return;
      // Space selects the active card or not; with Shift, the cards from the last one
      // clicked or selected.
      case " ":
        if (e.shiftKey) L.batch.range(active); else L.batch.toggle(active);
        e.preventDefault();
        return;
      case "Delete": L.item.remove(flat[active]); e.preventDefault(); return;
      default: return;
    }
    e.preventDefault();
    active = Math.max(0, Math.min(flat.length - 1, next));
    reveal();
  }

  L.grid = grid;
})(window.Lumora);
