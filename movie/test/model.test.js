// The movie's own logic, in node's test runner.
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const M = require("../src/model.js");

const sample = (name) => fs.readFileSync(path.join(__dirname, "../../res/sample", name));

test("a GB2312 catalogue decodes and parses into groups and items", () => {
  const text = M.decodeXmlBytes(sample("maga/maga1.xml"));
  const cat = M.parseCatalogue(text);
  assert.equal(cat.category, "杂志");
  assert.equal(cat.groups.length, 1);
  assert.equal(cat.groups[0].id, "杂志精选");
  assert.deepEqual(cat.items.map((i) => i.id), ["m01", "m02"]);
  assert.equal(cat.items[0].name, "城市旅行 2026年第1期");
  assert.equal(cat.items[0].photo, "/public/local/LocalDefaultPic.jpg");
  assert.equal(cat.items[0].group, "杂志精选");
});

test("an empty local catalogue has no items, and is no failure", () => {
  const cat = M.parseCatalogue(M.decodeXmlBytes(sample("local/local1.xml")));
  assert.ok(cat);
  assert.equal(cat.items.length, 0);
});

test("markup in a title stays text; entities are decoded once", () => {
  const cat = M.parseCatalogue('<a><g id="x"><i id="1" name="&lt;img src=x onerror=alert(1)&gt; &amp;lt;" /></g></a>');
  assert.equal(cat.items[0].name, "<img src=x onerror=alert(1)> &lt;");
});

test("hostile and broken catalogues are refused, never half read", () => {
  for (const text of [
    "",
    "not xml at all",
    '<?xml version="1.0"?><!DOCTYPE a [<!ENTITY x "y">]><a/>',
    "<a><g id='1'><i id='2'></g></a>",
    "<a><g id='1'>",
    "<a/><b/>",
    "<a><g id='1'><i id='2' name='unterminated /></g></a>",
    "<a><!-- never closed",
  ]) {
    assert.equal(M.parseCatalogue(text), null, JSON.stringify(text));
    // Given in one-character pieces, as a file read in parts may cut it, it is refused all
    // the same.
    const r = M.catalogueReader();
    for (const ch of text) r.feed(ch);
    assert.equal(r.end(), null, JSON.stringify(text));
  }
  // A comment that never ends is given up on, not read again for every piece.
  const endless = M.catalogueReader();
  endless.feed("<a><!--");
  for (let i = 0; i < 20 && endless.feed("x".repeat(65536)); i++);
  assert.equal(endless.feed("x"), false);
  // Items outside a group, and items without an id, are skipped.
  const cat = M.parseCatalogue("<a><i id='top'/><g id='1'><i name='no id'/><i id='ok'/></g></a>");
  assert.deepEqual(cat.items.map((i) => i.id), ["ok"]);
});

test("a catalogue of ten thousand items parses whole; the item limit holds", () => {
  let text = '<?xml version="1.0" encoding="utf-8"?><c 分类="图书">';
  for (let g = 0; g < 10; g++) {
    text += `<分类 id="g${g}">`;
    for (let i = 0; i < 1000; i++) text += `<书 id="b${g}-${i}" name="第${i}本" price="6" pay="1"/>`;
    text += "</分类>";
  }
  text += "</c>";
  assert.equal(M.parseCatalogue(text).items.length, 10000);
  assert.equal(M.parseCatalogue(text, 500).items.length, 500);

  // Read in parts, as a view shows it while it is read: a small first part, and the parts
  // together are the catalogue, each item once, in each group's order.
  const parts = [];
  const whole = M.parseCatalogue(text, 0, (p) => parts.push(p));
  assert.ok(parts.length > 2 && parts[0].reduce((n, g) => n + g.items.length, 0) <= 200);
  const joined = [];
  for (const p of parts) for (const g of p) (joined[g.index] ||= {id: g.id, items: []}).items.push(...g.items);
  assert.deepEqual(joined, whole.groups);
  // Cut anywhere (inside a comment, a tag, a quoted value), its pieces read as the whole.
  const pieces = M.catalogueReader();
  const tricky = text.replace("<c ", "<?xml-stylesheet x?><!-- a <comment> --><c ").replace("</c>", "<![CDATA[<x>]]></c>");
  for (let at = 0; at < tricky.length; at += 7 + (at % 13)) pieces.feed(tricky.slice(at, at + 7 + (at % 13)));
  assert.deepEqual(pieces.end(), whole);
  // A text refused at its end has been handed out in parts, and still reads as none.
  const cut = [];
  assert.equal(M.parseCatalogue(text.slice(0, -4), 0, (p) => cut.push(p)), null);
  assert.ok(cut.length > 0);
});

test("the settings file gives the stored values", () => {
  const s = M.parseSettings('<?xml version="1.0"?><vellari><systemsetting>' +
    '<item id="sound" value="1"/><item id="autorun" value="0"/><item id="fileAPP" value="x"/>' +
    "</systemsetting></vellari>");
  assert.deepEqual(s, {sound: "1", autorun: "0", websetting: ""});
  assert.deepEqual(M.parseSettings("garbage"), {sound: "", autorun: "", websetting: ""});
});

test("DLRatio: id at the last bar, percentage clamped", () => {
  assert.deepEqual(M.parseDLRatio("m01|042"), {id: "m01", percent: 42});
  assert.deepEqual(M.parseDLRatio("a|b|100"), {id: "a|b", percent: 100});
  assert.deepEqual(M.parseDLRatio("x|250"), {id: "x", percent: 100});
  assert.deepEqual(M.parseDLRatio("x|-3"), {id: "x", percent: 0});
  for (const bad of ["", "|050", "x|", "x|abc", "x", "x|1e3"]) assert.equal(M.parseDLRatio(bad), null, bad);
  assert.ok(M.isDLRatioName("DLRatio0") && M.isDLRatioName("DLRatio10"));
  assert.ok(!M.isDLRatioName("DLRatio11") && !M.isDLRatioName("DLRatio"));
});

test("the field texts the host reads by position", () => {
  assert.equal(M.texts.logon("reader", "secret"),
    "username=reader|password=secret|remember=0|auto=0");
  assert.equal(M.texts.itemRef("public/maga/maga1.xml", "杂志精选", "m01"),
    "type=item|file=public/maga/maga1.xml|group=杂志精选|id=m01");
  assert.equal(M.texts.down("search.xml", "搜索结果", "b1", "http://h/f.pdf"),
    "type=item|file=search.xml|group=搜索结果|id=b1|url=http://h/f.pdf");
  assert.equal(M.texts.pause("b1"), "id=b1|state=false");
  assert.equal(M.texts.resume("b1", "书", "http://h/f.pdf"), "id=b1|state=true|name=书|url=http://h/f.pdf");
  assert.equal(M.texts.search("城市", ["杂志", "图书"]), "file=search.xml|key=城市|type=杂志&图书");
  assert.equal(M.texts.settings(true, false, true), "sound=1|autorun=0|websetting=1");
  assert.equal(M.texts.share("新浪微博", "好书"), "site=新浪微博|title=好书|more=");
  assert.equal(M.shelfFile("reader"), "reader/reader.xml");
  // A value holding the separator, or too long for its field, is never sent.
  assert.equal(M.texts.logon("a|b", "x"), null);
  assert.equal(M.texts.itemRef("f", "g", "x".repeat(64)), null);
  assert.equal(M.texts.itemRef("f", "g", "x".repeat(63)).endsWith("x".repeat(63)), true);
  // The keyword is cut between characters to its 63 bytes.
  const long = M.texts.search("书".repeat(40), ["图书"]);
  assert.equal(long, "file=search.xml|key=" + "书".repeat(31) + "|type=图书");
  assert.equal(M.ansiLength("a书😀"), 7);
});

test("picture sizes from their first bytes; a cover fills its frame only when it nearly fits", () => {
  const jpeg = fs.readFileSync(path.join(__dirname, "../../res/local/LocalDefaultPic.jpg"));
  assert.deepEqual(M.pictureSize(jpeg), {w: 180, h: 240});
  const png = Buffer.alloc(24);
  Buffer.from("\x89PNG\r\n\x1a\n", "latin1").copy(png);
  png.writeUInt32BE(300, 16); png.writeUInt32BE(400, 20);
  assert.deepEqual(M.pictureSize(png), {w: 300, h: 400});
  assert.deepEqual(M.pictureSize(Buffer.from("GIF89a\x10\x00\x20\x00", "latin1")), {w: 16, h: 32});
  // Cut, empty, zero-sized or unknown pictures have no size.
  for (const b of [jpeg.subarray(0, 20), Buffer.alloc(0), Buffer.from("GIF89a\0\0\0\0", "latin1"),
                   Buffer.from("<svg/>")]) assert.equal(M.pictureSize(b), null);
  // 3:4 fills a 3:4 frame; a square picture sits whole in it, centred.
  assert.deepEqual(M.coverFit(300, 400, 132, 176), {x: 0, y: 0, w: 132, h: 176, fill: true});
  assert.deepEqual(M.coverFit(200, 200, 132, 176), {x: 0, y: 22, w: 132, h: 132, fill: false});
});

test("covers: data-folder paths through the movie's address, web addresses kept, others refused", () => {
  assert.equal(M.coverUrl("/public/local/LocalDefaultPic.jpg"),
    "lumora://movie/data/public/local/LocalDefaultPic.jpg");
  assert.equal(M.coverUrl("\\public\\local\\封面 1.jpg"),
    "lumora://movie/data/public/local/%E5%B0%81%E9%9D%A2%201.jpg");
  assert.equal(M.coverUrl("http://shop/c.jpg"), "http://shop/c.jpg");
  for (const bad of ["", "javascript:alert(1)", "file:///etc/passwd", "data:image/png;base64,AA",
                     "/public/../../secret.jpg", "..\\..\\x.jpg"])
    assert.equal(M.coverUrl(bad), null, bad);
});

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

test("only \"ok|restart\" asks for a restart; a failure keeps its reason", () => {
  assert.deepEqual(M.parseUpdateResult("ok|restart"), {ok: true, restart: true, reason: ""});
  assert.deepEqual(M.parseUpdateResult("ok"), {ok: true, restart: false, reason: ""});
  assert.deepEqual(M.parseUpdateResult("failed|无法替换文件: x|y"),
                   {ok: false, restart: false, reason: "无法替换文件: x|y"});
  for (const v of ["", "OK|restart", "ok|restart ", "restart", "failed"]) assert.equal(M.parseUpdateResult(v), null, v);
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

test("main actions: downloaded items are read, paid ones bought, bought ones show 已购", () => {
  const free = {pay: "0", price: "0", DLurl: "http://h/f.pdf", BYurl: "", RDurl: ""};
  const paid = {pay: "1", price: "6", DLurl: "http://h/p.pdf", BYurl: "http://h/buy", RDurl: ""};
  const none = {file: "", downloaded: false, bought: false};
  assert.equal(M.mainActionOf(free, null, none), "download");
  assert.equal(M.mainActionOf(free, null, {file: "/u/downloaded/f.pdf", downloaded: true, bought: false}), "read");
  assert.equal(M.mainActionOf(free, null, {file: "", downloaded: true, bought: false}), "");
  assert.equal(M.mainActionOf(free, {state: "done"}, none), "");
  assert.equal(M.mainActionOf(free, {state: "waiting"}, none), "");
  assert.equal(M.mainActionOf(free, {state: "failed"}, none), "retry");
  assert.equal(M.mainActionOf(paid, null, none), "buy");
  assert.equal(M.mainActionOf(paid, null, {file: "", downloaded: false, bought: true}), "download");
  assert.deepEqual(M.priceLabel(paid, false), {text: "¥6.00", kind: "paid"});
  assert.deepEqual(M.priceLabel(paid, true), {text: "已购", kind: "bought"});
  assert.deepEqual(M.priceLabel(free, true), {text: "免费", kind: "free"});
});

test("the settings' update outcome", () => {
  assert.equal(M.updateOutcome(""), "本次运行尚未更新");
  assert.equal(M.updateOutcome("ok"), "更新完毕");
  assert.equal(M.updateOutcome("ok|restart"), "更新完毕，重新启动后生效");
  assert.equal(M.updateOutcome("failed|下载文件失败 [b.bin], 错误代码 [6]"), "更新失败：下载文件失败 [b.bin], 错误代码 [6]");
  assert.equal(M.updateOutcome("failed|"), "更新失败");
  assert.equal(M.updateOutcome("whatever"), "更新结果未知");
});

test("an import of the purchases counts only what 已购买 did not hold", () => {
  const shelf = M.parseCatalogue('<书架><分类 id="我的收藏"><i id="b1"/></分类>' +
    '<分类 id="已购买"><i id="m1"/><i id="b1"/><i id="a9"/><i id="a9"/></分类></书架>');
  assert.equal(M.purchasesBrought(new Set(["m1"]), shelf), 2);
  assert.equal(M.purchasesBrought(["m1", "b1", "a9"], shelf), 0);
  assert.equal(M.purchasesBrought([], null), 0);
  assert.equal(M.importedText(2), "已导入 2 项已购作品");
  assert.equal(M.importedText(0), "没有新的已购作品");
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
