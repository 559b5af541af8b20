// How each part of the movie's model joins the others. A part is a function of the
// names of the parts it needs (M) that returns its own names.
// - In the page (and the reader worker), the parts are put in the order they need each
//   other, and each part's names are added to the one LumoraModel of the page.
// - In node's test runner, each part is a module: its names are its exports, and it
//   sees those of the parts it lists (paths beside this file).
// Each part starts with
//   (typeof module === "object" ? require("./part.js")(module) : LumoraModelPart)(
//       ["./needed.js"], function (M) { ... return {names}; });
(function (root) {
  "use strict";
  if (typeof module === "object" && module.exports) {
    module.exports = function (part) {
      return function (deps, factory) {
        var needed = deps.map(function (d) { return require(d); });
        part.exports = factory(Object.assign.apply(null, [{}].concat(needed)));
      };
    };
  } else {
    root.LumoraModelPart = function (deps, factory) {
      var M = root.LumoraModel = root.LumoraModel || {};
      Object.assign(M, factory(M));
    };
  }
})(this);
