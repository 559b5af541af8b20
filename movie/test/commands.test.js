// The texts sent to the host, in node's test runner.
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
const M = Object.assign({}, require("../src/model/commands.js"), require("../src/model/catalogues.js"));

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
