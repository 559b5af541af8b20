// Shelf downloads as the host reports them and the panel shows them, in node's test runner.
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
const M = Object.assign({}, require("../src/model/downloads.js"), require("../src/model/batch.js"));

test("DLRatio: id at the last bar, percentage clamped", () => {
  assert.deepEqual(M.parseDLRatio("m01|042"), {id: "m01", percent: 42});
  assert.deepEqual(M.parseDLRatio("a|b|100"), {id: "a|b", percent: 100});
  assert.deepEqual(M.parseDLRatio("x|250"), {id: "x", percent: 100});
  assert.deepEqual(M.parseDLRatio("x|-3"), {id: "x", percent: 0});
  for (const bad of ["", "|050", "x|", "x|abc", "x", "x|1e3"]) assert.equal(M.parseDLRatio(bad), null, bad);
  assert.ok(M.isDLRatioName("DLRatio0") && M.isDLRatioName("DLRatio10"));
  assert.ok(!M.isDLRatioName("DLRatio11") && !M.isDLRatioName("DLRatio"));
});

test("DownloadResult: id before the first bar, code between, message the rest; only 0 succeeds", () => {
  assert.deepEqual(M.parseDownloadResult("m01|0|"), {id: "m01", ok: true, code: 0, message: ""});
  assert.deepEqual(M.parseDownloadResult("m01|0"), {id: "m01", ok: true, code: 0, message: ""});
  assert.deepEqual(M.parseDownloadResult("m01|6|下载文件失败 [a|b], 错误代码 [6]"),
    {id: "m01", ok: false, code: 6, message: "下载文件失败 [a|b], 错误代码 [6]"});
  // A code that is no number, or none, is a failure with a message of its own.
  assert.deepEqual(M.parseDownloadResult("m01|0x0|bad"), {id: "m01", ok: false, code: null, message: "bad"});
  assert.deepEqual(M.parseDownloadResult("m01||"), {id: "m01", ok: false, code: null, message: "未知错误"});
  assert.deepEqual(M.parseDownloadResult("m01|7"), {id: "m01", ok: false, code: 7, message: "错误代码 7"});
  // The message on one line and bounded.
  const long = M.parseDownloadResult("x|1|a\nb\u0000" + "长".repeat(500)).message;
  assert.ok(long.startsWith("a b 长") && long.length === 200 && long.endsWith("…"), long);
  for (const bad of ["", "m01", "|0|", "|"]) assert.equal(M.parseDownloadResult(bad), null, bad);
});

test("a download runs only once reported, fails with the host's message, and late reports change nothing", () => {
  const step = (d, ...events) => events.reduce((s, e) => M.downloadAfter(s, e), d);
  const asked = step({state: "paused", percent: 30}, {type: "asked"});
  assert.deepEqual(asked, {state: "waiting", percent: -1, message: "", listed: true});
  assert.equal(M.downloadStateText(asked), "等待中");
  const running = step(asked, {type: "ratio", percent: 42});
  assert.equal(M.downloadStateText(running), "42% · 下载中");
  // The host's end report of a failed download says 100 before its result.
  const failed = step(running, {type: "ratio", percent: 100}, {type: "result", ok: false, message: "错误代码 6"},
                      {type: "ratio", percent: 100});
  assert.equal(failed.state, "failed");
  assert.equal(M.downloadStateText(failed), "下载失败：错误代码 6");
  assert.equal(step(failed, {type: "asked"}).message, "");
  assert.equal(step(running, {type: "paused"}, {type: "ratio", percent: 50}).state, "paused");
  const done = step(running, {type: "result", ok: true, message: ""});
  assert.equal(M.downloadStateText(done), "已完成");
  assert.equal(step(done, {type: "result", ok: false, message: "x"}).state, "done");
  // What an earlier run kept (DownloadPartial) shows on a paused one only.
  const kept = M.parseDLRatio("m01|037");
  assert.equal(M.downloadStateText(step({state: "paused", percent: 0}, {type: "partial", percent: kept.percent})),
               "已暂停 37%");
  assert.equal(step(running, {type: "partial", percent: 5}).percent, 42);
  assert.equal(step(asked, {type: "partial", percent: 5}).percent, -1);
});

test("the host lists a download from its asking to its end, paused or not; a queued one is not listed", () => {
  const step = (d, ...events) => events.reduce((s, e) => M.downloadAfter(s, e), d);
  const queued = step({state: "", percent: -1}, {type: "queued"});
  assert.deepEqual(queued, {state: "queued", percent: -1, message: "", listed: false});
  assert.equal(M.downloadStateText(queued), "等待中");
  assert.equal(step(queued, {type: "ratio", percent: 5}).state, "queued");
  const paused = step(queued, {type: "asked"}, {type: "ratio", percent: 20}, {type: "paused"});
  assert.equal(paused.listed, true);
  assert.equal(step(paused, {type: "result", ok: false, message: "x"}).listed, false);
  assert.equal(step(paused, {type: "asked"}, {type: "result", ok: true, message: ""}).listed, false);
  // One paused at sign-in (never asked for in this run) is not listed.
  assert.equal(step({state: "paused", percent: 0}, {type: "partial", percent: 30}).listed, false);
  assert.equal(M.countListed(new Map([["a", paused], ["b", queued], ["c", step(queued, {type: "asked"})]])), 2);
});

test("a queue of many starts what the ten places leave, and every item gets its turn", () => {
  assert.equal(M.startCount(0, 25), 10);
  assert.equal(M.startCount(3, 25), 7);
  assert.equal(M.startCount(3, 2), 2);
  assert.equal(M.startCount(10, 5), 0);
  assert.equal(M.startCount(12, 5), 0);  // more listed than allowed: none more
  // 25 items, two already listed by single downloads; ends come in a scrambled order.
  const list = new Map([["x", {listed: true}], ["y", {listed: true}]]);
  const queue = Array.from({length: 25}, (_, i) => "q" + i);
  queue.forEach((id) => list.set(id, M.downloadAfter({}, {type: "queued"})));
  let next = 0, most = 0, turn = 0;
  const pump = () => {
    for (let n = M.startCount(M.countListed(list), queue.length - next); n > 0; n--)
      list.set(queue[next], M.downloadAfter(list.get(queue[next++]), {type: "asked"}));
    most = Math.max(most, M.countListed(list));
  };
  pump();
  assert.equal(M.countListed(list), 10);
  assert.equal(Array.from(list.values()).filter((d) => d.state === "queued").length, 17);
  while (Array.from(list.values()).some((d) => d.listed)) {
    const listed = Array.from(list.keys()).filter((id) => list.get(id).listed);
    const id = listed[(turn++ * 7) % listed.length];
    const d = list.get(id);
    // A pause keeps its place; the others end (the third of them failing) or are cancelled.
    if (turn % 5 === 0 && d.state !== "paused") list.set(id, M.downloadAfter(d, {type: "paused"}));
    else if (turn % 9 === 0) list.delete(id);
    else list.set(id, M.downloadAfter(d, {type: "result", ok: turn % 3 !== 0, message: "x"}));
    pump();
  }
  assert.equal(most, 10);
  assert.equal(next, 25);
  assert.ok(Array.from(list.values()).every((d) => d.state !== "queued"));
});

test("下载所选 queues each downloadable item once, in pieces, and tells the end of a batch once", () => {
  const items = ["a", "b", "a", "c", "d"].map((id) => ({id}));
  const seen = new Set();
  const first = M.pickBatch(items.slice(0, 3), (it) => it.id !== "b", seen);
  assert.deepEqual(first, {items: [{id: "a"}], skipped: 1});
  const rest = M.pickBatch(items.slice(3).concat([{id: "a"}]), () => true, seen);
  assert.deepEqual(rest.items.map((it) => it.id), ["c", "d"]);

  const t = M.newTally();
  ["a", "c", "d", "a"].forEach((id) => M.tallyAdd(t, id));
  assert.equal(t.size, 3);
  assert.ok(M.tallyTells(t));
  assert.ok(M.tallyEnd(t, "a", "ok") && M.tallyEnd(t, "c", "failed") && M.tallyEnd(t, "d", "ok"));
  // Still being queued: nothing told yet.
  assert.equal(M.batchSummary(t), null);
  t.open = false;
  assert.equal(M.batchSummary(t), "已下载 2 项，失败 1 项");
  // An item ends once; one of no batch is no member.
  assert.equal(M.tallyEnd(t, "a", "failed"), false);
  assert.equal(M.tallyEnd(t, "z", "ok"), false);
  assert.equal(M.batchSummary(t), "已下载 2 项，失败 1 项");

  const partly = M.newTally();
  ["a", "b", "c"].forEach((id) => M.tallyAdd(partly, id));
  partly.open = false;
  M.tallyEnd(partly, "a", "cancelled");
  M.tallyEnd(partly, "b", "ok");
  assert.equal(M.batchSummary(partly), null);
  M.tallyEnd(partly, "c", "failed");
  assert.equal(M.batchSummary(partly), "已下载 1 项，失败 1 项，取消 1 项");
  // A batch of one tells its end as a single download does.
  const one = M.newTally();
  M.tallyAdd(one, "a");
  one.open = false;
  M.tallyEnd(one, "a", "ok");
  assert.ok(!M.tallyTells(one));
  assert.equal(M.batchSummary(one), null);
});

test("the selection is kept by item: toggles, ranges from the last click, all of the view, cleared", () => {
  const order = Array.from({length: 5000}, (_, i) => ({id: "i" + i}));
  const ids = (s) => Array.from(s.ids).sort();
  let s = {ids: new Set(), anchor: -1};
  s = M.selectionAfter(s, order, {type: "toggle", at: 3});
  s = M.selectionAfter(s, order, {type: "toggle", at: 1});
  assert.deepEqual(ids(s), ["i1", "i3"]);
  s = M.selectionAfter(s, order, {type: "toggle", at: 3});
  assert.deepEqual(ids(s), ["i1"]);
  // The range runs from the last card clicked, either way, and joins what was selected.
  s = M.selectionAfter(s, order, {type: "click", at: 6});
  assert.deepEqual(ids(s), ["i1"]);
  s = M.selectionAfter(s, order, {type: "range", at: 4});
  assert.deepEqual(ids(s), ["i1", "i4", "i5", "i6"]);
  s = M.selectionAfter(s, order, {type: "range", at: 7});
  assert.deepEqual(ids(s), ["i1", "i4", "i5", "i6", "i7"]);
  // A range with no card clicked before is the one card.
  assert.deepEqual(ids(M.selectionAfter({ids: new Set(), anchor: -1}, order, {type: "range", at: 9})), ["i9"]);
  // A place the view no longer has changes nothing; the earlier selection is not touched.
  const before = s;
  assert.deepEqual(ids(M.selectionAfter(s, order, {type: "toggle", at: 5000})), ids(before));
  M.selectionAfter(s, order, {type: "toggle", at: 1});
  assert.ok(before.ids.has("i1"));
  // Every item of the view, drawn or not; items with one id are one selection.
  s = M.selectionAfter(s, order.concat([{id: "i0"}]), {type: "all"});
  assert.equal(s.ids.size, 5000);
  s = M.selectionAfter(s, order, {type: "clear"});
  assert.deepEqual(s, {ids: new Set(), anchor: -1});
});
