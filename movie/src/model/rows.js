// The rows a view shows: its groups narrowed (search results by catalogue, a local
// filter), flattened into rows of fixed pitch, the rows in view and the sections a
// jump goes to.
// One part of the movie's model (see part.js).
(typeof module === "object" ? require("./part.js")(module) : LumoraModelPart)([], function (M) {
  "use strict";

  // Sections flattened into rows of fixed pitch: a header row per group (when there is
  // more than one) and card rows of |columns| items. Each row: {kind, top, height, ...}.
  // The result also says where each group's rows start ({rows, height, groups: [{id,
  // items, count, collapsed, row, top}]}), for growRows.
  function flattenRows(groups, columns, cardRow, headerRow) {
    return appendRows({rows: [], height: 0, groups: [], columns: columns, cardRow: cardRow,
                       headerRow: headerRow, headers: groups.length > 1}, groups, 0);
  }
  // |laid| with the rows of groups[from...] added after its own.
  function appendRows(laid, groups, from) {
    var rows = laid.rows, top = laid.height, columns = laid.columns;
    for (var k = from; k < groups.length; k++) {
      var g = groups[k];
      laid.groups.push({id: g.id, items: g.items, count: g.items.length, collapsed: !!g.collapsed,
                        row: rows.length, top: top});
      if (laid.headers) {
        rows.push({kind: "header", top: top, height: laid.headerRow, group: g.id,
                   count: g.items.length, collapsed: !!g.collapsed});
        top += laid.headerRow;
      }
      if (g.collapsed) continue;
      for (var i = 0; i < g.items.length; i += columns) {
        rows.push({kind: "cards", top: top, height: laid.cardRow, items: g.items.slice(i, i + columns),
                   first: i});
        top += laid.cardRow;
      }
    }
    laid.height = top;
    return laid;
  }
  // The rows of |groups| when they are |laid|'s groups grown while being read: the same
  // groups in the same order, each but the last unchanged, the last with items added at
  // its end, and maybe new groups after it. Only the last group's rows and the new ones
  // are made again; a catalogue read in parts thus costs each part its own rows. Null
  // when |groups| did not grow from |laid| that way (flattenRows then lays them out).
  function growRows(laid, groups, columns, cardRow, headerRow) {
    var before = laid && laid.groups;
    if (!grewFrom(before, groups) || laid.columns !== columns || laid.cardRow !== cardRow ||
        laid.headerRow !== headerRow || laid.headers !== groups.length > 1 ||
        before.some(function (b, k) { return !!groups[k].collapsed !== b.collapsed; }))
      return null;
    var last = before.length - 1;
    return appendRows({rows: laid.rows.slice(0, before[last].row), height: before[last].top,
                       groups: before.slice(0, last), columns: columns, cardRow: cardRow,
                       headerRow: headerRow, headers: laid.headers}, groups, last);
  }
  // True when |groups| are the groups |before| ({id, items, count} each, as they were then)
  // read further: the same groups with the same item lists in the same order, each but the
  // last as long as it was, the last as long or longer, maybe with groups after it.
  function grewFrom(before, groups) {
    if (!before || !before.length || groups.length < before.length) return false;
    var last = before.length - 1;
    for (var k = 0; k <= last; k++) {
      var g = groups[k], b = before[k];
      if (g.id !== b.id || g.items !== b.items || (k < last ? g.items.length !== b.count : g.items.length < b.count))
        return false;
    }
    return true;
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

  return {flattenRows: flattenRows, growRows: growRows, grewFrom: grewFrom, visibleRows: visibleRows, sectionsOf: sectionsOf,
    jumpTop: jumpTop, groupByCategory: groupByCategory, filterGroups: filterGroups};
});
