// Cover pictures: their addresses, sizes and fit, in node's test runner.
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
const fs = require("node:fs");
const path = require("node:path");
const M = require("../src/model/covers.js");

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
