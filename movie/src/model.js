// The movie's own logic, free of the page: reading catalogue files, the texts sent to
// the host, download progress and the layout by stage size. Loaded in the page as
// window.LumoraModel and in node's test runner as a module.
(function (root) {
  "use strict";

  // The five category catalogues and the local one, relative to MyAppDataDir.
  var CATEGORIES = [
    {key: "maga", label: "杂志", token: "杂志", file: "public/maga/maga1.xml", glyph: "刊"},
    {key: "book", label: "图书", token: "图书", file: "public/book/book1.xml", glyph: "书"},
    {key: "audio", label: "音频", token: "音频", file: "public/audio/audio1.xml", glyph: "♪"},
    {key: "mics", label: "杂项", token: "程序", file: "public/mics/mics1.xml", glyph: "◆"},
    {key: "video", label: "视频", token: "视频", file: "public/video/video1.xml", glyph: "▶"}
  ];
  var LOCAL = {key: "local", label: "本地文件", token: "本地文件",
               file: "public/local/local1.xml", glyph: "▤"};
  var SEARCH_FILE = "search.xml";
  var SHELF_GROUPS = ["我的收藏", "已购买", "已下载", "已阅读", "正在下载"];
  var ITEM_FIELDS = ["id", "name", "photo", "date", "pay", "price", "DLurl", "RDurl", "BYurl"];
  var MAX_ITEMS = 200000;

  // ---- Text from the catalogue files -------------------------------------------------

  // The declared encoding of an XML text's first bytes; GB2312 and GBK are read as
  // GB18030, their superset.
  function declaredEncoding(bytes) {
    var head = "";
    for (var i = 0; i < bytes.length && i < 200; i++) head += String.fromCharCode(bytes[i]);
    var m = /^\s*<\?xml[^>]*encoding\s*=\s*["']([A-Za-z0-9_.:-]+)["']/.exec(head);
    if (!m) return "utf-8";
    var e = m[1].toLowerCase();
    if (e === "gb2312" || e === "gbk" || e === "gb18030" || e === "euc-cn") return "gb18030";
    if (e === "utf-8" || e === "utf8") return "utf-8";
    return "gb18030";  // every catalogue of this shelf is ANSI text
  }

  function decodeXmlBytes(bytes) {
    if (!(bytes instanceof Uint8Array)) bytes = new Uint8Array(bytes);
    var label = declaredEncoding(bytes);
    try {
      return new TextDecoder(label).decode(bytes);
    } catch (e) {
      return new TextDecoder("utf-8").decode(bytes);
    }
  }

  function decodeEntities(text) {
    if (text.indexOf("&") < 0) return text;
    return text.replace(/&(#x[0-9a-fA-F]{1,6}|#[0-9]{1,7}|lt|gt|amp|quot|apos);/g,
      function (all, name) {
        if (name[0] === "#") {
          var code = name[1] === "x" ? parseInt(name.slice(2), 16) : parseInt(name.slice(1), 10);
          if (!(code > 0 && code <= 0x10FFFF) || (code >= 0xD800 && code <= 0xDFFF)) return "\uFFFD";
          return String.fromCodePoint(code);
        }
        return {lt: "<", gt: ">", amp: "&", quot: "\"", apos: "'"}[name];
      });
  }

  // A reader of an XML text given in pieces (feed), in document order: calls
  // visit(name, attrs, depth) for each element as soon as its tag is whole (depth 0 is
  // the root). end() tells whether the whole text was a document of the kind read here.
  // No DTD, no entity expansion: a document with a DOCTYPE, whose tags do not nest, or of
  // more than |limit| elements is refused (feed and end give false from then on), after
  // the elements before the fault were visited. Text content is ignored: catalogues
  // carry attributes only.
  function elementReader(limit, visit) {
    var stack = [];
    var sawRoot = false;
    var count = 0;
    var failed = false;
    var rest = "";  // the start of a construct not whole yet
    var name = /[^\s\/>="']+/y;
    var attr = /\s*([^\s=\/"']+)\s*=\s*(?:"([^"]*)"|'([^']*)')/y;
    // Reads the constructs of |text| that are whole; the index of the first that is not.
    function scan(text, last) {
      var pos = 0;
      var n = text.length;
      while (pos < n) {
        var lt = text.indexOf("<", pos);
        if (lt < 0) return n;
        // Too little to tell a comment or CDATA from a DOCTYPE: wait for more.
        if (!last && n - lt < 9) return lt;
        var next = text.charCodeAt(lt + 1);
        if (next === 63) {  // "<?"
          var pe = text.indexOf("?>", lt + 2);
          if (pe < 0) return lt;
          pos = pe + 2;
          continue;
        }
        if (next === 33) {  // "<!"
          if (text.startsWith("<!--", lt)) {
            var ce = text.indexOf("-->", lt + 4);
            if (ce < 0) return lt;
            pos = ce + 3;
            continue;
          }
          if (text.startsWith("<![CDATA[", lt)) {
            var de = text.indexOf("]]>", lt + 9);
            if (de < 0) return lt;
            pos = de + 3;
            continue;
          }
          failed = true;  // DOCTYPE and its kin
          return n;
        }
        // The end of the tag: the first ">" outside a quoted value.
        var i = lt + 1;
        var quote = 0;
        for (; i < n; i++) {
          var c = text.charCodeAt(i);
          if (quote) { if (c === quote) quote = 0; }
          else if (c === 34 || c === 39) quote = c;
          else if (c === 62) break;
          else if (c === 60) { failed = true; return n; }
        }
        if (i >= n) return lt;
        pos = i + 1;
        if (next === 47) {  // "</"
          var closing = text.slice(lt + 2, i).trim();
          if (!stack.length || stack[stack.length - 1] !== closing) { failed = true; return n; }
          stack.pop();
          continue;
        }
        var bodyEnd = text.charCodeAt(i - 1) === 47 ? i - 1 : i;
        var selfClosing = bodyEnd < i;
        name.lastIndex = lt + 1;
        var nm = name.exec(text);
        if (!nm || name.lastIndex > bodyEnd || (stack.length === 0 && sawRoot)) {  // a second root
          failed = true;
          return n;
        }
        sawRoot = true;
        // Attributes, in the tag's own text: what is no attribute between them is skipped.
        var attrs = {};
        var at = name.lastIndex;
        while (at < bodyEnd) {
          attr.lastIndex = at;
          var m = attr.exec(text);
          if (!m || attr.lastIndex > bodyEnd) { at++; continue; }
          if (!Object.prototype.hasOwnProperty.call(attrs, m[1]))
            attrs[m[1]] = decodeEntities(m[2] !== undefined ? m[2] : m[3]);
          at = attr.lastIndex;
        }
        if (++count > limit) { failed = true; return n; }
        visit(nm[0], attrs, stack.length);
        if (!selfClosing) stack.push(nm[0]);
      }
      return n;
    }
    return {
      feed: function (piece) {
        if (failed) return false;
        var text = rest + piece;
        rest = text.slice(scan(text, false));
        // No tag or comment of a catalogue is this long: waiting for its end would
        // only read the rest of a hostile file again and again.
        if (rest.length > 1048576) failed = true;
        return !failed;
      },
      end: function () {
        if (!failed && rest) rest = rest.slice(scan(rest, true));
        return !failed && !rest && !stack.length && sawRoot;
      }
    };
  }
  function eachElement(text, limit, visit) {
    var reader = elementReader(limit, visit);
    reader.feed(text);
    return reader.end();
  }

  // The elements of an XML text in document order: [{name, attrs, depth}], or null when
  // eachElement refuses it.
  function parseXmlElements(text, limit) {
    var out = [];
    var ok = eachElement(text, limit || MAX_ITEMS * 2, function (name, attrs, depth) {
      out.push({name: name, attrs: attrs, depth: depth});
    });
    return ok ? out : null;
  }

  // A catalogue: {category, groups: [{id, items}], items} with items in file order,
  // each holding the nine attributes (missing ones empty) and its group id. A text that
  // is no catalogue gives null; an empty catalogue gives no items.
  // |onPart|, when given, is handed the items read so far in parts as the reading goes
  // on: [{index, id, items}], the items each group gained since the last part (a group
  // first named with its index in groups). The first part is small, so that a view can
  // show its first cards early; a text refused at its end has still been handed out in
  // parts, and its null result says that none of them count.
  function parseCatalogue(text, limit, onPart) {
    var reader = catalogueReader(limit, onPart);
    reader.feed(text);
    return reader.end();
  }
  // The same, for a text given in pieces: feed(piece) (false once the text is refused),
  // then end() gives the catalogue or null.
  function catalogueReader(limit, onPart) {
    var result = {category: "", groups: [], items: []};
    var group = null;
    var max = limit || MAX_ITEMS;
    var sent = [];  // per group, how many of its items were handed out
    var size = 200, since = 0;
    function part() {
      var out = [];
      for (var g = 0; g < result.groups.length; g++) {
        var from = sent[g] || 0;
        var all = result.groups[g].items;
        if (from < all.length) out.push({index: g, id: result.groups[g].id, items: all.slice(from)});
        sent[g] = all.length;
      }
      since = 0;
      size = Math.min(size * 2, 2000);
      if (out.length) onPart(out);
    }
    var elements = elementReader(MAX_ITEMS * 2 + 10000, function (name, attrs, depth) {
      if (depth === 0) result.category = attrs["分类"] || "";
      else if (depth === 1) {
        group = {id: attrs.id || "", items: []};
        result.groups.push(group);
      } else if (depth === 2 && group) {
        if (result.items.length >= max) return;
        var item = {group: group.id};
        for (var f = 0; f < ITEM_FIELDS.length; f++)
          item[ITEM_FIELDS[f]] = attrs[ITEM_FIELDS[f]] || "";
        if (!item.id) return;
        group.items.push(item);
        result.items.push(item);
        if (onPart && ++since >= size) part();
      }
    });
    return {
      feed: function (piece) { return elements.feed(piece); },
      end: function () {
        if (!elements.end()) return null;
        if (onPart) part();
        return result;
      }
    };
  }

  // For each group of |groups|, the places of its items in |order| ("date" or "name"),
  // as orderGroups would put them: an Int32Array per group, kept by orderGroups.
  function orderPlaces(groups, order) {
    return orderGroups(groups.map(function (g) {
      return {id: g.id, items: g.items.map(function (item, index) {
        return {name: item.name, id: item.id, date: item.date, index: index};
      })};
    }), order).map(function (g) {
      return Int32Array.from(g.items, function (k) { return k.index; });
    });
  }

  // The stored settings of the settings file: {sound, autorun, websetting} ("" unknown).
  function parseSettings(text) {
    var elements = parseXmlElements(text, 10000) || [];
    var found = {sound: "", autorun: "", websetting: ""};
    elements.forEach(function (e) {
      if (e.name === "item" && Object.prototype.hasOwnProperty.call(found, e.attrs.id))
        found[e.attrs.id] = e.attrs.value || "";
    });
    return found;
  }

  // ---- Texts sent to the host --------------------------------------------------------

  // Bytes of |text| in the host's code page: one for ASCII, two for a Chinese
  // character, four for what lies beyond.
  function ansiLength(text) {
    var n = 0;
    for (var ch of text) { var c = ch.codePointAt(0); n += c < 0x80 ? 1 : c < 0x10000 ? 2 : 4; }
    return n;
  }
  // |text| cut between characters to at most |max| bytes of the code page.
  function cutToBytes(text, max) {
    var out = "";
    var n = 0;
    for (var ch of text) {
      var c = ch.codePointAt(0);
      var w = c < 0x80 ? 1 : c < 0x10000 ? 2 : 4;
      if (n + w > max) break;
      out += ch;
      n += w;
    }
    return out;
  }

  // A field list "key=value|key=value": null when a value holds the separator "|" or a
  // zero, or does not fit its field (limits in bytes of the code page, zero included).
  function fields(list) {
    var parts = [];
    for (var i = 0; i < list.length; i++) {
      var v = String(list[i][1]);
      if (v.indexOf("|") >= 0 || v.indexOf("\0") >= 0) return null;
      if (list[i][2] && ansiLength(v) > list[i][2] - 1) return null;
      parts.push(list[i][0] + "=" + v);
    }
    return parts.join("|");
  }

  var texts = {
    // "logon": user name, password and two unused fields.
    logon: function (name, password) {
      return fields([["username", name, 64], ["password", password, 64], ["remember", "0"],
                     ["auto", "0"]]);
    },
    // "addfav", "read", "Del": the item reference.
    itemRef: function (catalogue, group, id) {
      return fields([["type", "item", 64], ["file", catalogue, 256], ["group", group, 64],
                     ["id", id, 64]]);
    },
    down: function (catalogue, group, id, url) {
      return fields([["type", "item", 64], ["file", catalogue, 256], ["group", group, 64],
                     ["id", id, 64], ["url", url, 256]]);
    },
    pause: function (id) { return fields([["id", id, 64], ["state", "false", 12]]); },
    resume: function (id, name, url) {
      return fields([["id", id, 64], ["state", "true", 12],
                     ["name", cutToBytes(name, 63), 64], ["url", url, 256]]);
    },
    // "search": the results file, the keyword (cut to its field) and the categories.
    search: function (keyword, tokens) {
      return fields([["file", SEARCH_FILE, 256], ["key", cutToBytes(keyword, 63), 64],
                     ["type", tokens.join("&"), 256]]);
    },
    share: function (site, title) {
      var one = cutToBytes(title, 63);
      var two = cutToBytes(title.slice(one.length), 255);
      return fields([["site", site, 256], ["title", one, 64], ["more", two, 256]]);
    },
    settings: function (sound, autorun, web) {
      return fields([["sound", sound ? "1" : "0", 10], ["autorun", autorun ? "1" : "0", 10],
                     ["websetting", web ? "1" : "0", 10]]);
    }
  };
  var SHARE_SITES = ["新浪微博", "腾讯微博", "开心网"];

  // The user shelf file, relative to CurrentDir.
  function shelfFile(user) { return user + "/" + user + ".xml"; }

  // ---- Download progress -------------------------------------------------------------

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

  // A text of the host shown as it is, on one line and of a bounded length.
  function plainMessage(text, max) {
    var t = String(text).replace(/[\u0000-\u001f\u007f]+/g, " ").trim();
    return t.length > max ? t.slice(0, max - 1) + "…" : t;
  }

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

  // A shelf download as the movie shows it: {state, percent (-1 unknown), message}.
  // "waiting": asked for, not yet reported by the host (whose only sign of a download
  // under way is its first DLRatio report); "running", "paused", "failed" (message
  // from the host), "done". Events: {type: "asked"} ("down" or a resume sent),
  // {type: "ratio", percent}, {type: "paused"}, {type: "result", ok, message},
  // {type: "partial", percent} (how far a paused one got before the program last ended).
  function downloadAfter(d, event) {
    var next = {state: d.state, percent: d.percent, message: d.message || ""};
    var live = d.state === "waiting" || d.state === "running";
    if (event.type === "asked") {
      next = {state: "waiting", percent: -1, message: ""};
    } else if (event.type === "ratio") {
      // A late report of a paused, failed or finished download changes nothing.
      if (live) { next.state = "running"; next.percent = event.percent; }
    } else if (event.type === "partial") {
      // Only a download that is not under way yet shows what an earlier run kept.
      if (d.state === "paused") next.percent = event.percent;
    } else if (event.type === "paused") {
      if (live) next.state = "paused";
    } else if (event.type === "result") {
      if (event.ok) next = {state: "done", percent: 100, message: ""};
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

  // ---- Covers ------------------------------------------------------------------------

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

  function isPaid(item) { return item.pay !== "0" && parseFloat(item.price) > 0; }
  // "¥6.00", "免费", or "已购" for a paid item the user bought.
  function priceLabel(item, bought) {
    if (!isPaid(item)) return {text: "免费", kind: "free"};
    if (bought) return {text: "已购", kind: "bought"};
    return {text: "¥" + parseFloat(item.price).toFixed(2), kind: "paid"};
  }

  // The main action of an item: "retry", "resume", "read", "buy", "download" or ""
  // (none). |dl| is its download (or null); |shelf| says what the user's shelf knows:
  // {file: the path to open ("" none), downloaded: in "已下载", bought}. A downloaded
  // item is never offered for download again; a paid item not bought is offered for
  // sale when it has a shop address.
  function mainActionOf(item, dl, shelf) {
    var state = dl ? dl.state : "";
    if (state === "failed") return "retry";
    if (state === "paused") return "resume";
    if (shelf.file) return "read";
    if (shelf.downloaded || state) return "";
    if (isPaid(item) && !shelf.bought && /^https?:\/\//i.test(item.BYurl)) return "buy";
    return item.DLurl ? "download" : "";
  }

  // ---- Layout ------------------------------------------------------------------------

  var COVERS = {S: {w: 96, h: 128}, M: {w: 132, h: 176}, L: {w: 168, h: 224}};

  // The layout for a stage of |x| by |y| pixels (at least 800x570).
  function layoutFor(x, y) {
    var w = Math.max(800, Number(x) || 0);
    var h = Math.max(570, Number(y) || 0);
    if (w >= 1600) return {width: w, height: h, band: 80, nav: 220, pad: 32, gap: 24,
                           cover: "L", drawer: 360, drawerBeside: true};
    if (w >= 1024) return {width: w, height: h, band: 80, nav: 200, pad: 24, gap: 24,
                           cover: "M", drawer: 320, drawerBeside: false};
    return {width: w, height: h, band: 80, nav: 72, pad: 16, gap: 16, cover: "S",
            drawer: 300, drawerBeside: false};
  }
  function columnsFor(width, card, gap) {
    return Math.max(1, Math.floor((width + gap) / (card + gap)));
  }

  // Sections flattened into rows of fixed pitch: a header row per group (when there is
  // more than one) and card rows of |columns| items. Each row: {kind, top, height, ...}.
  function flattenRows(groups, columns, cardRow, headerRow) {
    var rows = [];
    var top = 0;
    var withHeaders = groups.length > 1;
    groups.forEach(function (g) {
      if (withHeaders) {
        rows.push({kind: "header", top: top, height: headerRow, group: g.id,
                   count: g.items.length, collapsed: !!g.collapsed});
        top += headerRow;
      }
      if (g.collapsed) return;
      for (var i = 0; i < g.items.length; i += columns) {
        rows.push({kind: "cards", top: top, height: cardRow, items: g.items.slice(i, i + columns),
                   first: i});
        top += cardRow;
      }
    });
    return {rows: rows, height: top};
  }
  // The indices [first, last) of the rows that meet the view, with |overscan| rows more
  // on each side.
  function visibleRows(rows, scrollTop, viewHeight, overscan) {
    var lo = 0, hi = rows.length;
    while (lo < hi) {  // the first row whose bottom is below scrollTop
      var mid = (lo + hi) >> 1;
      if (rows[mid].top + rows[mid].height <= scrollTop) lo = mid + 1; else hi = mid;
    }
    var first = lo;
    var last = first;
    while (last < rows.length && rows[last].top < scrollTop + viewHeight) last++;
    return {first: Math.max(0, first - overscan), last: Math.min(rows.length, last + overscan)};
  }

  // ---- Order and sections --------------------------------------------------------

  // The orders a view can be shown in; the catalogue's own groups stay the sections in
  // each, so that every order can jump to a group.
  var ORDERS = [{key: "group", label: "默认分组"}, {key: "date", label: "日期"},
                {key: "name", label: "名称"}];
  function isOrder(key) {
    return ORDERS.some(function (o) { return o.key === key; });
  }
  function orderLabel(key) {
    for (var i = 0; i < ORDERS.length; i++) if (ORDERS[i].key === key) return ORDERS[i].label;
    return ORDERS[0].label;
  }
  // Where a view's order is remembered (the page's local storage outlives the program).
  function orderStorageKey(viewKey) { return "lumora.order." + viewKey; }
  // The remembered order of a view from |storage| (anything with getItem), "group" when
  // none is, the storage is unusable or holds something else.
  function storedOrder(storage, viewKey) {
    var value = null;
    try { value = storage ? storage.getItem(orderStorageKey(viewKey)) : null; } catch (e) { value = null; }
    return isOrder(value) ? value : "group";
  }

  // The numbers of a date text in their order ("2026-01" gives [2026, 1], "2026年第3期"
  // [2026, 3]): catalogue dates are free text, and comparing their numbers in turn
  // orders years, months, days and numbered editions alike. None gives an empty list.
  function dateNumbers(text) {
    var found = String(text || "").match(/[0-9]+/g) || [];
    return found.slice(0, 4).map(function (d) { return parseInt(d.slice(0, 9), 10); });
  }
  // Newer first: the later of two number lists sorts before; a date without numbers
  // sorts after every dated one.
  function compareDates(a, b) {
    if (!a.length || !b.length) return (a.length ? 0 : 1) - (b.length ? 0 : 1);
    for (var i = 0; i < a.length && i < b.length; i++) if (a[i] !== b[i]) return b[i] - a[i];
    return b.length - a.length;
  }

  var nameCollator = null;
  // Names in the order of their pinyin, numbers inside them by value (第2期 before 第12期).
  function collator() {
    if (!nameCollator) nameCollator = new Intl.Collator("zh-CN", {numeric: true});
    return nameCollator;
  }

  // The groups with their items in |order|: "group" keeps the file's order; "date" puts
  // the newest first; "name" sorts by name in pinyin order. Ties keep the file's order.
  // The groups and items themselves are shared, never changed.
  function orderGroups(groups, order) {
    if (order !== "date" && order !== "name") return groups;
    var compareNames = collator().compare;
    return groups.map(function (g) {
      var places = g.places && g.places[order];
      if (places && places.length === g.items.length) {
        var sorted = {};
        Object.keys(g).forEach(function (k) { sorted[k] = g[k]; });
        sorted.items = Array.from(places, function (p) { return g.items[p]; });
        return sorted;
      }
      var keyed = g.items.map(function (item, index) {
        return {item: item, index: index, date: order === "date" ? dateNumbers(item.date) : null,
                name: item.name || item.id};
      });
      keyed.sort(function (a, b) {
        var c = order === "date" ? compareDates(a.date, b.date) : compareNames(a.name, b.name);
        return c || a.index - b.index;
      });
      var copy = {};
      Object.keys(g).forEach(function (k) { copy[k] = g[k]; });
      copy.items = keyed.map(function (k) { return k.item; });
      return copy;
    });
  }

  // The sections of flattened rows a jump can go to: [{group, count, top}] in order, the
  // top being that of the group's header row.
  function sectionsOf(rows) {
    return rows.filter(function (r) { return r.kind === "header"; }).map(function (r) {
      return {group: r.group, count: r.count, top: r.top};
    });
  }
  // The scroll position that brings |group|'s section header to the top of the view
  // (rows start |offset| below the scroller's top; the scroller itself stops at its
  // end); null when the group has no section.
  function jumpTop(rows, group, offset) {
    for (var i = 0; i < rows.length; i++)
      if (rows[i].kind === "header" && rows[i].group === group) return rows[i].top + (offset || 0);
    return null;
  }

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

  // ---- Purchases and the first run ---------------------------------------------------

  // How many items of "已购买" in the shelf |cat| are not among the ids |before| (a Set
  // or an array): what an import of the purchases brought.
  function purchasesBrought(before, cat) {
    var known = before instanceof Set ? before : new Set(before || []);
    var fresh = new Set();
    (cat && cat.groups || []).forEach(function (g) {
      if (g.id === "已购买") g.items.forEach(function (it) { if (!known.has(it.id)) fresh.add(it.id); });
    });
    return fresh.size;
  }
  function importedText(count) {
    return count > 0 ? "已导入 " + count + " 项已购作品" : "没有新的已购作品";
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

  // ---- Views: date labels, search groups, local filter --------------------------------

  // What the date of an item means in a category's catalogue (the detail drawer's label):
  // an issue for magazines, publication for books, release for audio and video, a
  // version's release for 杂项; "日期" where the category is not known.
  var DATE_LABELS = {maga: "期号", book: "出版", audio: "发行", mics: "发布", video: "上映"};
  function dateLabel(categoryKey) {
    return Object.prototype.hasOwnProperty.call(DATE_LABELS, categoryKey) ? DATE_LABELS[categoryKey] : "日期";
  }

  // Search results (one list, in the host's order) grouped by the catalogue each item
  // comes from: |sources| is [{label, ids}] in the order searched (ids: a Set of the
  // catalogue's item ids); an item of none of them goes to "其他". Groups in the order of
  // |sources|, empty ones left out; the items themselves are shared, never changed.
  function groupByCategory(items, sources) {
    var groups = sources.map(function (s) { return {id: s.label, items: []}; });
    var other = {id: "其他", items: []};
    items.forEach(function (item) {
      for (var i = 0; i < sources.length; i++)
        if (sources[i].ids.has(item.id)) { groups[i].items.push(item); return; }
      other.items.push(item);
    });
    return groups.concat([other]).filter(function (g) { return g.items.length > 0; });
  }

  // The groups whose items' name or date holds |text| (ignoring case and the spaces
  // around it); every group when it is empty. Groups left empty are left out.
  function filterGroups(groups, text) {
    var needle = String(text || "").trim().toLowerCase();
    if (!needle) return groups;
    return groups.map(function (g) {
      return {id: g.id, items: g.items.filter(function (it) {
        return (it.name || it.id).toLowerCase().indexOf(needle) >= 0 ||
               String(it.date || "").toLowerCase().indexOf(needle) >= 0;
      })};
    }).filter(function (g) { return g.items.length > 0; });
  }

  var api = {
    CATEGORIES: CATEGORIES, LOCAL: LOCAL, ITEM_FIELDS: ITEM_FIELDS, SEARCH_FILE: SEARCH_FILE, SHELF_GROUPS: SHELF_GROUPS,
    SHARE_SITES: SHARE_SITES, COVERS: COVERS,
    declaredEncoding: declaredEncoding, decodeXmlBytes: decodeXmlBytes,
    decodeEntities: decodeEntities, parseXmlElements: parseXmlElements,
    parseCatalogue: parseCatalogue, catalogueReader: catalogueReader, orderPlaces: orderPlaces, parseSettings: parseSettings,
    ansiLength: ansiLength, cutToBytes: cutToBytes, texts: texts, shelfFile: shelfFile,
    parseDLRatio: parseDLRatio, isDLRatioName: isDLRatioName,
    parseDownloadResult: parseDownloadResult, downloadAfter: downloadAfter,
    downloadStateText: downloadStateText, isPaid: isPaid, mainActionOf: mainActionOf,
    coverUrl: coverUrl, fileUrl: fileUrl, pictureSize: pictureSize, coverFit: coverFit, tileHue: tileHue, priceLabel: priceLabel,
    layoutFor: layoutFor, columnsFor: columnsFor, flattenRows: flattenRows,
    visibleRows: visibleRows,
    ORDERS: ORDERS, isOrder: isOrder, orderLabel: orderLabel, orderStorageKey: orderStorageKey,
    storedOrder: storedOrder, dateNumbers: dateNumbers, compareDates: compareDates,
    orderGroups: orderGroups, sectionsOf: sectionsOf, jumpTop: jumpTop,
    parseUpdateResult: parseUpdateResult, updateOutcome: updateOutcome,
    purchasesBrought: purchasesBrought, importedText: importedText, firstRunState: firstRunState,
    dateLabel: dateLabel, groupByCategory: groupByCategory, filterGroups: filterGroups
  };
  if (typeof module !== "undefined" && module.exports) module.exports = api;
  else root.LumoraModel = api;
})(this);
