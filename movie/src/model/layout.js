// The layout by stage size: the band, the navigation, the cover size and the drawer,
// and the columns of covers a width holds.
// One part of the movie's model (see part.js).
(typeof module === "object" ? require("./part.js")(module) : LumoraModelPart)([], function (M) {
  "use strict";

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

  return {COVERS: COVERS, layoutFor: layoutFor, columnsFor: columnsFor};
});
