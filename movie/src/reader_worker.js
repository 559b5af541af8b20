// The catalogue reader's worker: reads one catalogue file off the page's main thread,
// as its bytes arrive, with the model's own parser (loaded before this text in the same
// worker). Asked {url, order}, it answers in turn:
//   {type: "part", groups: [{index, id, fields}]}  items read so far, in parts, each
//                                                  group's as one list of their fields;
//   {type: "end", ok, category}                    the whole file read, or refused
//                                                  (missing, unreadable, no catalogue);
// It reads on after a part (sorts after the end) only once the page answered
// {kind: "took"}: the page shows a part and the reader waits, rather than both
// competing for the processors of a small machine.
//   {type: "places", order, places: [Int32Array]}  each group's items in |order|, the
//                                                  asked order first, then the other.
// The page ends the worker once it has what it needs.
(function () {
  "use strict";
  var M = self.LumoraModel;
  // The parts (and end) posted and not yet taken by the page; the wait for them.
  var untaken = 0, onTaken = null;
  function post(message, transfer) {
    untaken++;
    self.postMessage(message, transfer);
  }
  function taken() {
    return untaken ? new Promise(function (resolve) { onTaken = resolve; }) : Promise.resolve();
  }

  // Reads |response|'s body into |reader| piece by piece, decoded as its first bytes
  // declare; resolves to the catalogue, or null as soon as the text is refused.
  function readBody(response, reader) {
    var body = response.body.getReader();
    var decoder = null;
    var head = new Uint8Array(0);
    function feed(bytes, last) {
      if (!decoder) {
        // The declared encoding needs the first 200 bytes (or all there are).
        var joined = new Uint8Array(head.length + bytes.length);
        joined.set(head);
        joined.set(bytes, head.length);
        if (joined.length < 200 && !last) { head = joined; return true; }
        try { decoder = new TextDecoder(M.declaredEncoding(joined)); } catch (e) { decoder = new TextDecoder("utf-8"); }
        bytes = joined;
      }
      return reader.feed(decoder.decode(bytes, {stream: !last}));
    }
    function next() {
      return body.read().then(function (chunk) {
        if (chunk.done) { feed(new Uint8Array(0), true); return reader.end(); }
        if (feed(chunk.value, false)) return taken().then(next);
        body.cancel();
        return null;
      });
    }
    return next();
  }

  // An OPDS page file, asked {url, kind: "opds"}: read whole (the host bounds it) and
  // answered {type: "opds", readable, page} (page null when the file is no page).
  function readOpdsPage(url) {
    fetch(url, {cache: "no-store"}).then(function (response) {
      return response.ok || response.status === 0 ? response.arrayBuffer() : null;
    }).then(function (buffer) {
      if (!buffer) { self.postMessage({type: "opds", readable: false}); return; }
      self.postMessage({type: "opds", readable: true, page: M.readOpdsPage(M.decodeXmlBytes(new Uint8Array(buffer)))});
    }, function () { self.postMessage({type: "opds", readable: false}); });
  }

  self.onmessage = function (e) {
    if (e.data.kind === "took") {
      if (--untaken <= 0 && onTaken) { untaken = 0; var go = onTaken; onTaken = null; go(); }
      return;
    }
    if (e.data.kind === "opds") { readOpdsPage(e.data.url); return; }
    var cat = null;
    // Items travel as one flat list of their fields, which the page takes in far sooner
    // than as objects.
    var fields = M.ITEM_FIELDS, width = fields.length;
    var reader = M.catalogueReader(0, function (groups) {
      post({type: "part", groups: groups.map(function (g) {
        var flat = new Array(g.items.length * width);
        for (var i = 0, k = 0; i < g.items.length; i++)
          for (var f = 0; f < width; f++) flat[k++] = g.items[i][fields[f]];
        return {index: g.index, id: g.id, fields: flat};
      })});
    });
    fetch(e.data.url, {cache: "no-store"}).then(function (response) {
      return response.ok || response.status === 0 ? readBody(response, reader) : null;
    }).then(function (read) { cat = read; }, function () { cat = null; }).then(function () {
      post({type: "end", ok: !!cat, category: cat ? cat.category : ""});
      if (cat) return taken().then(function () { sortPlaces(cat, e.data.order); });
    });
  };
  // Each group's places in both orders, the |asked| one first.
  function sortPlaces(cat, asked) {
    var orders = asked === "name" ? ["name", "date"] : ["date", "name"];
    orders.forEach(function (order) {
      var places = M.orderPlaces(cat.groups, order);
      self.postMessage({type: "places", order: order, places: places},
                       places.map(function (p) { return p.buffer; }));
    });
  }
})();
