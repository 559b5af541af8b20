// Cover pictures: where each is loaded from, the size a picture declares, how it fits
// its frame, and the colour of a generated tile.
// One part of the movie's model (see part.js).
(typeof module === "object" ? require("./part.js")(module) : LumoraModelPart)([], function (M) {
  "use strict";

  // Where a cover picture is loaded from: web addresses as they are, paths relative to
  // the data folder through the movie's own address; anything else (other schemes, a
  // way out of the folder) has no picture (null).
  function coverUrl(photo, base) {
    var p = String(photo || "").trim();
    if (!p) return null;
    if (/^https?:\/\/[^\s]+$/i.test(p)) return p;
    if (/^[a-z][a-z0-9+.-]*:/i.test(p)) return null;
    var segments = p.replace(/\\/g, "/").split("/").filter(function (s) {
      return s !== "" && s !== ".";
    });
    if (!segments.length || segments.indexOf("..") >= 0) return null;
    return (base || "lumora://movie/data/") + segments.map(encodeURIComponent).join("/");
  }
  function fileUrl(folder, relative) {
    return "lumora://movie/" + folder + "/" +
      relative.split("/").map(encodeURIComponent).join("/");
  }

  // The pixel size {w, h} a PNG, GIF or JPEG picture declares in its first bytes; null
  // for anything else, or a size of nothing.
  function pictureSize(bytes) {
    var b = bytes, n = b.length;
    var size = null;
    if (n >= 24 && b[0] === 0x89 && b[1] === 0x50 && b[2] === 0x4E && b[3] === 0x47) {
      size = {w: ((b[16] << 24) | (b[17] << 16) | (b[18] << 8) | b[19]) >>> 0,
              h: ((b[20] << 24) | (b[21] << 16) | (b[22] << 8) | b[23]) >>> 0};
    } else if (n >= 10 && b[0] === 0x47 && b[1] === 0x49 && b[2] === 0x46) {
      size = {w: b[6] | (b[7] << 8), h: b[8] | (b[9] << 8)};
    } else if (n >= 4 && b[0] === 0xFF && b[1] === 0xD8) {
      // JPEG: the segments up to the first frame header (SOF0..SOF15 but DHT, JPG, DAC).
      var i = 2;
      while (i + 9 < n) {
        if (b[i] !== 0xFF) return null;
        var marker = b[i + 1];
        if (marker === 0xFF) { i++; continue; }
        var length = (b[i + 2] << 8) | b[i + 3];
        if (marker >= 0xC0 && marker <= 0xCF && marker !== 0xC4 && marker !== 0xC8 && marker !== 0xCC) {
          size = {w: (b[i + 7] << 8) | b[i + 8], h: (b[i + 5] << 8) | b[i + 6]};
          break;
        }
        if (length < 2) return null;
        i += 2 + length;
      }
    }
    return size && size.w > 0 && size.h > 0 ? size : null;
  }
  // Where a picture of |w| x |h| is drawn in a frame of |fw| x |fh|: filling the frame
  // (its overflow cut) when its shape is within 10% of the frame's, else whole inside
  // it, centred. {x, y, w, h, fill}, in the frame's units.
  function coverFit(w, h, fw, fh) {
    var fill = Math.abs(w / h - fw / fh) / (fw / fh) < 0.1;
    var scale = fill ? Math.max(fw / w, fh / h) : Math.min(fw / w, fh / h);
    var dw = w * scale, dh = h * scale;
    return {x: (fw - dw) / 2, y: (fh - dh) / 2, w: dw, h: dh, fill: fill};
  }

  // A stable colour for a generated cover tile.
  function tileHue(id) {
    var h = 0;
    for (var i = 0; i < id.length; i++) h = (h * 31 + id.charCodeAt(i)) >>> 0;
    return h % 360;
  }

  return {coverUrl: coverUrl, fileUrl: fileUrl, pictureSize: pictureSize, coverFit: coverFit,
    tileHue: tileHue};
});
