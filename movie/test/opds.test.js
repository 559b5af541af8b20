// OPDS catalogues as the host hands them over, in node's test runner.
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
const M = require("../src/model/opds.js");

const PAGE = '<?xml version="1.0" encoding="UTF-8"?>\n' +
  '<opds title="书 &amp; 刊" next="http://h/opds/books?page=2" search="1">\n' +
  '<entry id="urn:uuid:1" title="&lt;img src=x onerror=alert(1)&gt;" authors="甲, 乙" updated="2020-01-02T03:04:05Z"' +
  ' cover="http://h/c/1.png" summary="一行&#10;两行" nav="" acq="http://h/f/1.epub" type="application/epub+zip"' +
  ' formats="EPUB PDF"/>\n' +
  '<entry id="n1" title="全部图书" nav="https://h/opds/books" acq=""/>\n' +
  '<entry id="bad" title="脚本" nav="javascript:alert(1)" acq="file:///etc/passwd" cover="javascript:x"/>\n' +
  '</opds>\n';

test("a page file reads into its title, next, search and entries; hostile text stays text", () => {
  const page = M.readOpdsPage(PAGE);
  assert.equal(page.title, "书 & 刊");
  assert.equal(page.next, "http://h/opds/books?page=2");
  assert.equal(page.search, true);
  // An entry with neither an http(s) feed nor book is left out.
  assert.deepEqual(page.entries.map((e) => e.id), ["urn:uuid:1", "n1"]);
  const book = page.entries[0];
  assert.equal(book.title, "<img src=x onerror=alert(1)>");
  assert.equal(book.summary, "一行\n两行");
  assert.equal(book.formats, "EPUB PDF");
  assert.equal(page.entries[1].nav, "https://h/opds/books");
  // Cards: the nine attributes, the entry kept; the key is stable and fits an item id.
  const card = M.opdsCard("o3", book, "书目");
  assert.equal(card.name, book.title);
  assert.equal(card.date, "2020-01-02");
  assert.equal(card.DLurl, "http://h/f/1.epub");
  assert.equal(card.photo, "http://h/c/1.png");
  assert.equal(card.pay, "0");
  assert.equal(card.opds.authors, "甲, 乙");
  assert.equal(card.id, M.opdsCard("o3", book, "x").id);
  assert.notEqual(card.id, M.opdsCard("o4", book, "x").id);
  assert.match(card.id, /^o3-[0-9a-f]{16}$/);
  assert.equal(M.isOpdsNavigation(card), false);
  assert.equal(M.isOpdsNavigation(M.opdsCard("o3", page.entries[1], "目录")), true);
});

test("texts that are no page are refused", () => {
  for (const text of ['<!DOCTYPE opds [<!ENTITY a "b">]><opds title="&a;"/>', "<feed><entry/></feed>",
                      '<opds title="x"><entry id="1" acq="http://h/1"></opds>', "", "not xml",
                      "<opds></opds><opds></opds>"])
    assert.equal(M.readOpdsPage(text), null, text);
  // Deeply nested elements end in refusal, not in a stack overflow.
  assert.equal(M.readOpdsPage("<opds>" + "<entry>".repeat(50000)), null);
  // A page keeps its first 10,000 entries, each summary cut to 4 KiB.
  const many = M.readOpdsPage("<opds>" + '<entry id="x" acq="http://h/x" summary="' + "s".repeat(5000) + '"/>' +
    '<entry id="y" acq="http://h/y"/>'.repeat(10005) + "</opds>");
  assert.equal(many.entries.length, 10000);
  assert.equal(many.entries[0].summary.length, 4096);
  // An empty page is a page.
  assert.deepEqual(M.readOpdsPage('<opds title="" next="" search="0"></opds>').entries, []);
});

test("the host's answers: catalogues, results and pages", () => {
  const list = M.parseOpdsCatalogues("id=o1|name=我的书库|url=http://h/opds/|user=reader\n" +
    "id=o2|name=|url=https://x/o|user=\nid=../x|name=bad|url=http://h/|user=\nid=o3|name=f|url=file:///etc|user=\n" +
    "id=o1|name=again|url=http://h/|user=\n");
  assert.deepEqual(list.map((c) => [c.id, c.name, c.user]), [["o1", "我的书库", "reader"], ["o2", "https://x/o", ""]]);
  assert.deepEqual(M.parseOpdsCatalogues(""), []);

  assert.deepEqual(M.parseOpdsResult("add|0|o7"), {op: "add", ok: true, code: 0, id: "o7", message: ""});
  const bad = M.parseOpdsResult("add|1|地址不对|真的");
  assert.equal(bad.ok, false);
  assert.equal(bad.message, "地址不对|真的");
  assert.equal(M.parseOpdsResult("open|0|x"), null);

  assert.deepEqual(M.parseOpdsPage("ticket=t-1|code=0|path=public/opds/o1/t-1.xml"),
    {ticket: "t-1", ok: true, code: 0, path: "public/opds/o1/t-1.xml", message: ""});
  const failed = M.parseOpdsPage("ticket=t2|code=9|message=不是 OPDS 目录|第 3 行");
  assert.equal(failed.ok, false);
  assert.equal(failed.message, "不是 OPDS 目录|第 3 行");
  // A path out of the pages' folder is no page.
  assert.equal(M.parseOpdsPage("ticket=t3|code=0|path=public/opds/../../etc/x.xml").ok, false);
  assert.equal(M.parseOpdsPage("ticket=t3|code=0|path=/etc/passwd").ok, false);
  assert.equal(M.parseOpdsPage("ticket=../a|code=0|path=public/opds/o1/a.xml"), null);
});

test("a listing asks for each next once: endless next loops stop", () => {
  const l = M.newOpdsListing("");
  assert.equal(M.opdsNextToAsk(l), "");  // the first page is pending
  M.opdsPageArrived(l, "http://h/p2");
  assert.equal(M.opdsNextToAsk(l), "http://h/p2");
  assert.equal(M.opdsNextToAsk(l), "");  // one at a time
  M.opdsPageArrived(l, "http://h/p3");
  // A failed page may be asked for again.
  assert.equal(M.opdsNextToAsk(l), "http://h/p3");
  M.opdsPageFailed(l, "http://h/p3");
  assert.equal(M.opdsNextToAsk(l), "http://h/p3");
  // Page 3 leads back to page 2: the listing ends.
  M.opdsPageArrived(l, "http://h/p2");
  assert.equal(l.ended, true);
  assert.equal(M.opdsNextToAsk(l), "");
  // A page whose next is itself.
  const stuck = M.newOpdsListing("http://h/s");
  M.opdsPageArrived(stuck, "http://h/s");
  assert.equal(M.opdsNextToAsk(stuck), "");
  // A listing of ever new pages ends too.
  const endless = M.newOpdsListing("");
  let asked = 0;
  for (let i = 0; i < 5000 && !endless.ended; i++) {
    M.opdsPageArrived(endless, "http://h/p" + i);
    if (M.opdsNextToAsk(endless)) asked++;
  }
  assert.equal(asked, M.OPDS_MAX_PAGES - 1);
});

test("the texts of the opds command", () => {
  const T = M.opdsTexts;
  assert.equal(T.add("书库", "http://h/opds/", "reader", "pw"),
    "op=add|name=书库|url=http://h/opds/|user=reader|password=pw");
  assert.equal(T.remove("o1"), "op=remove|id=o1");
  assert.equal(T.open("o1", "", "t1"), "op=open|id=o1|url=|ticket=t1");
  assert.equal(T.open("o1", "http://h/a?x=1|2", "t1"), "op=open|id=o1|url=http://h/a?x=1%7C2|ticket=t1");
  assert.equal(T.search("o1", "  城市 ", "t2"), "op=search|id=o1|terms=城市|ticket=t2");
  assert.equal(T.down("o1", "http://h/1.epub", "书|名", "o1-00"), "op=down|id=o1|url=http://h/1.epub|name=书 名|key=o1-00");
  // A title with "/" or a line break still names a file inside the downloads folder.
  assert.equal(T.down("o1", "http://h/1.epub", "AC/DC\n../x", "k"), "op=down|id=o1|url=http://h/1.epub|name=AC_DC .._x|key=k");
  assert.equal(M.opdsDownloadedFile("/d/", "a/b", "http://h/1.pdf"), "/d/downloads/a_b-1.pdf");
  // The name as the host keeps it (63 bytes), and the file it becomes with no one signed in.
  const long = "红楼梦".repeat(20);
  assert.equal(T.down("o1", "http://h/1.epub", long, "k"), "op=down|id=o1|url=http://h/1.epub|name=" + long.slice(0, 31) + "|key=k");
  assert.equal(M.opdsDownloadedFile("/d/vellari/", long, "http://h/f/1.epub?a|b"),
    "/d/vellari/downloads/" + long.slice(0, 31) + "-1.epub?a%7Cb");
  // A password with the separator, or fields too long, are never sent.
  assert.equal(T.add("n", "http://h/", "u", "a|b"), null);
  assert.equal(T.add("n", "http://h/", "u".repeat(300), ""), null);
  assert.equal(T.search("o1", "书".repeat(200), "t").length, "op=search|id=o1|terms=|ticket=t".length + 127 * 1);
});
