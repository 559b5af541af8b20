// The updater's word: its UpdateResult, the settings' line on it, and what a first run
// shows while the updater installs the catalogues.
// One part of the movie's model (see part.js).
(typeof module === "object" ? require("./part.js")(module) : LumoraModelPart)(["./commands.js"], function (M) {
  "use strict";

  var plainMessage = M.plainMessage;

  // The host's "UpdateResult": "ok", "ok|restart" (a restart completes the release) or
  // "failed|REASON"; null for anything else.
  function parseUpdateResult(value) {
    value = String(value);
    if (value === "ok") return {ok: true, restart: false, reason: ""};
    if (value === "ok|restart") return {ok: true, restart: true, reason: ""};
    if (value.indexOf("failed|") === 0) return {ok: false, restart: false, reason: value.slice(7)};
    return null;
  }

  // What the settings say of the last update of this run, from UpdateResult.
  function updateOutcome(value) {
    if (String(value) === "") return "本次运行尚未更新";
    var r = parseUpdateResult(value);
    if (!r) return "更新结果未知";
    if (!r.ok) return r.reason ? "更新失败：" + plainMessage(r.reason, 200) : "更新失败";
    return r.restart ? "更新完毕，重新启动后生效" : "更新完毕";
  }

  // What a view whose catalogue cannot be read shows on a first run, while the updater
  // installs the catalogues: {kind: "preparing", line, percent (-1 unknown)} until the
  // update's outcome, {kind: "failed", line} after a failed one; null when the view's
  // own failure to load is to be shown (no first run, or the update is in place).
  function firstRunState(firstRun, updatedFile, totalUpdateFile, updateResult) {
    if (String(firstRun) !== "true") return null;
    var result = parseUpdateResult(updateResult);
    if (result && result.ok) return null;
    if (result) return {kind: "failed", line: updateOutcome(updateResult), percent: -1};
    var total = parseInt(totalUpdateFile, 10) || 0;
    var done = Math.max(0, Math.min(total, parseInt(updatedFile, 10) || 0));
    if (total > 0)
      return {kind: "preparing", line: "正在安装 " + done + " / " + total + " 个文件",
              percent: Math.round(done * 100 / total)};
    return {kind: "preparing", line: "正在连接更新服务器…", percent: -1};
  }

  return {parseUpdateResult: parseUpdateResult, updateOutcome: updateOutcome,
    firstRunState: firstRunState};
});
