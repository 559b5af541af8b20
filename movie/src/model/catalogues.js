// The catalogues the movie shows (the five categories, the local files, the search
// results), the groups of the user's shelf and what a category's dates mean.
// One part of the movie's model (see part.js).
(typeof module === "object" ? require("./part.js")(module) : LumoraModelPart)([], function (M) {
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
  // The groups of the user's shelf file, by the view that shows each: the one list of
  // them that the views and the texts sent to the host use.
  var SHELF = {fav: "我的收藏", bought: "已购买", done: "已下载", read: "已阅读", running: "正在下载"};
  var SHELF_GROUPS = Object.keys(SHELF).map(function (k) { return SHELF[k]; });

  // The user shelf file, relative to CurrentDir.
  function shelfFile(user) { return user + "/" + user + ".xml"; }

  // How many items of "已购买" in the shelf |cat| are not among the ids |before| (a Set
  // or an array): what an import of the purchases brought.
  function purchasesBrought(before, cat) {
    var known = before instanceof Set ? before : new Set(before || []);
    var fresh = new Set();
    (cat && cat.groups || []).forEach(function (g) {
      if (g.id === SHELF.bought) g.items.forEach(function (it) { if (!known.has(it.id)) fresh.add(it.id); });
    });
    return fresh.size;
  }
  function importedText(count) {
    return count > 0 ? "已导入 " + count + " 项已购作品" : "没有新的已购作品";
  }

  // What the date of an item means in a category's catalogue (the detail drawer's label):
  // an issue for magazines, publication for books, release for audio and video, a
  // version's release for 杂项; "日期" where the category is not known.
  var DATE_LABELS = {maga: "期号", book: "出版", audio: "发行", mics: "发布", video: "上映"};
  function dateLabel(categoryKey) {
    return Object.prototype.hasOwnProperty.call(DATE_LABELS, categoryKey) ? DATE_LABELS[categoryKey] : "日期";
  }

  return {CATEGORIES: CATEGORIES, LOCAL: LOCAL, SEARCH_FILE: SEARCH_FILE, SHELF: SHELF,
    SHELF_GROUPS: SHELF_GROUPS, shelfFile: shelfFile, purchasesBrought: purchasesBrought,
    importedText: importedText, dateLabel: dateLabel};
});
