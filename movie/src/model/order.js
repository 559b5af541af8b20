// The orders a view can be shown in (the file's, by date, by name), the order each
// view remembers, and the groups' items put in order. Run by the reader worker too.
// One part of the movie's model (see part.js).
(typeof module === "object" ? require("./part.js")(module) : LumoraModelPart)([], function (M) {
  "use strict";

  // The orders a view can be shown in; the catalogue's own groups stay the sections in
  // each, so that every order can jump to a group.
  var ORDERS = [{key: "group", label: "默认分组"}, {key: "date", label: "日期"},
                {key: "name", label: "名称"}];
  function isOrder(key) {
    return ORDERS.some(function (o) { return o.key === key; });
  }
  function orderLabel(key) {
    for (var i = 0; i < ORDERS.length; i++) if (ORDERS[i].key === key) return ORDERS[i].label;
    return ORDERS[0].label;
  }
  // Where a view's order is remembered (the page's local storage outlives the program).
  function orderStorageKey(viewKey) { return "lumora.order." + viewKey; }
  // The remembered order of a view from |storage| (anything with getItem), "group" when
  // none is, the storage is unusable or holds something else.
  function storedOrder(storage, viewKey) {
    var value = null;
    try { value = storage ? storage.getItem(orderStorageKey(viewKey)) : null; } catch (e) { value = null; }
    return isOrder(value) ? value : "group";
  }

  // The numbers of a date text in their order ("2026-01" gives [2026, 1], "2026年第3期"
  // [2026, 3]): catalogue dates are free text, and comparing their numbers in turn
  // orders years, months, days and numbered editions alike. None gives an empty list.
  function dateNumbers(text) {
    var found = String(text || "").match(/[0-9]+/g) || [];
    return found.slice(0, 4).map(function (d) { return parseInt(d.slice(0, 9), 10); });
  }
  // Newer first: the later of two number lists sorts before; a date without numbers
  // sorts after every dated one.
  function compareDates(a, b) {
    if (!a.length || !b.length) return (a.length ? 0 : 1) - (b.length ? 0 : 1);
    for (var i = 0; i < a.length && i < b.length; i++) if (a[i] !== b[i]) return b[i] - a[i];
    return b.length - a.length;
  }

  var nameCollator = null;
  // Names in the order of their pinyin, numbers inside them by value (第2期 before 第12期).
  function collator() {
    if (!nameCollator) nameCollator = new Intl.Collator("zh-CN", {numeric: true});
    return nameCollator;
  }

  // The groups with their items in |order|: "group" keeps the file's order; "date" puts
  // the newest first; "name" sorts by name in pinyin order. Ties keep the file's order.
  // The groups and items themselves are shared, never changed.
  function orderGroups(groups, order) {
    if (order !== "date" && order !== "name") return groups;
    var compareNames = collator().compare;
    return groups.map(function (g) {
      var places = g.places && g.places[order];
      if (places && places.length === g.items.length) {
        var sorted = {};
        Object.keys(g).forEach(function (k) { sorted[k] = g[k]; });
        sorted.items = Array.from(places, function (p) { return g.items[p]; });
        return sorted;
      }
      var keyed = g.items.map(function (item, index) {
        return {item: item, index: index, date: order === "date" ? dateNumbers(item.date) : null,
                name: item.name || item.id};
      });
      keyed.sort(function (a, b) {
        var c = order === "date" ? compareDates(a.date, b.date) : compareNames(a.name, b.name);
        return c || a.index - b.index;
      });
      var copy = {};
      Object.keys(g).forEach(function (k) { copy[k] = g[k]; });
      copy.items = keyed.map(function (k) { return k.item; });
      return copy;
    });
  }

  // For each group of |groups|, the places of its items in |order| ("date" or "name"),
  // as orderGroups would put them: an Int32Array per group, kept by orderGroups.
  function orderPlaces(groups, order) {
    return orderGroups(groups.map(function (g) {
      return {id: g.id, items: g.items.map(function (item, index) {
        return {name: item.name, id: item.id, date: item.date, index: index};
      })};
    }), order).map(function (g) {
      return Int32Array.from(g.items, function (k) { return k.index; });
    });
  }

  return {ORDERS: ORDERS, isOrder: isOrder, orderLabel: orderLabel,
    orderStorageKey: orderStorageKey, storedOrder: storedOrder, dateNumbers: dateNumbers,
    compareDates: compareDates, orderGroups: orderGroups, orderPlaces: orderPlaces};
});
