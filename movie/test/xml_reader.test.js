// Reading catalogue files and the settings file, in node's test runner.
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const M = require("../src/model/xml_reader.js");

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
