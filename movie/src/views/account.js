// Sign-in ("logon", answered by UserName, UserPass and UserID) and the personal shelf:
// the user shelf file in the program folder.
(function (L) {
  "use strict";
  var M = L.model;
  var fav = new Set(), bought = new Set(), read = new Set();
  var done = new Map();  // id -> the downloaded file (RDurl) in "已下载"
  var waiting = false, timer = null;
  // The import of the purchases under way: {before: the ids "已购买" held, timer, toast}.
  var importing = null;
  // Set while the movie itself says that nobody is signed in any more.
  var leaving = false;
  L.state.signedIn = false;
  L.state.user = "";

  function busy(on) {
    waiting = on;
    L.$("signin-name").disabled = on;
    L.$("signin-pass").disabled = on;
    L.$("signin-submit").disabled = on;
    L.$("signin-submit").textContent = on ? "正在登录…" : "登录";
  }
  function hidePassword() {
    L.$("signin-pass").value = "";
    L.$("signin-pass").type = "password";
    L.$("signin-show").textContent = "显示";
  }
  function importBusy(on) {
    L.$("btn-import").disabled = on;
    L.$("btn-import").textContent = on ? "正在导入…" : "导入已购";
  }
  // The end of an import: the shelf read again and what it brought told, or the failure.
  function imported(ok) {
    var was = importing;
    if (!was) return;
    clearTimeout(was.timer);
    was.toast.remove();
    importing = null;
    importBusy(false);
    var failed = function (why) {
      L.toast("导入已购失败：" + why, {error: true, action: {label: "重试", run: account.importBought}});
    };
    if (ok === null) { failed("服务器没有回应"); return; }
    if (!ok) { failed("商店没有给出已购列表，或书架无法保存"); return; }
    L.readCatalogue("current", M.shelfFile(L.state.user)).then(function (cat) {
      if (!L.state.signedIn) return;
      if (!cat) { failed("书架无法读取"); return; }
      account.noteShelf(cat);
      L.toast(M.importedText(M.purchasesBrought(was.before, cat)));
      L.refreshView();
    });
  }
  function alertText(text) {
    var a = L.$("signin-alert");
    a.textContent = text;
    a.hidden = !text;
  }

  var account = {
    init: function () {
      L.$("btn-account").addEventListener("click", account.open);
      L.$("signin-form").addEventListener("submit", function (e) { e.preventDefault(); account.submit(); });
      L.$("signin-show").addEventListener("click", function () {
        var p = L.$("signin-pass");
        p.type = p.type === "password" ? "text" : "password";
        L.$("signin-show").textContent = p.type === "password" ? "显示" : "隐藏";
      });
      L.$("btn-import").addEventListener("click", account.importBought);
      L.$("btn-signout").addEventListener("click", account.signOut);
    },
    open: function () {
      L.$("signin-form").hidden = L.state.signedIn;
      L.$("signed-in").hidden = !L.state.signedIn;
      L.$("signed-in-name").textContent = L.state.signedIn ? "欢迎，" + L.state.user : "";
      L.togglePanel("signin");
    },
    submit: function () {
      if (waiting) return;
      var name = L.$("signin-name").value.trim(), pass = L.$("signin-pass").value;
      if (!name || !pass) { alertText("请输入用户名和密码"); return; }
      var text = M.texts.logon(name, pass);
      if (text === null) { alertText("用户名或密码过长，或含有“|”"); return; }
      alertText("");
      busy(true);
      L.send("logon", text);
      // Sent: the field gives the password up at once, and shows it no more.
      hidePassword();
      clearTimeout(timer);
      timer = setTimeout(function () {
        if (waiting) { busy(false); alertText("服务器没有回应，请重试"); }
      }, 15000);
    },
    // The host's answers: UserPass is the last of the login variables it sets;
    // RetValYigoumai ends an import of the purchases.
    onVariable: function (name, value) {
      if (name === "RetValYigoumai") { imported(value === "true"); return; }
      if (name !== "UserPass" || leaving) return;
      clearTimeout(timer);
      busy(false);
      if (value === "true") {
        L.state.signedIn = true;
        L.state.user = lumora.get("UserName");
        L.$("btn-account").textContent = L.state.user;
        hidePassword();
        L.closePanel("signin");
        L.toast("欢迎，" + L.state.user);
        // The purchases come with the sign-in: the shelf as it was, then the import.
        account.loadShelf().then(function () { if (L.state.signedIn) account.importBought(); });
        if (L.state.view && L.state.view.shelfGroup) L.refreshView();
      } else {
        alertText("用户名或密码错误");
        hidePassword();
        if (!L.$("signin").hidden) L.$("signin-pass").focus();
      }
    },
    // Reads the user's shelf again: the ids of the items whose marks (favourite, bought,
    // read, downloaded and where) changed; none when no one is signed in.
    loadShelf: function () {
      if (!L.state.signedIn) return Promise.resolve(new Set());
      return L.readCatalogue("current", M.shelfFile(L.state.user)).then(function (cat) {
        return cat ? account.noteShelf(cat) : new Set();
      });
    },
    // Takes the marks of the shelf |cat|: the ids whose marks changed.
    noteShelf: function (cat) {
      var before = {fav: fav, bought: bought, done: done, read: read};
      fav = new Set(); bought = new Set(); done = new Map(); read = new Set();
      cat.groups.forEach(function (g) {
        g.items.forEach(function (it) {
          if (g.id === M.SHELF.fav) fav.add(it.id);
          if (g.id === M.SHELF.bought) bought.add(it.id);
          if (g.id === M.SHELF.read) read.add(it.id);
          if (g.id === M.SHELF.done) done.set(it.id, it.RDurl);
          if (g.id === M.SHELF.running) L.downloads.known(it);
        });
      });
      var changed = new Set();
      [[before.fav, fav], [before.bought, bought], [before.read, read]].forEach(function (pair) {
        pair[0].forEach(function (id) { if (!pair[1].has(id)) changed.add(id); });
        pair[1].forEach(function (id) { if (!pair[0].has(id)) changed.add(id); });
      });
      before.done.forEach(function (file, id) { if (done.get(id) !== file) changed.add(id); });
      done.forEach(function (file, id) { if (before.done.get(id) !== file) changed.add(id); });
      return changed;
    },
    isFav: function (id) { return fav.has(id); },
    isDone: function (id) { return done.has(id); },
    // The downloaded file of an item in "已下载" ("" none).
    fileOf: function (id) { return done.get(id) || ""; },
    isRead: function (id) { return read.has(id); },
    isBought: function (id) { return bought.has(id); },
    markFav: function (id) { fav.add(id); L.grid.refreshItem(id); },
    markRead: function (id) { read.add(id); L.grid.refreshItem(id); },
    importBought: function () {
      if (!L.state.signedIn) { account.open(); return; }
      if (importing) return;
      var before = new Set(bought);
      if (!L.send("yigoumai", "")) return;
      importing = {before: before, timer: setTimeout(function () { imported(null); }, 15000),
                   toast: L.toast("正在导入已购…", {stay: true})};
      importBusy(true);
    },
    // The host keeps no sign-out of its own: the movie forgets the user and tells the
    // host, which reads UserPass back as the sign that someone is signed in.
    signOut: function () {
      if (!L.state.signedIn) return;
      if (importing) {
        clearTimeout(importing.timer);
        importing.toast.remove();
        importing = null;
        importBusy(false);
      }
      L.state.signedIn = false;
      L.state.user = "";
      fav = new Set(); bought = new Set(); done = new Map(); read = new Set();
      leaving = true;
      try { lumora.set("UserPass", "false"); } finally { leaving = false; }
      L.$("btn-account").textContent = "登录";
      L.closePanel("signin");
      alertText("");
      L.batch.signedOut();
      L.toast("已退出登录");
      L.refreshView();
    }
  };
  L.account = account;
})(window.Lumora);
