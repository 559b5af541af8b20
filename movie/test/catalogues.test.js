// The shelf's groups, in node's test runner.
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
const M = Object.assign({}, require("../src/model/catalogues.js"), require("../src/model/xml_reader.js"));

test("an import of the purchases counts only what 已购买 did not hold", () => {
  const shelf = M.parseCatalogue('<书架><分类 id="我的收藏"><i id="b1"/></分类>' +
    '<分类 id="已购买"><i id="m1"/><i id="b1"/><i id="a9"/><i id="a9"/></分类></书架>');
  assert.equal(M.purchasesBrought(new Set(["m1"]), shelf), 2);
  assert.equal(M.purchasesBrought(["m1", "b1", "a9"], shelf), 0);
  assert.equal(M.purchasesBrought([], null), 0);
  assert.equal(M.importedText(2), "已导入 2 项已购作品");
  assert.equal(M.importedText(0), "没有新的已购作品");
});
