// The orders of a view and the jumps to its groups, in node's test runner.
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
const M = Object.assign({}, require("../src/model/order.js"), require("../src/model/rows.js"));

const item = (id, name, date) => ({id, name, date});
const ids = (groups) => groups.map((g) => g.items.map((i) => i.id));

// A storage that keeps what it is given, like the page's local storage.
function memoryStorage() {
  const map = new Map();
  return {getItem: (k) => (map.has(k) ? map.get(k) : null), setItem: (k, v) => map.set(k, String(v))};
}

test("名称 sorts by pinyin, numbers by value, each group on its own", () => {
  const groups = [
    {id: "甲", items: [item("1", "围城"), item("2", "山海经注"), item("3", "数学之美"), item("4", "阿Q正传"),
                       item("5", "北京"), item("6", "昌平")]},
    {id: "乙", items: [item("7", "第12期"), item("8", "第2期"), item("9", "第1期")]},
  ];
  const sorted = M.orderGroups(groups, "name");
  // 阿 a, 北 bei, 昌 chang, 山 shan, 数 shu, 围 wei: pinyin, not code point order.
  assert.deepEqual(ids(sorted), [["4", "5", "6", "2", "3", "1"], ["9", "8", "7"]]);
  assert.deepEqual(sorted.map((g) => g.id), ["甲", "乙"]);
  // The file's order is untouched, and 默认分组 gives it back.
  assert.deepEqual(ids(groups), [["1", "2", "3", "4", "5", "6"], ["7", "8", "9"]]);
  assert.equal(M.orderGroups(groups, "group"), groups);
});

test("名称 falls back to the id for an item without a name, and ties keep the file's order", () => {
  const groups = [{id: "g", items: [item("b2", "同名"), item("zz", ""), item("a1", "同名"), item("aa", "")]}];
  // The nameless sort by their ids (Latin letters come after the Chinese names in this
  // collation); the two items named 同名 stay in the order the file had them.
  assert.deepEqual(ids(M.orderGroups(groups, "name")), [["b2", "a1", "aa", "zz"]]);
});

test("日期 puts the newest first; dates are read number by number; undated last", () => {
  assert.deepEqual(M.dateNumbers("2026-01"), [2026, 1]);
  assert.deepEqual(M.dateNumbers("2026年第12期"), [2026, 12]);
  assert.deepEqual(M.dateNumbers("1947"), [1947]);
  assert.deepEqual(M.dateNumbers(""), []);
  assert.deepEqual(M.dateNumbers("未知"), []);
  const groups = [{id: "g", items: [
    item("old", "a", "1947"), item("none", "b", ""), item("dec", "c", "2025-12"), item("jan", "d", "2026-01"),
    item("edition2", "e", "2026年第2期"), item("year", "f", "2026"), item("text", "g", "未知"),
    item("day", "h", "2026-01-15")]}];
  assert.deepEqual(ids(M.orderGroups(groups, "date")),
    [["edition2", "day", "jan", "year", "dec", "old", "none", "text"]]);
  // Huge numbers stay numbers.
  assert.ok(M.compareDates(M.dateNumbers("99999999999999"), M.dateNumbers("2026")) < 0);
});

test("ten thousand items sort whole and every item stays once", () => {
  const items = Array.from({length: 10000}, (_, i) =>
    item("i" + i, String.fromCharCode(0x4e00 + ((i * 7919) % 20000)) + i, String(1990 + (i % 37))));
  const groups = [{id: "a", items: items.slice(0, 6000)}, {id: "b", items: items.slice(6000)}];
  for (const order of ["name", "date"]) {
    const sorted = M.orderGroups(groups, order);
    assert.equal(sorted[0].items.length, 6000);
    assert.equal(sorted[1].items.length, 4000);
    assert.equal(new Set(sorted.flatMap((g) => g.items)).size, 10000);
  }
  const byName = M.orderGroups(groups, "name")[0].items;
  const collator = new Intl.Collator("zh-CN", {numeric: true});
  for (let i = 1; i < byName.length; i++) assert.ok(collator.compare(byName[i - 1].name, byName[i].name) <= 0);
  const byDate = M.orderGroups(groups, "date")[1].items;
  for (let i = 1; i < byDate.length; i++) assert.ok(+byDate[i - 1].date >= +byDate[i].date);
});

test("the order is remembered per view, and only a known order is taken", () => {
  const storage = memoryStorage();
  assert.equal(M.storedOrder(storage, "book"), "group");
  storage.setItem(M.orderStorageKey("book"), "name");
  storage.setItem(M.orderStorageKey("maga"), "date");
  assert.equal(M.storedOrder(storage, "book"), "name");
  assert.equal(M.storedOrder(storage, "maga"), "date");
  assert.equal(M.storedOrder(storage, "audio"), "group");
  storage.setItem(M.orderStorageKey("video"), "<script>");
  assert.equal(M.storedOrder(storage, "video"), "group");
  // A storage that throws (private mode) or none at all.
  assert.equal(M.storedOrder({getItem: () => { throw new Error("denied"); }}, "book"), "group");
  assert.equal(M.storedOrder(null, "book"), "group");
  assert.deepEqual(M.ORDERS.map((o) => o.label), ["默认分组", "日期", "名称"]);
  assert.equal(M.orderLabel("name"), "名称");
  assert.equal(M.orderLabel("nonsense"), "默认分组");
});

test("a jump goes to the group's header, in a long catalogue and past folded groups", () => {
  const many = (prefix, n) => Array.from({length: n}, (_, i) => item(prefix + i, prefix + i));
  const groups = [{id: "a", items: many("a", 9000)}, {id: "b", items: many("b", 5), collapsed: true},
                  {id: "c", items: many("c", 995)}];
  const flat = M.flattenRows(groups, 7, 250, 40);
  const sections = M.sectionsOf(flat.rows);
  assert.deepEqual(sections.map((s) => [s.group, s.count]), [["a", 9000], ["b", 5], ["c", 995]]);
  const aRows = Math.ceil(9000 / 7);
  assert.equal(sections[1].top, 40 + aRows * 250);
  assert.equal(sections[2].top, 40 + aRows * 250 + 40);  // b is folded: its header only
  assert.equal(M.jumpTop(flat.rows, "c", 24), sections[2].top + 24);
  assert.equal(M.jumpTop(flat.rows, "missing", 24), null);
  // What the grid then shows there: c's header first, then c's cards only.
  const v = M.visibleRows(flat.rows, sections[2].top, 600, 0);
  assert.equal(flat.rows[v.first].kind, "header");
  assert.equal(flat.rows[v.first].group, "c");
  assert.ok(flat.rows.slice(v.first + 1, v.last).every((r) => r.items.every((i) => i.id[0] === "c")));
  // One group has no sections to jump to.
  assert.deepEqual(M.sectionsOf(M.flattenRows([groups[0]], 7, 250, 40).rows), []);
});

test("places found apart (by the catalogue's reader) give the same orders, and are used", () => {
  const groups = [
    {id: "甲", items: [item("1", "围城", "2001"), item("2", "阿Q正传", "2020-03"), item("3", "北京", "")]},
    {id: "乙", items: [item("4", "第12期", "2019"), item("5", "第2期", "2019")]},
  ];
  for (const order of ["name", "date"]) {
    const places = M.orderPlaces(groups, order);
    const held = groups.map((g, i) => ({...g, places: {[order]: places[i]}}));
    assert.deepEqual(ids(M.orderGroups(held, order)), ids(M.orderGroups(groups, order)), order);
  }
  // The places are what orders the view: the page does not sort again.
  const given = [{...groups[0], places: {name: Int32Array.of(2, 0, 1)}}];
  assert.deepEqual(ids(M.orderGroups(given, "name")), [["3", "1", "2"]]);
  // Places that do not match the group (it changed since) are not used.
  const stale = groups.map((g) => ({...g, places: {name: Int32Array.of(0)}}));
  assert.deepEqual(ids(M.orderGroups(stale, "name")), ids(M.orderGroups(groups, "name")));
});
