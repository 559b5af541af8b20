// The catalogue reader's worker: reads one catalogue file's bytes off the page's main
// thread, with the model's own parser (loaded before this text in the same worker).
// Asked {bytes, order}, it answers in turn:
//   {type: "part", groups: [{index, id, items}]}   items read so far, in parts;
//   {type: "end", ok, category}                    the whole file read, or refused;
//   {type: "places", order, places: [Int32Array]}  each group's items in |order|, the
//                                                  asked order first, then the other.
// The page ends the worker once it has what it needs.
(function () {
  "use strict";
  var M = self.LumoraModel;
  self.onmessage = function (e) {
    var cat = M.parseCatalogue(M.decodeXmlBytes(e.data.bytes), 0, function (groups) {
      self.postMessage({type: "part", groups: groups});
    });
    self.postMessage({type: "end", ok: !!cat, category: cat ? cat.category : ""});
    if (!cat) return;
    var orders = e.data.order === "name" ? ["name", "date"] : ["date", "name"];
    orders.forEach(function (order) {
      var places = M.orderPlaces(cat.groups, order);
      self.postMessage({type: "places", order: order, places: places},
                       places.map(function (p) { return p.buffer; }));
    });
  };
})();
