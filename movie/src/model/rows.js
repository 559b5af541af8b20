// The rows a view shows: its groups narrowed (search results by catalogue, a local
// filter), flattened into rows of fixed pitch, the rows in view and the sections a
// jump goes to.
// One part of the movie's model (see part.js).
(typeof module === "object" ? require("./part.js")(module) : LumoraModelPart)([], function (M) {
  "use strict";

  // Sections flattened into rows of fixed pitch: a header row per group (when there is
  // more than one) and card rows of |columns| items. Each row: {kind, top, height, ...}.
  function flattenRows(groups, columns, cardRow, headerRow) {
    var rows = [];
    var top = 0;
    var withHeaders = groups.length > 1;
    groups.forEach(function (g) {
      if (withHeaders) {
        rows.push({kind: "header", top: top, height: headerRow, group: g.id,
                   count: g.items.length, collapsed: !!g.collapsed});
        top += headerRow;
      }
      if (g.collapsed) return;
      for (var i = 0; i < g.items.length; i += columns) {
        rows.push({kind: "cards", top: top, height: cardRow, items: g.items.slice(i, i + columns),
                   first: i});
        top += cardRow;
      }
    });
    return {rows: rows, height: top};
  }
  // The indices [first, last) of the rows that meet the view, with |overscan| rows more
  // on each side.
  function visibleRows(rows, scrollTop, viewHeight, overscan) {
    var lo = 0, hi = rows.length;
    while (lo < hi) {  // the first row whose bottom is below scrollTop
      var mid = (lo + hi) >> 1;
      if (rows[mid].top + rows[mid].height <= scrollTop) lo = mid + 1; else hi = mid;
    }
    var first = lo;
    var last = first;
    while (last < rows.length && rows[last].top < scrollTop + viewHeight) last++;
    return {first: Math.max(0, first - overscan), last: Math.min(rows.length, last + overscan)};
  }

  // The sections of flattened rows a jump can go to: [{group, count, top}] in order, the
  // top being that of the group's header row.
  function sectionsOf(rows) {
    return rows.filter(function (r) { return r.kind === "header"; }).map(function (r) {
      return {group: r.group, count: r.count, top: r.top};
    });
  }
  // The scroll position that brings |group|'s section header to the top of the view
  // (rows start |offset| below the scroller's top; the scroller itself stops at its
  // end); null when the group has no section.
  function jumpTop(rows, group, offset) {
    for (var i = 0; i < rows.length; i++)
      if (rows[i].kind === "header" && rows[i].group === group) return rows[i].top + (offset || 0);
    return null;
  }

  // Search results (one list, in the host's order) grouped by the catalogue each item
  // comes from: |sources| is [{label, ids}] in the order searched (ids: a Set of the
  // catalogue's item ids); an item of none of them goes to "其他". Groups in the order of
  // |sources|, empty ones left out; the items themselves are shared, never changed.
  function groupByCategory(items, sources) {
    var groups = sources.map(function (s) { return {id: s.label, items: []}; });
    var other = {id: "其他", items: []};
    items.forEach(function (item) {
      for (var i = 0; i < sources.length; i++)
        if (sources[i].ids.has(item.id)) { groups[i].items.push(item); return; }
      other.items.push(item);
    });
    return groups.concat([other]).filter(function (g) { return g.items.length > 0; });
  }

  // The groups whose items' name or date holds |text| (ignoring case and the spaces
  // around it); every group when it is empty. Groups left empty are left out.
  function filterGroups(groups, text) {
    var needle = String(text || "").trim().toLowerCase();
    if (!needle) return groups;
    return groups.map(function (g) {
      return {id: g.id, items: g.items.filter(function (it) {
        return (it.name || it.id).toLowerCase().indexOf(needle) >= 0 ||
               String(it.date || "").toLowerCase().indexOf(needle) >= 0;
      })};
    }).filter(function (g) { return g.items.length > 0; });
  }

  return {flattenRows: flattenRows, visibleRows: visibleRows, sectionsOf: sectionsOf,
    jumpTop: jumpTop, groupByCategory: groupByCategory, filterGroups: filterGroups};
});
