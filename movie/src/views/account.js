// Sign-in ("logon", answered by UserName, UserPass and UserID) and the personal shelf:
// the user shelf file in the program folder.
(function (L) {
  "use strict";
  var M = L.model;
  var fav = new Set(), bought = new Set();
  var done = new Map();  // id -> the downloaded file (RDurl) in "已下载"
  var waiting = false, timer = null;
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
    // The host's answer: UserPass is the last of the login variables it sets.
    onVariable: function (name, value) {
      if (name !== "UserPass") return;
      clearTimeout(timer);
      busy(false);
      if (value === "true") {
        L.state.signedIn = true;
        L.state.user = lumora.get("UserName");
        L.$("btn-account").textContent = L.state.user;
        hidePassword();
        L.closePanel("signin");
        L.toast("欢迎，" + L.state.user);
        account.loadShelf();
        if (L.state.view && L.state.view.shelfGroup) L.refreshView();
      } else {
        alertText("用户名或密码错误");
        hidePassword();
        if (!L.$("signin").hidden) L.$("signin-pass").focus();
      }
    },
    loadShelf: function () {
      if (!L.state.signedIn) return Promise.resolve();
      return L.readCatalogue("current", M.shelfFile(L.state.user)).then(function (cat) {
        if (cat) account.noteShelf(cat);
      });
    },
    noteShelf: function (cat) {
      fav = new Set(); bought = new Set(); done = new Map();
      cat.groups.forEach(function (g) {
        g.items.forEach(function (it) {
          if (g.id === "我的收藏") fav.add(it.id);
          if (g.id === "已购买") bought.add(it.id);
          if (g.id === "已下载") done.set(it.id, it.RDurl);
          if (g.id === "正在下载") L.downloads.known(it);
        });
      });
    },
    isFav: function (id) { return fav.has(id); },
    isDone: function (id) { return done.has(id); },
    // The downloaded file of an item in "已下载" ("" none).
    fileOf: function (id) { return done.get(id) || ""; },
    isBought: function (id) { return bought.has(id); },
    markFav: function (id) { fav.add(id); L.grid.refreshItem(id); },
    importBought: function () {
      if (!L.state.signedIn) { account.open(); return; }
      L.send("yigoumai", "");
      L.toast("正在导入已购…");
      setTimeout(function () { account.loadShelf().then(L.refreshView); }, 1500);
    }
  };
  L.account = account;
})(window.Lumora);
