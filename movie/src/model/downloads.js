// Shelf downloads as the host reports them (DLRatio, DownloadResult) and as the
// downloads panel shows them.
// One part of the movie's model (see part.js).
(typeof module === "object" ? require("./part.js")(module) : LumoraModelPart)(["./commands.js"], function (M) {
  "use strict";

  var plainMessage = M.plainMessage;

  // "id|NNN": the id before the last "|" and the percentage clamped to 0..100; null
  // for a text that is no progress report.
  function parseDLRatio(value) {
    var text = String(value);
    var bar = text.lastIndexOf("|");
    if (bar <= 0) return null;
    var digits = text.slice(bar + 1).trim();
    if (!/^-?[0-9]{1,9}$/.test(digits)) return null;
    var percent = Math.max(0, Math.min(100, parseInt(digits, 10)));
    return {id: text.slice(0, bar), percent: percent};
  }
  function isDLRatioName(name) { return /^DLRatio(10|[0-9])$/.test(name); }

  // "ID|CODE|MESSAGE", the host's word on the end of a shelf download: the id before
  // the first "|", the code between the first and the second, the message the rest (it
  // may hold "|" itself). Only the code 0 is a success; another code, or one that is no
  // number, is a failure, whose message is never empty. null without an id and a "|".
  function parseDownloadResult(value) {
    var text = String(value);
    var first = text.indexOf("|");
    if (first <= 0) return null;
    var rest = text.slice(first + 1);
    var second = rest.indexOf("|");
    var codeText = (second < 0 ? rest : rest.slice(0, second)).trim();
    var code = /^-?[0-9]{1,9}$/.test(codeText) ? parseInt(codeText, 10) : null;
    var ok = code === 0;
    var message = ok || second < 0 ? "" : plainMessage(rest.slice(second + 1), 200);
    if (!ok && !message) message = code === null ? "未知错误" : "错误代码 " + code;
    return {id: text.slice(0, first), ok: ok, code: code, message: message};
  }

  // A shelf download as the movie shows it: {state, percent (-1 unknown), message,
  // listed}. "queued": waiting in the movie for a place among the host's ten, not asked
  // for yet; "waiting": asked for, not yet reported by the host (whose only sign of a
  // download under way is its first DLRatio report); "running", "paused", "failed"
  // (message from the host), "done". |listed|: the host lists it among its ten, from
  // the moment it is asked for until it ends (a paused one stays listed). Events:
  // {type: "queued"}, {type: "asked"} ("down" or a resume sent), {type: "ratio", percent},
  // {type: "paused"}, {type: "result", ok, message}, {type: "partial", percent} (how far
  // a paused one got before the program last ended).
  function downloadAfter(d, event) {
    var next = {state: d.state, percent: d.percent, message: d.message || "", listed: !!d.listed};
    var live = d.state === "waiting" || d.state === "running";
    if (event.type === "queued") {
      next = {state: "queued", percent: -1, message: "", listed: false};
    } else if (event.type === "asked") {
      next = {state: "waiting", percent: -1, message: "", listed: true};
    } else if (event.type === "ratio") {
      // A late report of a paused, failed or finished download changes nothing.
      if (live) { next.state = "running"; next.percent = event.percent; }
    } else if (event.type === "partial") {
      // Only a download that is not under way yet shows what an earlier run kept.
      if (d.state === "paused") next.percent = event.percent;
    } else if (event.type === "paused") {
      if (live) next.state = "paused";
    } else if (event.type === "result") {
      // The host's list lets go of a download as it ends, whichever way.
      next.listed = false;
      if (event.ok) next = {state: "done", percent: 100, message: "", listed: false};
      else if (d.state !== "done") { next.state = "failed"; next.message = event.message; }
    }
    return next;
  }
  // The state line of a download in the downloads panel.
  function downloadStateText(d) {
    var p = Math.max(0, d.percent);
    if (d.state === "done") return "已完成";
    if (d.state === "paused") return "已暂停 " + p + "%";
    if (d.state === "failed") return "下载失败：" + d.message;
    if (d.state === "running" && d.percent >= 0) return p + "% · 下载中";
    return "等待中";
  }

  return {parseDLRatio: parseDLRatio, isDLRatioName: isDLRatioName,
    parseDownloadResult: parseDownloadResult, downloadAfter: downloadAfter,
    downloadStateText: downloadStateText};
});
