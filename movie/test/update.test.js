// The updater's word and the first run, in node's test runner.
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
const M = require("../src/model/update.js");

test("only \"ok|restart\" asks for a restart; a failure keeps its reason", () => {
  assert.deepEqual(M.parseUpdateResult("ok|restart"), {ok: true, restart: true, reason: ""});
  assert.deepEqual(M.parseUpdateResult("ok"), {ok: true, restart: false, reason: ""});
  assert.deepEqual(M.parseUpdateResult("failed|无法替换文件: x|y"),
                   {ok: false, restart: false, reason: "无法替换文件: x|y"});
  for (const v of ["", "OK|restart", "ok|restart ", "restart", "failed"]) assert.equal(M.parseUpdateResult(v), null, v);
});

test("the settings' update outcome", () => {
  assert.equal(M.updateOutcome(""), "本次运行尚未更新");
  assert.equal(M.updateOutcome("ok"), "更新完毕");
  assert.equal(M.updateOutcome("ok|restart"), "更新完毕，重新启动后生效");
  assert.equal(M.updateOutcome("failed|下载文件失败 [b.bin], 错误代码 [6]"), "更新失败：下载文件失败 [b.bin], 错误代码 [6]");
  assert.equal(M.updateOutcome("failed|"), "更新失败");
  assert.equal(M.updateOutcome("whatever"), "更新结果未知");
});

test("a first run prepares the shelf with the update's progress until its outcome", () => {
  assert.equal(M.firstRunState("false", "3", "48", ""), null);
  assert.deepEqual(M.firstRunState("true", "0", "0", ""),
                   {kind: "preparing", line: "正在连接更新服务器…", percent: -1});
  assert.deepEqual(M.firstRunState("true", "12", "48", ""),
                   {kind: "preparing", line: "正在安装 12 / 48 个文件", percent: 25});
  assert.equal(M.firstRunState("true", "99", "48", "").percent, 100);
  assert.equal(M.firstRunState("true", "48", "48", "ok"), null);
  assert.equal(M.firstRunState("true", "48", "48", "ok|restart"), null);
  assert.deepEqual(M.firstRunState("true", "5", "48", "failed|下载文件失败 [x.bin]"),
                   {kind: "failed", line: "更新失败：下载文件失败 [x.bin]", percent: -1});
});
