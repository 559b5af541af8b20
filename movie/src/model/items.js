// What an item offers: whether it is paid, its price label and its main action.
// One part of the movie's model (see part.js).
(typeof module === "object" ? require("./part.js")(module) : LumoraModelPart)([], function (M) {
  "use strict";

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

  return {isPaid: isPaid, priceLabel: priceLabel, mainActionOf: mainActionOf};
});
