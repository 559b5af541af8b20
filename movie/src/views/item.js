// An item: its detail drawer, its menu and the commands that act on it.
(function (L) {
  "use strict";
  var M = L.model;
  var h = L.h;
  var T = M.texts;

  function source(item) {
    var v = L.state.view;
    return {catalogue: L.catalogueOf(v), group: item.group};
  }
  function needUser(what) {
    if (L.state.signedIn) return true;
    L.toast("请先登录，再" + what, {action: {label: "登录", run: L.account.open}});
    return false;
  }

  // Removals that wait for their undo: id -> {timer, send}. The host is asked ("Del") only
  // once the undo toast has gone, so 撤销 needs nothing of the host; a page that goes
  // away sends what is waiting.
  var removals = new Map();
  function commitRemoval(id) {
    var r = removals.get(id);
    if (!r) return;
    clearTimeout(r.timer);
    removals.delete(id);
    r.send();
  }
  window.addEventListener("pagehide", function () { Array.from(removals.keys()).forEach(commitRemoval); });

  // The category whose meaning an item's date has: the view's, or for search results the
  // catalogue the item was found in.
  function categoryOf(it) {
    var v = L.state.view || {};
    if (v.category) return v.category;
    if (v.local) return "local";
    return (L.state.searchCategory && L.state.searchCategory.get(it.id)) || "";
  }

  var item = {
    // The file to open: the item's own, the one downloaded into "已下载", or an OPDS
    // book's downloaded with no one signed in.
    fileOf: function (it) { return it.RDurl || L.account.fileOf(it.id) || L.downloads.fileOf(it.id); },
    open: function (it) {
      var file = item.fileOf(it);
      if (!file) { L.toast("这个作品还没有可打开的文件"); return; }
      L.send("exec", file);
    },
    download: function (it) {
      // A book of an OPDS catalogue needs no one signed in.
      if (it.opds) {
        if (it.DLurl && L.send("opds", item.downText(it))) L.downloads.started(it);
        return;
      }
      if (!needUser("下载")) return;
      if (!it.DLurl) { L.toast("这个作品没有下载地址"); return; }
      if (L.send("down", item.downText(it))) L.downloads.started(it);
    },
    // The text of "down" for |it| as the view shows it now (null when it does not fit).
    downText: function (it) {
      if (it.opds) return M.opdsTexts.down(it.opds.catalogue, it.DLurl, it.name, it.id);
      var s = source(it);
      return T.down(s.catalogue, s.group, it.id, it.DLurl);
    },
    // The command that downloads |it|.
    downCommand: function (it) { return it.opds ? "opds" : "down"; },
    needUser: needUser,
    favourite: function (it) {
      if (it.opds) { L.toast("OPDS 目录的作品不能收藏"); return; }
      if (!needUser("收藏")) return;
      var s = source(it);
      if (L.send("addfav", T.itemRef(s.catalogue, s.group, it.id))) {
        L.account.markFav(it.id);
        L.toast("已加入 我的收藏");
      }
    },
    markRead: function (it) {
      if (!needUser("标为已读")) return;
      var s = source(it);
      if (L.send("read", T.itemRef(s.catalogue, s.group, it.id))) {
        L.account.markRead(it.id);
        L.toast("已加入 已阅读");
      }
    },
    buy: function (it) {
      if (!/^https?:\/\//i.test(it.BYurl)) { L.toast("这个作品没有购买地址"); return; }
      L.send("exec", it.BYurl);
      L.toast("完成购买后可导入", {action: {label: "导入已购", run: L.account.importBought}});
    },
    share: function (it, site) { L.send("分享", T.share(site, it.name || it.id)); },
    canRemove: function () {
      var v = L.state.view;
      return !!v && (v.local || !!v.shelfGroup);
    },
    remove: function (it) {
      if (!item.canRemove()) { L.toast("书库里的作品不能删除；可以删除书架和本地文件里的作品"); return; }
      var s = source(it);
      var text = T.itemRef(s.catalogue, s.group, it.id);
      if (text === null) { L.send("Del", text); return; }  // told as too long
      if (removals.has(it.id)) return;
      var toast = null;
      removals.set(it.id, {timer: setTimeout(function () { toast.remove(); commitRemoval(it.id); }, 6000),
        send: function () {
          if (!L.send("Del", text)) return;
          L.downloads.forget(it.id);
          setTimeout(L.refreshView, 300);
        }});
      toast = L.toast("已从书架删除“" + (it.name || it.id) + "”", {stay: true, action: {label: "撤销", run: function () {
        var r = removals.get(it.id);
        if (r) { clearTimeout(r.timer); removals.delete(it.id); }
        L.refreshView();
      }}, onclose: function () { commitRemoval(it.id); }});
      item.closeDrawer();
      L.refreshView();
    },
    removing: function (id) { return removals.has(id); },
    // The glyph of the item's category on a generated cover ("书" where it is not known).
    glyphOf: function (it) {
      if (it.opds) return M.isOpdsNavigation(it) ? "▦" : "书";
      var key = categoryOf(it);
      if (key === "local") return M.LOCAL.glyph;
      var c = M.CATEGORIES.filter(function (x) { return x.key === key; })[0];
      return c ? c.glyph : "书";
    },
    // What the main action of a card does: "retry", "resume", "read", "buy", "download"
    // or "".
    mainKind: function (it) {
      return M.mainActionOf(it, L.downloads.get(it.id), {file: item.fileOf(it),
        downloaded: L.account.isDone(it.id), bought: L.account.isBought(it.id)});
    },
    // The main action of a card: 重试 / 继续 / 阅读 / 购买 / 下载.
    mainAction: function (it) {
      if (!it) return null;
      if (M.isOpdsNavigation(it)) return ["打开", function () { L.opds.openNav(it); }];
      var kind = item.mainKind(it);
      if (kind === "retry") return ["重试", function () { L.downloads.resume(it.id); }];
      if (kind === "resume") return ["继续", function () { L.downloads.resume(it.id); }];
      if (kind === "read") return ["阅读", function () { item.open(it); }];
      if (kind === "buy") return ["购买", function () { item.buy(it); }];
      if (kind === "download") return ["下载", function () { item.download(it); }];
      return null;
    },
    menuEntries: function (it) {
      if (M.isOpdsNavigation(it)) return [["打开", function () { L.opds.openNav(it); }]];
      var dl = L.downloads.get(it.id);
      var state = dl ? dl.state : "";
      var file = item.fileOf(it);
      var bought = L.account.isBought(it.id);
      var list = [["阅读 / 打开", function () { item.open(it); }, !!file]];
      if (state === "running") list.push(["暂停下载", function () { L.downloads.pause(it.id); }]);
      else if (state === "waiting" || state === "queued") list.push(["取消下载", function () { L.downloads.cancel(it.id); }]);
      else if (state === "paused") list.push(["继续下载", function () { L.downloads.resume(it.id); }]);
      else if (state === "failed") list.push(["重试下载", function () { L.downloads.resume(it.id); }]);
      // A downloaded item is opened, never downloaded again.
      else if (state !== "done" && !file && !L.account.isDone(it.id))
        list.push(["下载", function () { item.download(it); }, !!it.DLurl]);
      // An OPDS book is fetched and read; the shelf's other commands are not its.
      if (it.opds) return list;
      list.push(["收藏", function () { item.favourite(it); }], ["标为已读", function () { item.markRead(it); }]);
      if (!bought) list.push(["购买", function () { item.buy(it); }, M.isPaid(it) && !!it.BYurl]);
      list.push("-");
      M.SHARE_SITES.forEach(function (site) { list.push(["分享到 " + site, function () { item.share(it, site); }]); });
      if (item.canRemove()) list.push("-", ["从书架删除", function () { item.remove(it); }]);
      return list;
    },
    menuAt: function (it, x, y) { L.menu(item.menuEntries(it), x, y); },
    openDrawer: function (it) {
      if (M.isOpdsNavigation(it)) { L.opds.openNav(it); return; }
      var d = L.$("drawer");
      d.textContent = "";
      var cover = h("div", {class: "cover"});
      var url = M.coverUrl(it.photo);
      if (url) cover.appendChild(h("img", {alt: "", src: url}));
      var price = M.priceLabel(it, L.account.isBought(it.id));
      d.appendChild(h("button", {type: "button", class: "link close", text: "✕ 关闭", onclick: item.closeDrawer}));
      d.appendChild(cover);
      d.appendChild(h("h2", {text: it.name || it.id}));
      if (it.opds) d.appendChild(h("dl", {}, [h("dt", {text: "作者"}), h("dd", {text: it.opds.authors || "—"}),
        h("dt", {text: "更新"}), h("dd", {text: it.date || "—"}), h("dt", {text: "格式"}),
        h("dd", {text: it.opds.formats || "—"})]));
      if (it.opds && it.opds.summary) d.appendChild(h("p", {class: "summary", text: it.opds.summary}));
      if (!it.opds) d.appendChild(h("dl", {}, [h("dt", {text: M.dateLabel(categoryOf(it))}), h("dd", {text: it.date || "—"}),
        h("dt", {text: "价格"}), h("dd", {text: price.text}), h("dt", {text: "分组"}), h("dd", {text: it.group}),
        h("dt", {text: "编号"}), h("dd", {text: it.id})]));
      var acts = h("div", {class: "acts"});
      item.menuEntries(it).forEach(function (e) {
        if (e === "-") return;
        acts.appendChild(h("button", {type: "button", text: e[0], disabled: e[2] === false, onclick: e[1]}));
      });
      d.appendChild(acts);
      L.openPanel("drawer", {noFocus: true, onclose: function () { d.textContent = ""; }});
    },
    closeDrawer: function () { L.closePanel("drawer"); }
  };
  L.item = item;
})(window.Lumora);
