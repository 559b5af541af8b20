// Reading catalogue files and the settings file: their encoding, a streaming reader of
// their elements, catalogues read whole or in parts. Run by the reader worker too.
// One part of the movie's model (see part.js).
(typeof module === "object" ? require("./part.js")(module) : LumoraModelPart)([], function (M) {
  "use strict";

  var ITEM_FIELDS = ["id", "name", "photo", "date", "pay", "price", "DLurl", "RDurl", "BYurl"];
  var MAX_ITEMS = 200000;

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

  return {ITEM_FIELDS: ITEM_FIELDS, declaredEncoding: declaredEncoding,
    decodeXmlBytes: decodeXmlBytes, decodeEntities: decodeEntities,
    elementReader: elementReader, parseXmlElements: parseXmlElements, parseCatalogue: parseCatalogue,
    catalogueReader: catalogueReader, parseSettings: parseSettings};
});
