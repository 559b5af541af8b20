// The layout by stage size and the rows a view shows, in node's test runner.
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
const M = Object.assign({}, require("../src/model/layout.js"), require("../src/model/rows.js"));

test("layout by stage size, columns and the rows of a long catalogue", () => {
  assert.deepEqual([M.layoutFor(800, 570).nav, M.layoutFor(1024, 768).nav, M.layoutFor(1920, 1080).nav],
    [72, 200, 220]);
  assert.equal(M.layoutFor(300, 200).width, 800);
  assert.equal(M.layoutFor(1024, 768).cover, "M");
  assert.equal(M.columnsFor(1000, 132, 24), 6);   // 6*156-24 = 912 <= 1000 < 1068
  assert.equal(M.columnsFor(50, 132, 24), 1);
  const groups = [{id: "a", items: Array.from({length: 10000}, (_, i) => ({id: "i" + i}))},
                  {id: "b", items: [{id: "x"}]}];
  const flat = M.flattenRows(groups, 7, 250, 40);
  assert.equal(flat.rows.length, 1 + Math.ceil(10000 / 7) + 1 + 1);
  assert.equal(flat.height, 40 * 2 + 250 * (Math.ceil(10000 / 7) + 1));
  const v = M.visibleRows(flat.rows, 250 * 700, 800, 2);
  assert.ok(v.last - v.first <= 4 + 5, "only what is visible");
  assert.ok(flat.rows[v.first + 2].top <= 250 * 700 && flat.rows[v.first + 3].top > 250 * 700);
  assert.deepEqual(M.visibleRows([], 0, 500, 2), {first: 0, last: 0});
});

test("rows grown as a catalogue is read are the rows laid out afresh; other changes are refused", () => {
  const items = (n, p) => Array.from({length: n}, (_, i) => ({id: p + i}));
  const a = {id: "a", items: items(10, "a")};
  let laid = M.flattenRows([a], 3, 250, 40);
  // One group growing, without headers; then a second group: every group gains a header.
  a.items.push(...items(5, "a+"));
  laid = M.growRows(laid, [a], 3, 250, 40);
  assert.deepEqual(laid, M.flattenRows([a], 3, 250, 40));
  const b = {id: "b", items: items(4, "b")};
  assert.equal(M.growRows(laid, [a, b], 3, 250, 40), null);
  laid = M.flattenRows([a, b], 3, 250, 40);
  // The last group grows and a third comes: the first group's rows are kept as they were.
  b.items.push(...items(7, "b+"));
  const c = {id: "c", items: items(2, "c")};
  const grown = M.growRows(laid, [a, b, c], 3, 250, 40);
  assert.deepEqual(grown, M.flattenRows([a, b, c], 3, 250, 40));
  assert.equal(grown.rows[1], laid.rows[1]);
  // An earlier group changed, a group folded, another pitch, fewer groups: no growth.
  const shorter = {id: "a", items: a.items.slice(1)};
  assert.equal(M.growRows(grown, [shorter, b, c], 3, 250, 40), null);
  assert.equal(M.growRows(grown, [a, {id: "b", items: b.items, collapsed: true}, c], 3, 250, 40), null);
  assert.equal(M.growRows(grown, [a, b, c], 4, 250, 40), null);
  assert.equal(M.growRows(grown, [a, b], 3, 250, 40), null);
  assert.equal(M.growRows(null, [a], 3, 250, 40), null);
});

test("search results fall into the categories searched, in their order, with the rest apart", () => {
  const items = ["b1", "m1", "x", "m2", "both"].map((id) => ({id, name: id}));
  const groups = M.groupByCategory(items, [
    {label: "杂志", ids: new Set(["m1", "m2", "both"])},
    {label: "音频", ids: new Set()},
    {label: "图书", ids: new Set(["b1", "both"])}]);
  assert.deepEqual(groups.map((g) => [g.id, g.items.map((i) => i.id)]),
                   [["杂志", ["m1", "m2", "both"]], ["图书", ["b1"]], ["其他", ["x"]]]);
  assert.equal(groups[0].items[0], items[1]);  // the items themselves, unchanged
});

test("a local filter keeps the items whose name or date holds the text, any case", () => {
  const groups = [{id: "pdf", items: [{id: "1", name: "Notes.pdf", date: ""}, {id: "2", name: "围城", date: "2019"}]},
                  {id: "txt", items: [{id: "3", name: "readme", date: ""}]}];
  assert.deepEqual(M.filterGroups(groups, " notes ").map((g) => [g.id, g.items.map((i) => i.id)]), [["pdf", ["1"]]]);
  assert.deepEqual(M.filterGroups(groups, "2019")[0].items.map((i) => i.id), ["2"]);
  assert.equal(M.filterGroups(groups, "  "), groups);
  assert.deepEqual(M.filterGroups(groups, "无"), []);
});
