// Shelf downloads as the host reports them and the panel shows them, in node's test runner.
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
const M = require("../src/model/downloads.js");

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
  assert.deepEqual(asked, {state: "waiting", percent: -1, message: ""});
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
