// What an item offers, in node's test runner.
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
const M = require("../src/model/items.js");

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
